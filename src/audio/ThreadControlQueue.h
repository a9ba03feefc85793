#pragma once

#include "audio/ControlQueue.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace bopling {

// A serial queue on a thread of its own, named after the queue (e.g. "qx.tap.ctl"),
// with timers on the monotonic clock.
class ThreadControlQueue final : public ControlQueue
{
public:
    explicit ThreadControlQueue(std::string name);
    ~ThreadControlQueue() override;

    Millis now() const override;
    void post(Task task) override;
    TimerId postAfter(Millis delay, Task task) override;
    void cancel(TimerId id) override;
    void finish() override;

private:
    void run();

    std::string name;
    std::mutex lock;
    std::condition_variable wake;
    // Ordered by due time, then by posting order; posted tasks are due at once.
    std::map<std::pair<Millis, TimerId>, Task> tasks;
    TimerId nextId = 1;
    bool finishing = false;
    std::thread thread;
};

} // namespace bopling
