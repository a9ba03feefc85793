#include "overlay/HoverFade.h"

#include <QTimer>

#include <algorithm>
#include <chrono>

namespace bopling {

HoverFade::HoverFade(std::function<double()> clock, Panel panel)
    : clock(std::move(clock)), panel(std::move(panel))
{}

HoverFade::~HoverFade() = default;

double HoverFade::monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void HoverFade::update(bool fadeOnHover, bool hover, bool grab)
{
    double next = target;
    if (!fadeOnHover || grab) {
        outsideSince.reset();
        next = kNormalOpacity;
    } else if (hover) {
        outsideSince.reset();
        next = kHoveredOpacity;
    } else {
        const double now = clock();
        if (!outsideSince)
            outsideSince = now;
        // Until the delay is over the panel keeps whatever it was fading to.
        if (now - *outsideSince >= kLeaveDelaySeconds)
            next = kNormalOpacity;
    }
    if (next != target) {
        target = next;
        startFade(next);
    }
}

void HoverFade::startFade(double to)
{
    target = to;
    lastStep = clock();
    fadeTimer = std::make_unique<QTimer>();
    fadeTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(fadeTimer.get(), &QTimer::timeout, fadeTimer.get(), [this] { step(); });
    fadeTimer->start(kStepMilliseconds);
    step();
}

void HoverFade::step()
{
    if (!fadeTimer)
        return;
    const double now = clock();
    const double dt = now - lastStep;
    lastStep = now;
    const double from = panel.opacity();
    const double to = target >= from ? std::min(from + dt * kFadeInRate, target)
                                     : std::max(from - dt * kFadeOutRate, target);
    panel.setOpacity(to);
    if (to == target) {
        // Usually called from the timer's own signal, so it goes later.
        QTimer *done = fadeTimer.release();
        done->stop();
        done->deleteLater();
    }
}

} // namespace bopling
