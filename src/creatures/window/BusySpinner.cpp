#include "creatures/window/BusySpinner.h"

#include <QPainter>
#include <QTimer>

namespace bopling {

namespace {

constexpr int kSpokes = 12;
constexpr int kSide = 16;
constexpr int kStepMilliseconds = 80;

} // namespace

BusySpinner::BusySpinner(QWidget *parent) : QWidget(parent), timer(new QTimer(this))
{
    setFixedSize(kSide, kSide);
    connect(timer, &QTimer::timeout, this, [this] {
        step = (step + 1) % kSpokes;
        update();
    });
    hide();
}

void BusySpinner::startAnimation()
{
    timer->start(kStepMilliseconds);
    show();
}

void BusySpinner::stopAnimation()
{
    timer->stop();
    hide();
}

bool BusySpinner::isSpinning() const
{
    return timer->isActive();
}

QSize BusySpinner::sizeHint() const
{
    return {kSide, kSide};
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    QColor colour = palette().color(QPalette::WindowText);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at `step` is the darkest; the ones behind it fade out.
        const int age = (step - i + kSpokes) % kSpokes;
        colour.setAlphaF(1.0 - age / double(kSpokes) * 0.85);
        painter.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(i * 360.0 / kSpokes);
        painter.drawLine(QPointF(0, -kSide * 0.22), QPointF(0, -kSide * 0.44));
        painter.restore();
    }
}

} // namespace bopling
