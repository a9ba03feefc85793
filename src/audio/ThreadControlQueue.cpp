#include "audio/ThreadControlQueue.h"

#include <pthread.h>

namespace bopling {

ThreadControlQueue::ThreadControlQueue(std::string name) : name(std::move(name))
{
    thread = std::thread([this] { run(); });
}

ThreadControlQueue::~ThreadControlQueue()
{
    finish();
}

ControlQueue::Millis ThreadControlQueue::now() const
{
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

void ThreadControlQueue::post(Task task)
{
    std::lock_guard guard(lock);
    if (finishing)
        return;
    // Posted tasks share one due time far in the past so they keep their order
    // and run before any timer.
    tasks.emplace(std::pair{Millis::min(), nextId++}, std::move(task));
    wake.notify_one();
}

ControlQueue::TimerId ThreadControlQueue::postAfter(Millis delay, Task task)
{
    std::lock_guard guard(lock);
    const TimerId id = nextId++;
    if (!finishing) {
        tasks.emplace(std::pair{now() + delay, id}, std::move(task));
        wake.notify_one();
    }
    return id;
}

void ThreadControlQueue::cancel(TimerId id)
{
    std::lock_guard guard(lock);
    for (auto it = tasks.begin(); it != tasks.end(); ++it) {
        if (it->first.second == id) {
            tasks.erase(it);
            return;
        }
    }
}

void ThreadControlQueue::finish()
{
    {
        std::lock_guard guard(lock);
        if (finishing && !thread.joinable())
            return;
        finishing = true;
        wake.notify_one();
    }
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
        thread.join();
}

void ThreadControlQueue::run()
{
    // Linux limits thread names to 15 characters.
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    std::unique_lock guard(lock);
    for (;;) {
        if (finishing) {
            // Posted tasks still run (a stop queued before finishing must happen);
            // timers are dropped.
            auto first = tasks.begin();
            if (first == tasks.end() || first->first.first != Millis::min())
                break;
        }
        if (tasks.empty()) {
            wake.wait(guard);
            continue;
        }
        auto first = tasks.begin();
        const Millis due = first->first.first;
        if (due != Millis::min() && due > now()) {
            wake.wait_for(guard, due - now());
            continue;
        }
        Task task = std::move(first->second);
        tasks.erase(first);
        guard.unlock();
        task();
        task = nullptr;
        guard.lock();
    }
    tasks.clear();
}

} // namespace bopling
