#include "render/ScriptWatchdog.h"

#include <pthread.h>

namespace bopling {

ScriptWatchdog::ScriptWatchdog(Clock::duration limit, std::function<void()> interrupt)
    : limit(limit), interrupt(std::move(interrupt)), thread([this] { run(); })
{}

ScriptWatchdog::~ScriptWatchdog()
{
    {
        const std::lock_guard guard(lock);
        _stop = true;
    }
    wake.notify_one();
    thread.join();
}

void ScriptWatchdog::enter()
{
    bool notify = false;
    {
        const std::lock_guard guard(lock);
        if (_depth++ > 0)
            return;
        ++_call;
        _since = Clock::now();
        notify = _idle;
    }
    if (notify)
        wake.notify_one();
}

void ScriptWatchdog::leave()
{
    const std::lock_guard guard(lock);
    if (_depth > 0)
        --_depth;
}

bool ScriptWatchdog::fired() const
{
    const std::lock_guard guard(lock);
    return _fired;
}

void ScriptWatchdog::run()
{
    pthread_setname_np(pthread_self(), "qx.watchdog");
    std::unique_lock guard(lock);
    while (!_stop) {
        if (_depth == 0 || _fired) {
            _idle = true;
            wake.wait(guard);
            _idle = false;
            continue;
        }
        const unsigned long call = _call;
        const Clock::time_point deadline = _since + limit;
        wake.wait_until(guard, deadline);
        if (_stop || _depth == 0 || _call != call || Clock::now() < deadline)
            continue;
        _fired = true;
        // Called under the lock: the engine cannot go away while it is being interrupted,
        // since the owner destroys the watchdog first.
        interrupt();
    }
}

} // namespace bopling
