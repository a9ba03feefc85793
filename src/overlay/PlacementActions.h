#pragma once

#include "overlay/Placement.h"

#include <functional>

namespace bopling {

class Settings;

// The placement actions of the application controller (layout, corner, size,
// snap back, screens changed) over a panel it reaches only through call-backs,
// so that the rules run without a display. Main thread only.
class PlacementActions final
{
public:
    struct Panel
    {
        // The attached screens in the system's order, primary first.
        std::function<QList<ScreenInfo>()> screens;
        // The panel's current frame, and setting it (move, resize, redisplay).
        std::function<Frame()> frame;
        std::function<void(const Frame &)> setFrame;
        // Called after a placement that changed the panel's width or height.
        std::function<void()> sizeChanged;
    };

    PlacementActions(Settings &settings, Panel panel);

    // Tag 0 is the corner layout, any other the strip.
    void setLayout(int tag);
    // Tags 0…3 are topLeft, topRight, bottomLeft, bottomRight; any other tag
    // counts as bottomRight, as a stored corner that names none of them does.
    // Forgets every hand-placed corner position on every screen.
    void setCorner(int tag);
    // Stores the size value for the current layout, unchanged (readers clamp).
    void setSize(int tag);
    // Forgets the current layout's hand-placed positions.
    void snapToPreset();
    // Puts the panel on its screen at its size and position; without any
    // screen the panel keeps its frame.
    void applyPlacement();

    // A drag step: the panel's origin goes to `location` − `grab`, on the
    // screen under `location`, kept inside that screen's visible frame; a
    // strip takes that screen's width and moves only up and down. A location
    // over no screen goes to the layout's screen; without any, nothing moves.
    void drag(QPointF location, QPointF grab);
    // The end of a drag: stores the panel's offset on the screen under its
    // centre for the current layout, then places it again from that.
    void dragEnded();
    // The end of a move by the window manager, the pointer at `pointer`. A move
    // that carried the panel under the pointer ends as a hand drag to there
    // would, on the pointer's screen; any other on the screen under its centre.
    void windowManagerMoveEnded(QPointF pointer);

private:
    // The first screen holding `point`, else the layout's target screen.
    std::optional<ScreenInfo> screenAt(QPointF point, const QList<ScreenInfo> &screens) const;
    void setFrame(const Frame &frame);

    Settings &settings;
    Panel panel;
};

} // namespace bopling
