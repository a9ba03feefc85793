#pragma once

#include "overlay/Placement.h"

#include <QWidget>

#include <deque>
#include <functional>
#include <memory>

namespace bopling {

class LayerPanel;

// The floating panel that carries the scene: frameless, translucent, always on
// top, on every desktop, out of task bars and pagers, never taking focus, and
// letting clicks through until moving is allowed. Its frame is read and set in
// global coordinates with y upwards (Placement.h). Main thread only.
class OverlayPanel final : public QWidget
{
    Q_OBJECT

public:
    // The window level reported for the panel: it floats above normal windows.
    static constexpr int kFloatingLevel = 3;

    OverlayPanel();
    ~OverlayPanel() override;

    // Makes `content` the panel's only child, filling it and resizing with it.
    void setContentView(QWidget *content);
    QWidget *contentView() const { return content; }

    Frame frame() const;
    void setFrame(const Frame &frame);

    // Click-through: true lets every click pass to the windows below. Switched
    // at run time on the same native window.
    bool ignoresMouseEvents() const;
    void setIgnoresMouseEvents(bool ignores);

    // Shows the panel above other windows without activating the application.
    void orderFrontRegardless();
    // Whether the panel stays above other windows now: not while one of
    // Bopling's own windows (the creature window, a chooser, a message) is
    // open, so that it never covers them.
    bool floatsOnTop() const { return !ownWindowsOpen; }
    // Takes the panel off screen; orderFrontRegardless() brings it back as it was.
    void orderOut();

    // The window's opacity, 0 to 1 (visible where a compositing manager runs).
    double alphaValue() const;
    void setAlphaValue(double alpha);

    // From now on the panel is shown by `layer`, a surface of the
    // compositor's own, and this window stays unmapped: it keeps the frame.
    void presentOnLayer(std::unique_ptr<LayerPanel> layer);
    LayerPanel *layerPanel() const { return layer.get(); }
    // Shown on screen, by this window or by the layer surface.
    bool onScreen() const;
    // Whether the pointer at `pointer` (Qt's global coordinates) is over the
    // panel. A layer surface knows only while it takes the pointer.
    bool pointerInside(QPoint pointer) const;

    // The panel was moved by someone else than setFrame(), the window manager
    // for instance.
    std::function<void()> onMovedElsewhere;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // Drops the always-on-top state while another window of the program is
    // shown, and takes it back once none is.
    void followOwnWindows();
    // A shown window of the program that the window manager frames.
    bool isOwnWindow(const QWidget *window) const;

    QWidget *content = nullptr;
    std::unique_ptr<LayerPanel> layer;
    bool ownWindowsOpen = false;
    bool clickThrough = true;
    // The input shape is to be set again at the next expose.
    bool inputShapePending = false;
    bool shownBefore = false;
    // Frames asked for by setFrame() whose move has not been reported yet:
    // the window system reports moves later, and possibly several at once.
    std::deque<QPoint> requested;
};

} // namespace bopling
