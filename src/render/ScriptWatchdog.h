#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace bopling {

// Stops a script that runs away. The scene's thread brackets every call into the script engine
// with enter() and leave(); when one call has lasted `limit`, the "qx.watchdog" thread runs
// `interrupt` (which must be safe from another thread: QJSEngine::setInterrupted is). Nested
// calls count as one. The thread sleeps while no call is running and wakes about once a limit
// while calls keep coming.
class ScriptWatchdog final
{
public:
    using Clock = std::chrono::steady_clock;

    ScriptWatchdog(Clock::duration limit, std::function<void()> interrupt);
    ~ScriptWatchdog();

    ScriptWatchdog(const ScriptWatchdog &) = delete;
    ScriptWatchdog &operator=(const ScriptWatchdog &) = delete;

    void enter();
    void leave();
    // True once `interrupt` has run; cleared by nothing (a fired watchdog ends its engine).
    bool fired() const;

private:
    void run();

    const Clock::duration limit;
    const std::function<void()> interrupt;
    mutable std::mutex lock;
    std::condition_variable wake;
    int _depth = 0;
    unsigned long _call = 0; // counts outermost calls
    Clock::time_point _since;
    bool _idle = false; // the thread waits for a call to start
    bool _fired = false;
    bool _stop = false;
    std::thread thread;
};

// enter() on construction, leave() on destruction.
class WatchedCall final
{
public:
    explicit WatchedCall(ScriptWatchdog &dog) : dog(dog) { dog.enter(); }
    ~WatchedCall() { dog.leave(); }
    WatchedCall(const WatchedCall &) = delete;
    WatchedCall &operator=(const WatchedCall &) = delete;

private:
    ScriptWatchdog &dog;
};

} // namespace bopling
