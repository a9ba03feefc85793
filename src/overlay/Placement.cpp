#include "overlay/Placement.h"

#include "settings/Settings.h"

#include <algorithm>
#include <cmath>

namespace bopling {

quint32 screenNumber(const QString &name)
{
    if (name.isEmpty())
        return 0;
    quint32 hash = 2166136261u;
    for (const char byte : name.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 16777619u;
    }
    return hash;
}

QSizeF cornerPresetSize(int cornerSize)
{
    // Indexed by the stored value; "Tiny" came last and took the next number.
    static constexpr QSizeF kPresets[] = {{480, 360}, {640, 480}, {800, 600}, {360, 270}};
    return kPresets[std::clamp(cornerSize, 0, 3)];
}

double stripHeight(int stripSize)
{
    static constexpr double kHeights[] = {240, 360, 160};
    return kHeights[std::clamp(stripSize, 0, 2)];
}

std::optional<ScreenInfo> targetScreen(const Settings &settings, const QList<ScreenInfo> &screens)
{
    if (screens.isEmpty())
        return std::nullopt;
    if (const auto saved = settings.savedScreen(settings.layout())) {
        for (const ScreenInfo &screen : screens) {
            if (screen.number == *saved)
                return screen;
        }
    }
    return screens.first();
}

QSizeF panelSize(const Settings &settings, const ScreenInfo &screen)
{
    if (settings.layout() == Layout::strip) {
        // An even width keeps the page's 2× pixel grid whole.
        const double width = 2 * std::floor(screen.visibleFrame.width / 2);
        return {width, stripHeight(settings.stripSize())};
    }
    return cornerPresetSize(settings.cornerSize());
}

Frame clampFrame(bool strip, const Frame &frame, const Frame &visible)
{
    Frame clamped = frame;
    if (strip) {
        clamped.x = visible.x;
    } else {
        clamped.x = std::min(std::max(frame.x, visible.x),
                             std::max(visible.x, visible.maxX() - frame.width));
    }
    clamped.y =
        std::min(std::max(frame.y, visible.y), std::max(visible.y, visible.maxY() - frame.height));
    return clamped;
}

Frame panelFrame(const Settings &settings, const ScreenInfo &screen)
{
    const Frame &visible = screen.visibleFrame;
    const QSizeF size = panelSize(settings, screen);
    const Layout layout = settings.layout();
    const bool strip = layout == Layout::strip;

    Frame frame{visible.x, visible.y, size.width(), size.height()};
    if (const auto offset = settings.savedPosition(layout, screen.number)) {
        frame.x = visible.x + offset->x();
        frame.y = visible.y + offset->y();
    } else if (!strip) {
        const Corner corner = settings.corner();
        const bool left = corner == Corner::topLeft || corner == Corner::bottomLeft;
        const bool top = corner == Corner::topLeft || corner == Corner::topRight;
        frame.x = left ? visible.x + kCornerMargin : visible.maxX() - frame.width - kCornerMargin;
        frame.y = top ? visible.maxY() - frame.height - kCornerMargin : visible.y + kCornerMargin;
    }
    return clampFrame(strip, frame, visible);
}

Frame frameFromQt(const QRectF &qtRect, const QRectF &primary)
{
    // Qt's global origin need not be the primary screen's top left (X11 puts it
    // at the top left of the whole desktop), so measure from the primary screen.
    return {qtRect.x() - primary.x(), primary.y() + primary.height() - qtRect.y() - qtRect.height(),
            qtRect.width(), qtRect.height()};
}

QRectF frameToQt(const Frame &frame, const QRectF &primary)
{
    return {primary.x() + frame.x, primary.y() + primary.height() - frame.y - frame.height,
            frame.width, frame.height};
}

bool coversScreen(const QRect &window, const QRect &screen, double ratio)
{
    // The rounding may put the far edges up to half a point beyond the device
    // pixels the screen really has.
    const double slack = ratio / 2;
    const QRectF inPixels(QPointF(screen.topLeft()),
                          QSizeF(screen.width() * ratio - slack, screen.height() * ratio - slack));
    return QRectF(window).contains(inPixels);
}

} // namespace bopling
