#include "overlay/PlacementActions.h"

#include "settings/Settings.h"

#include <utility>

namespace bopling {

PlacementActions::PlacementActions(Settings &settings, Panel panel)
    : settings(settings), panel(std::move(panel))
{}

void PlacementActions::setLayout(int tag)
{
    settings.setLayout(tag == 0 ? Layout::corner : Layout::strip);
    applyPlacement();
}

void PlacementActions::setCorner(int tag)
{
    const Corner corner = tag >= 0 && tag <= 3 ? static_cast<Corner>(tag) : Corner::bottomRight;
    settings.setCorner(corner);
    settings.clearPositions(Layout::corner);
    applyPlacement();
}

void PlacementActions::setSize(int tag)
{
    if (settings.layout() == Layout::strip)
        settings.setStripSize(tag);
    else
        settings.setCornerSize(tag);
    applyPlacement();
}

void PlacementActions::snapToPreset()
{
    settings.clearPositions(settings.layout());
    applyPlacement();
}

void PlacementActions::applyPlacement()
{
    if (const auto screen = targetScreen(settings, panel.screens()))
        setFrame(panelFrame(settings, *screen));
}

void PlacementActions::drag(QPointF location, QPointF grab)
{
    const auto screen = screenAt(location, panel.screens());
    if (!screen)
        return;
    const bool strip = settings.layout() == Layout::strip;
    Frame frame = panel.frame();
    if (strip)
        frame.width = panelSize(settings, *screen).width();
    frame.x = location.x() - grab.x();
    frame.y = location.y() - grab.y();
    setFrame(clampFrame(strip, frame, screen->visibleFrame));
}

void PlacementActions::dragEnded()
{
    const Frame frame = panel.frame();
    const QPointF centre(frame.x + frame.width / 2, frame.y + frame.height / 2);
    const auto screen = screenAt(centre, panel.screens());
    if (!screen)
        return;
    const Frame &visible = screen->visibleFrame;
    settings.savePosition(settings.layout(), screen->number, frame.x - visible.x,
                          frame.y - visible.y);
    applyPlacement();
}

void PlacementActions::windowManagerMoveEnded(QPointF pointer)
{
    const Frame frame = panel.frame();
    if (frame.contains(pointer))
        drag(pointer, pointer - QPointF(frame.x, frame.y));
    dragEnded();
}

std::optional<ScreenInfo> PlacementActions::screenAt(QPointF point,
                                                     const QList<ScreenInfo> &screens) const
{
    for (const ScreenInfo &screen : screens) {
        if (screen.frame.contains(point))
            return screen;
    }
    return targetScreen(settings, screens);
}

void PlacementActions::setFrame(const Frame &frame)
{
    const Frame before = panel.frame();
    panel.setFrame(frame);
    // Sizes compare as the whole pixels the panel can take.
    const auto pixels = [](const Frame &f) { return QSizeF(f.width, f.height).toSize(); };
    if (pixels(frame) != pixels(before) && panel.sizeChanged)
        panel.sizeChanged();
}

} // namespace bopling
