#pragma once

#include "overlay/LayerPlacement.h"

#include <QObject>
#include <QPointF>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>

class QPainter;

namespace bopling {

// The panel as a surface in the compositor's top layer, on a Wayland
// connection of Bopling's own (the rest of the program talks X11 through
// XWayland). Compositors that offer the layer shell put such a surface on
// every workspace, in its corner or along its edge, and below full-screen
// windows; with an empty input region every click goes to the window below.
// The picture is drawn into shared-memory buffers when the content says it
// changed and the compositor asked for a frame; a surface nobody sees costs
// nothing. Main thread only.
class LayerPanel final : public QObject
{
    Q_OBJECT

public:
    struct Connection;

    // The panel on the compositor named by WAYLAND_DISPLAY, or none when it
    // is not set, cannot be reached or offers no layer shell.
    static std::unique_ptr<LayerPanel> connect();
    ~LayerPanel() override;

    LayerPanel(const LayerPanel &) = delete;
    LayerPanel &operator=(const LayerPanel &) = delete;

    // Draws the panel's content with the painter in surface coordinates
    // (the painter's device has `scale` pixels per unit). Set once.
    std::function<void(QPainter &painter, double scale)> paintContent;
    // The content changed: it is drawn again at the next frame.
    void contentChanged();

    // The panel's frame in Qt's global coordinates, on the screen named
    // `screen` whose visible area is `visibleArea`.
    void setGeometry(const QRect &frame, const QRect &visibleArea, bool strip,
                     const QString &screen);
    // Click-through: an empty input region and no keyboard. Otherwise the
    // panel takes the pointer and, once clicked, the keyboard: the surface
    // then spans the output and the panel is drawn at its place in it, so a
    // drag moves the picture, never the surface under the pointer (whose
    // coordinates compositors report in different ways while a button is
    // held), and a press beside the panel is seen (it goes no further).
    void setClickThrough(bool clickThrough);
    void show();
    void hide();
    bool isShown() const { return shown; }

    // While it takes the pointer: whether the pointer is over the panel.
    bool pointerInside() const;

    // The pointer's button went down, moved while down and came up, with the
    // pointer in Qt's global coordinates.
    std::function<void(QPointF)> onPress;
    std::function<void(QPointF)> onMotion;
    std::function<void()> onRelease;
    // Escape was pressed while the panel had the keyboard.
    std::function<void()> onEscape;
    // While it takes the pointer: a press beside the panel, or the keyboard
    // went from the panel to another window.
    std::function<void()> onClickElsewhere;

private:
    explicit LayerPanel(std::unique_ptr<Connection> connection);

    struct Buffer;

    void createSurface();
    void destroySurface();
    void applyState();
    void setInputRegion();
    // Where the panel's picture goes in the surface.
    QPoint pictureOffset() const;
    void drawIfDue();
    Buffer *freeBuffer(QSize pixels);
    void flush();
    void dispatch();
    void connectionLost();
    QPointF globalPoint(double x, double y) const;

    // The listeners of the Wayland objects call back into these.
    friend struct LayerPanelListeners;
    void configured(unsigned serial, unsigned width, unsigned height);
    void closed();
    void frameDone();
    void pointerEntered(bool ours, double x, double y);
    void pointerLeft();
    void pointerMoved(double x, double y);
    void buttonChanged(bool pressed);
    void keyPressed(unsigned key);
    void keyboardEntered(bool ours);
    void keyboardLeft(bool ours);
    void seatChanged(unsigned capabilities);

    std::unique_ptr<Connection> wayland;
    std::unique_ptr<Buffer> buffers[2];
    QRect frame;
    QRect visibleArea;
    LayerPlacement placement;
    QString screenName;
    bool clickThrough = true;
    bool shown = false;
    bool configuredOnce = false;
    QSize configuredSize;
    bool dirty = true;
    bool framePending = false;
    bool overSurface = false;
    bool pressed = false;
    bool keyboardOurs = false;
    QPointF pointer;
};

} // namespace bopling
