#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

namespace bopling {

// Paints the scene's picture in the panel: each picture pixel as a square of whole device
// pixels (`scale` of them, the nearest whole number below on fractional screens), nearest
// neighbour, from the top left corner; transparent wherever the picture is. Main thread.
class SceneView final : public QWidget
{
    Q_OBJECT
public:
    explicit SceneView(QWidget *parent = nullptr);

    // The picture, updated in place by the light host; `changed` in picture pixels.
    QImage &image() { return picture; }
    void pictureChanged(QRect changed);
    // The picture was replaced by one of another size.
    void pictureReplaced();
    // Called after each change of the picture, for a panel that shows it elsewhere.
    std::function<void()> onPictureChanged;

    // Paints the picture as the view does, for a device with `devicePixelRatio`.
    void paint(QPainter &painter, double devicePixelRatio) const;

    // Device pixels per picture pixel at this view's device pixel ratio.
    static int step(double scale, double devicePixelRatio);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRectF shown(QRectF pixels, double devicePixelRatio) const;

    QImage picture;
};

} // namespace bopling
