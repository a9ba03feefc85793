#include "audio/FileFeeder.h"

#include "audio/MonoFileReader.h"

#include <pthread.h>

#include <chrono>

namespace bopling {

namespace {

constexpr std::chrono::milliseconds kTickInterval{20};
// After a stall longer than this (a suspended machine, a stopped debugger) the
// feeder carries on from now instead of delivering the missed ticks in a burst.
constexpr std::chrono::milliseconds kMaxLag{200};

} // namespace

FileFeeder::FileFeeder() = default;

FileFeeder::~FileFeeder()
{
    {
        std::lock_guard guard(stopLock);
        stopping = true;
    }
    stopSignal.notify_all();
    if (timer.joinable()) {
        timer.join();
    }
}

void FileFeeder::start(const QString &path)
{
    if (file) {
        return;
    }
    auto opened = std::make_unique<MonoFileReader>(path);
    if (!opened->isOpen()) {
        return;
    }
    file = std::move(opened);
    timer = std::thread([this] { run(); });
}

void FileFeeder::run()
{
    pthread_setname_np(pthread_self(), "qx.feeder");
    using Clock = std::chrono::steady_clock;
    // Deadlines advance by exactly one interval from the first tick, so the
    // feeder keeps pace with the file's own rate however long a tick takes.
    Clock::time_point next = Clock::now();
    std::unique_lock guard(stopLock);
    while (!stopping) {
        guard.unlock();
        tick();
        next += kTickInterval;
        const Clock::time_point now = Clock::now();
        if (now - next > kMaxLag) {
            next = now;
        }
        guard.lock();
        stopSignal.wait_until(guard, next, [this] { return stopping; });
    }
}

void FileFeeder::tick()
{
    const std::span<const float> block = file->nextBlock();
    if (block.empty()) {
        return;
    }
    if (onSamples) {
        onSamples(block, file->sampleRate());
    }
}

} // namespace bopling
