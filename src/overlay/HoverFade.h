#pragma once

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace bopling {

// Fades the panel while the pointer rests on it: to 12 % opacity at once, and
// back to full opacity a quarter of a second after the pointer has left.
// Every step starts from the panel's actual opacity, so a fade reversed
// half-way goes on from where it was. Its step timer exists only while a fade
// runs. Main thread only.
class HoverFade final
{
public:
    static constexpr double kHoveredOpacity = 0.12;
    static constexpr double kNormalOpacity = 1.0;
    static constexpr double kLeaveDelaySeconds = 0.25;
    // Per second: the whole way in 0.3 s, out in 0.15 s.
    static constexpr double kFadeInRate = 2.9333333333333336;
    static constexpr double kFadeOutRate = 5.866666666666667;
    static constexpr int kStepMilliseconds = 16;

    struct Panel
    {
        std::function<double()> opacity;
        std::function<void(double)> setOpacity;
    };

    // `clock` gives monotonic seconds.
    HoverFade(std::function<double()> clock, Panel panel);
    ~HoverFade();
    HoverFade(const HoverFade &) = delete;
    HoverFade &operator=(const HoverFade &) = delete;

    // The hover tick: whether fading is on, the pointer is over the panel,
    // and the panel is grabbable (which keeps it fully visible).
    void update(bool fadeOnHover, bool hover, bool grab);
    // One step of the running fade; its timer calls it every 16 ms.
    void step();

    double fadeTarget() const { return target; }
    bool fading() const { return fadeTimer != nullptr; }

    // Monotonic seconds of the system clock.
    static double monotonicSeconds();

private:
    void startFade(double to);

    std::function<double()> clock;
    Panel panel;
    double target = kNormalOpacity;
    // When the pointer was first seen outside; none while not counting.
    std::optional<double> outsideSince;
    double lastStep = 0;
    std::unique_ptr<QTimer> fadeTimer;
};

} // namespace bopling
