#pragma once

#include <QPointF>
#include <QWidget>

#include <functional>

class QPainter;

namespace bopling {

// A transparent layer above the page that, while shown, takes every click on
// the panel and drags it. Points are in global coordinates with y upwards,
// like the panel's frame. Created hidden; the controller shows it while the
// panel may be moved. Main thread only.
class DragView final : public QWidget
{
    Q_OBJECT

public:
    explicit DragView(QWidget *parent = nullptr);

    // Every drag movement: the pointer location and the grab offset (the
    // pointer's offset from the panel's origin when the button went down).
    std::function<void(QPointF location, QPointF grab)> onDrag;
    // The button was released.
    std::function<void()> onEnd;

    bool isDragging() const { return dragging; }
    // The pointer in global coordinates with y upwards.
    static QPointF pointerLocation();
    // A point in Qt's global coordinates with y upwards.
    static QPointF storedLocation(QPointF qtPoint);

    // A drag the panel's layer surface reports, in the same steps as the
    // mouse's here: the button went down at `location` over a panel whose
    // origin is `panelOrigin`, the pointer moved, the button came up.
    void pressAt(QPointF location, QPointF panelOrigin);
    void dragTo(QPointF location);
    void release();

    // The fill and the dashed border over `bounds`.
    static void paintFrame(QPainter &painter, const QRectF &bounds);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool dragging = false;
    QPointF grab;
};

} // namespace bopling
