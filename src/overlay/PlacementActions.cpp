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
    const auto screen = targetScreen(settings, panel.screens());
    if (!screen)
        return;
    const Frame frame = panelFrame(settings, *screen);
    const Frame before = panel.frame();
    panel.setFrame(frame);
    // Sizes compare as the whole pixels the panel can take.
    const auto pixels = [](const Frame &f) { return QSizeF(f.width, f.height).toSize(); };
    if (pixels(frame) != pixels(before) && panel.sizeChanged)
        panel.sizeChanged();
}

} // namespace bopling
