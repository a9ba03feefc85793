#pragma once

#include <QRect>

namespace bopling {

// Where a layer surface goes for a panel frame: the edges it keeps to and its
// distances from them. The compositor counts those within the output's area
// that bars leave free, so a panel at the same spot relative to that area
// stays there when a bar comes or goes.
struct LayerPlacement
{
    // The layer shell's anchor bits.
    enum Anchor : unsigned { top = 1, bottom = 2, left = 4, right = 8 };

    unsigned anchor = 0;
    int marginTop = 0;
    int marginRight = 0;
    int marginBottom = 0;
    int marginLeft = 0;
    // Zero: stretched between the two opposite anchors.
    int width = 0;
    int height = 0;

    bool operator==(const LayerPlacement &) const = default;
};

// `frame` and `visibleArea` in Qt's global coordinates (y downwards). The
// strip keeps to the bottom, left and right edges and sits its distance above
// the bottom; a corner panel keeps to the corner nearest its centre, so it
// stays in its corner when the output's size changes.
LayerPlacement layerPlacement(bool strip, const QRect &frame, const QRect &visibleArea);

} // namespace bopling
