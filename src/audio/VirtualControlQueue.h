#pragma once

#include "audio/ControlQueue.h"

#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace bopling {

// A control queue in virtual time for tests: nothing runs until the test calls
// runPending() or advance(), and then everything runs on the test's thread.
// Time starts at 1,000,000 ms so that "now - 60 s" stays positive.
class VirtualControlQueue final : public ControlQueue
{
public:
    Millis now() const override;
    void post(Task task) override;
    TimerId postAfter(Millis delay, Task task) override;
    void cancel(TimerId id) override;
    void finish() override;

    // Runs every task that is due now, including ones they post.
    void runPending();
    // Moves the clock forward step by step to each timer due within `delay`,
    // running what is due at every step, and ends `delay` later than it started.
    void advance(Millis delay);
    // Time until the earliest pending timer; none when no timer is pending.
    std::optional<Millis> nextTimerIn() const;
    // Moves the clock to the earliest pending timer and runs what is due.
    // Returns false when no timer was pending.
    bool runNextTimer();

private:
    bool runOneDue();

    mutable std::mutex lock;
    Millis clock{1'000'000};
    std::map<std::pair<Millis, TimerId>, Task> tasks;
    TimerId nextId = 1;
    bool finished = false;
};

} // namespace bopling
