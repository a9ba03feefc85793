#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace bopling {

// A serial queue with one-shot timers and the clock they run on: AudioTap does all
// its control work here. ThreadControlQueue runs on a thread of its own;
// VirtualControlQueue runs on the caller's thread in virtual time, for tests.
class ControlQueue
{
public:
    using Task = std::function<void()>;
    using Millis = std::chrono::milliseconds;
    using TimerId = std::uint64_t;

    ControlQueue() = default;
    ControlQueue(const ControlQueue &) = delete;
    ControlQueue &operator=(const ControlQueue &) = delete;
    virtual ~ControlQueue() = default;

    // Monotonic time of this queue's clock.
    virtual Millis now() const = 0;
    // Runs `task` after every task posted before it. Callable from any thread.
    virtual void post(Task task) = 0;
    // Runs `task` once `delay` has passed on this queue's clock, unless cancelled.
    // Ids are never 0. Call from the queue itself.
    virtual TimerId postAfter(Millis delay, Task task) = 0;
    // Cancels a pending timer; unknown or fired ids are ignored. Call from the queue.
    virtual void cancel(TimerId id) = 0;
    // Runs the tasks already posted, drops pending timers and accepts no more
    // work. Blocks until the queue is idle. Call from outside the queue.
    virtual void finish() = 0;
};

} // namespace bopling
