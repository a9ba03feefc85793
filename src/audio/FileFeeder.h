#pragma once

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

namespace bopling {

class MonoFileReader;

// Plays an audio file into a sample receiver in real time, in a loop, in place
// of system capture: a block of 20 ms of mono audio every 20 ms of wall-clock
// time, on its own thread "qx.feeder". Nothing is played to the speakers.
class FileFeeder final
{
public:
    using SampleReceiver = std::function<void(std::span<const float> samples, double sampleRate)>;

    FileFeeder();
    // Stops the feeding thread and waits for a tick in progress to finish.
    ~FileFeeder();

    FileFeeder(const FileFeeder &) = delete;
    FileFeeder &operator=(const FileFeeder &) = delete;

    // Opens the file and starts feeding: one tick at once, then one every 20 ms.
    // A file that cannot be opened leaves the feeder idle, silently. Only the
    // first call has an effect.
    void start(const QString &path);

    // Receives every block, on "qx.feeder". Set it before start().
    SampleReceiver onSamples;

private:
    void run();
    void tick();

    std::unique_ptr<MonoFileReader> file;
    std::thread timer;
    std::mutex stopLock;
    std::condition_variable stopSignal;
    bool stopping = false; // guarded by stopLock
};

} // namespace bopling
