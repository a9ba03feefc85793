#include "overlay/LayerPlacement.h"

namespace bopling {

LayerPlacement layerPlacement(bool strip, const QRect &frame, const QRect &visibleArea)
{
    LayerPlacement placed;
    // QRect's right() and bottom() are the last pixel inside; the distances
    // count from the edge past it.
    const int toBottom = visibleArea.y() + visibleArea.height() - (frame.y() + frame.height());
    placed.height = frame.height();
    if (strip) {
        placed.anchor = LayerPlacement::bottom | LayerPlacement::left | LayerPlacement::right;
        placed.marginBottom = toBottom;
        return placed;
    }
    placed.width = frame.width();
    const QPoint centre = frame.center();
    const QPoint middle = visibleArea.center();
    if (centre.x() < middle.x()) {
        placed.anchor |= LayerPlacement::left;
        placed.marginLeft = frame.x() - visibleArea.x();
    } else {
        placed.anchor |= LayerPlacement::right;
        placed.marginRight = visibleArea.x() + visibleArea.width() - (frame.x() + frame.width());
    }
    if (centre.y() < middle.y()) {
        placed.anchor |= LayerPlacement::top;
        placed.marginTop = frame.y() - visibleArea.y();
    } else {
        placed.anchor |= LayerPlacement::bottom;
        placed.marginBottom = toBottom;
    }
    return placed;
}

} // namespace bopling
