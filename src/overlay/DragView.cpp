#include "overlay/DragView.h"

#include "overlay/Placement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace bopling {

namespace {

constexpr double kFillAlpha = 0.05;
constexpr double kBorderAlpha = 0.6;
constexpr double kBorderInset = 3;
constexpr double kBorderRadius = 9;
constexpr double kBorderWidth = 1.5;
// Dash lengths in line widths: 6 and 5.1 points at a width of 1.5.
constexpr double kDashOn = 4;
constexpr double kDashOff = 3.4;

// A point in Qt's global coordinates as a point with y upwards.
QPointF storedPoint(QPointF qtPoint)
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    const Frame point = frameFromQt(QRectF(qtPoint, QSizeF(0, 0)),
                                    primary ? QRectF(primary->geometry()) : QRectF());
    return {point.x, point.y};
}

} // namespace

DragView::DragView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::OpenHandCursor);
}

QPointF DragView::pointerLocation()
{
    return storedPoint(QCursor::pos());
}

void DragView::mousePressEvent(QMouseEvent *event)
{
    dragging = true;
    QPointF origin;
    if (const QWidget *panel = window(); panel && panel != this) {
        const QRect area = panel->geometry();
        origin = storedPoint(QPointF(area.x(), area.y() + area.height()));
    }
    grab = storedPoint(event->globalPosition()) - origin;
    event->accept();
}

void DragView::mouseMoveEvent(QMouseEvent *event)
{
    if (onDrag)
        onDrag(pointerLocation(), grab);
    event->accept();
}

void DragView::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    if (onEnd)
        onEnd();
    event->accept();
}

void DragView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    painter.fillRect(bounds, QColor::fromRgbF(1, 1, 1, kFillAlpha));

    QPen pen(QColor::fromRgbF(1, 1, 1, kBorderAlpha), kBorderWidth);
    pen.setDashPattern({kDashOn, kDashOff});
    pen.setDashOffset(0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(
        bounds.adjusted(kBorderInset, kBorderInset, -kBorderInset, -kBorderInset), kBorderRadius,
        kBorderRadius);
}

} // namespace bopling
