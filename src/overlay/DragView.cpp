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

} // namespace

QPointF DragView::storedLocation(QPointF qtPoint)
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    const Frame point = frameFromQt(QRectF(qtPoint, QSizeF(0, 0)),
                                    primary ? QRectF(primary->geometry()) : QRectF());
    return {point.x, point.y};
}

DragView::DragView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::OpenHandCursor);
}

QPointF DragView::pointerLocation()
{
    return storedLocation(QCursor::pos());
}

void DragView::pressAt(QPointF location, QPointF panelOrigin)
{
    dragging = true;
    grab = location - panelOrigin;
}

void DragView::dragTo(QPointF location)
{
    if (onDrag)
        onDrag(location, grab);
}

void DragView::release()
{
    dragging = false;
    if (onEnd)
        onEnd();
}

void DragView::mousePressEvent(QMouseEvent *event)
{
    QPointF origin;
    if (const QWidget *panel = window(); panel && panel != this) {
        const QRect area = panel->geometry();
        origin = storedLocation(QPointF(area.x(), area.y() + area.height()));
    }
    pressAt(storedLocation(event->globalPosition()), origin);
    event->accept();
}

void DragView::mouseMoveEvent(QMouseEvent *event)
{
    dragTo(pointerLocation());
    event->accept();
}

void DragView::mouseReleaseEvent(QMouseEvent *event)
{
    release();
    event->accept();
}

void DragView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintFrame(painter, rect());
}

void DragView::paintFrame(QPainter &painter, const QRectF &bounds)
{
    painter.setRenderHint(QPainter::Antialiasing);
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
