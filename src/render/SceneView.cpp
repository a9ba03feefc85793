#include "render/SceneView.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace bopling {

namespace {

// Picture pixels are two panel points each, as the configuration tells the page (scale:2).
constexpr double kScale = 2;

} // namespace

SceneView::SceneView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

int SceneView::step(double scale, double devicePixelRatio)
{
    return std::max(1, int(std::floor(scale * devicePixelRatio + 1e-6)));
}

QRectF SceneView::shown(QRectF pixels, double dpr) const
{
    const double k = step(kScale, dpr) / dpr;
    return {pixels.x() * k, pixels.y() * k, pixels.width() * k, pixels.height() * k};
}

void SceneView::pictureChanged(QRect changed)
{
    update(shown(changed, devicePixelRatioF()).toAlignedRect());
    if (onPictureChanged)
        onPictureChanged();
}

void SceneView::pictureReplaced()
{
    update();
    if (onPictureChanged)
        onPictureChanged();
}

void SceneView::paintEvent(QPaintEvent *event)
{
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.setClipRegion(event->region());
    paint(painter, devicePixelRatioF());
}

void SceneView::paint(QPainter &painter, double devicePixelRatio) const
{
    if (picture.isNull())
        return;
    // The window's background is cleared before painting; the picture's own transparency is
    // copied as it is.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(shown(picture.rect(), devicePixelRatio), picture);
}

} // namespace bopling
