#include "audio/VirtualControlQueue.h"

#include <algorithm>

namespace bopling {

ControlQueue::Millis VirtualControlQueue::now() const
{
    std::lock_guard guard(lock);
    return clock;
}

void VirtualControlQueue::post(Task task)
{
    std::lock_guard guard(lock);
    if (!finished)
        tasks.emplace(std::pair{Millis::min(), nextId++}, std::move(task));
}

ControlQueue::TimerId VirtualControlQueue::postAfter(Millis delay, Task task)
{
    std::lock_guard guard(lock);
    const TimerId id = nextId++;
    if (!finished)
        tasks.emplace(std::pair{clock + delay, id}, std::move(task));
    return id;
}

void VirtualControlQueue::cancel(TimerId id)
{
    std::lock_guard guard(lock);
    for (auto it = tasks.begin(); it != tasks.end(); ++it) {
        if (it->first.second == id) {
            tasks.erase(it);
            return;
        }
    }
}

void VirtualControlQueue::finish()
{
    // Posted work still runs, as on a real queue; timers are dropped.
    for (;;) {
        Task task;
        {
            std::lock_guard guard(lock);
            auto first = tasks.begin();
            if (first == tasks.end() || first->first.first != Millis::min())
                break;
            task = std::move(first->second);
            tasks.erase(first);
        }
        task();
    }
    std::lock_guard guard(lock);
    finished = true;
    tasks.clear();
}

bool VirtualControlQueue::runOneDue()
{
    Task task;
    {
        std::lock_guard guard(lock);
        auto first = tasks.begin();
        if (first == tasks.end() || first->first.first > clock)
            return false;
        task = std::move(first->second);
        tasks.erase(first);
    }
    task();
    return true;
}

void VirtualControlQueue::runPending()
{
    while (runOneDue()) {
    }
}

std::optional<ControlQueue::Millis> VirtualControlQueue::nextTimerIn() const
{
    std::lock_guard guard(lock);
    for (const auto &[key, task] : tasks) {
        if (key.first != Millis::min())
            return std::max(Millis{0}, key.first - clock);
    }
    return std::nullopt;
}

bool VirtualControlQueue::runNextTimer()
{
    runPending();
    const std::optional<Millis> next = nextTimerIn();
    if (!next)
        return false;
    {
        std::lock_guard guard(lock);
        clock += *next;
    }
    runPending();
    return true;
}

void VirtualControlQueue::advance(Millis delay)
{
    const Millis end = now() + delay;
    runPending();
    for (;;) {
        const std::optional<Millis> next = nextTimerIn();
        std::unique_lock guard(lock);
        if (!next || clock + *next > end) {
            clock = end;
            break;
        }
        clock += *next;
        guard.unlock();
        runPending();
    }
    runPending();
}

} // namespace bopling
