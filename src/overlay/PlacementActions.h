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

private:
    Settings &settings;
    Panel panel;
};

} // namespace bopling
