#pragma once

#include <QImage>
#include <QWidget>

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

    // Device pixels per picture pixel at this view's device pixel ratio.
    static int step(double scale, double devicePixelRatio);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRectF shown(QRectF pixels) const;

    QImage picture;
};

} // namespace bopling
