#pragma once

#include <QList>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

namespace bopling {

class Settings;

// A rectangle in global screen coordinates as placement stores and computes
// them: points, origin at the lower left of the primary screen, y upwards.
// Only the Qt layer (OverlayPanel, DisplayList) converts to and from Qt's
// top-down coordinates.
struct Frame
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    // Edges included on the lower left, excluded on the upper right, so that
    // side-by-side screens never both hold a point.
    bool contains(QPointF point) const
    {
        return point.x() >= x && point.x() < maxX() && point.y() >= y && point.y() < maxY();
    }
    friend bool operator==(const Frame &, const Frame &) = default;
};

// One screen as placement sees it: its display number, its visible frame (the
// screen without panels and docks) and its whole frame, in the stored convention.
struct ScreenInfo
{
    quint32 number = 0;
    Frame visibleFrame;
    Frame frame;
};

// Corner margin: the panel keeps this many points from both edges of its corner.
inline constexpr double kCornerMargin = 16;

// The display number of a screen named `name`: the FNV-1a 32-bit hash of its
// UTF-8 bytes, 0 for an unnamed screen. Stable across runs and plug cycles, so
// saved positions find their screen again.
quint32 screenNumber(const QString &name);

// Preset panel size of a stored `cornerSize` (clamped to 0…3).
QSizeF cornerPresetSize(int cornerSize);

// Strip height of a stored `stripSize` (clamped to 0…2).
double stripHeight(int stripSize);

// The screen the current layout goes to: the saved screen when it is still
// attached, else the first of `screens` (the primary); none when `screens` is empty.
std::optional<ScreenInfo> targetScreen(const Settings &settings, const QList<ScreenInfo> &screens);

// The panel's size on `screen` for the current layout and size setting.
QSizeF panelSize(const Settings &settings, const ScreenInfo &screen);

// `frame` moved, not resized, so that it lies inside `visible`; a strip always
// starts at the visible frame's left edge. A frame larger than `visible` is
// pinned to its left and bottom edges.
Frame clampFrame(bool strip, const Frame &frame, const Frame &visible);

// Where the panel goes on `screen`: the saved hand-placed position for that
// screen when there is one, else the strip's or the corner's preset, clamped.
Frame panelFrame(const Settings &settings, const ScreenInfo &screen);

// Conversions at the Qt boundary. `primary` is the primary screen's geometry in
// Qt's global coordinates (origin top left, y downwards).
Frame frameFromQt(const QRectF &qtRect, const QRectF &primary);
QRectF frameToQt(const Frame &frame, const QRectF &primary);

// Whether `window`, in the pixels the window manager uses, covers the screen
// Qt reports at `screen` with `ratio` device pixels to a point. Qt scales a
// screen's size about its top-left corner, which stays in the window
// manager's pixels, and rounds the scaled size to whole points.
bool coversScreen(const QRect &window, const QRect &screen, double ratio);

} // namespace bopling
