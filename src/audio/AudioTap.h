#pragma once

#include "audio/CaptureBackend.h"
#include "audio/ControlQueue.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace bopling {

// Captures what the computer plays (the default output's mix, never a microphone)
// and hands it on as blocks of mono float samples. All control work (building,
// tearing down, retry timers, device-change debounce) runs on the control queue
// "qx.tap.ctl"; samples arrive on the backend's audio thread "qx.audio"; the four
// status values are shared with other threads under `lock`.
//
// Typical use:
//   auto tap = std::make_unique<AudioTap>(std::make_unique<PulseBackend>());
//   tap->onSamples = [=](const std::vector<float> &mono, double rate) { analyzer->push(...); };
//   tap->start();                // returns at once; capture follows the default output
//   ... tap->running(), tap->building(), tap->hasGivenUp(), tap->lastError() from any thread
//   tap->stopAndWait(1.5);       // at termination,
//   AudioTap::dispose(std::move(tap)); // and gone, unless the stop timed out
class AudioTap final
{
public:
    using SamplesCallback =
        std::function<void(const std::vector<float> &samples, double sampleRate)>;

    // Builds up to 5 times per window; more requests inside it give up.
    static constexpr std::chrono::milliseconds kRebuildWindow{60'000};
    static constexpr int kRebuildsPerWindow = 5;
    static constexpr int kFailuresBeforeGivingUp = 10;
    static constexpr std::chrono::milliseconds kDeviceChangeDebounce{1'000};
    // How often an application listened to that plays nothing is looked for.
    static constexpr std::chrono::milliseconds kStreamPollInterval{2'000};

    // `ctl` defaults to a ThreadControlQueue named "qx.tap.ctl"; tests pass a
    // VirtualControlQueue to run the schedule in virtual time.
    explicit AudioTap(std::unique_ptr<CaptureBackend> backend,
                      std::unique_ptr<ControlQueue> ctl = nullptr);
    // Stops capture and waits for the control queue to finish its current work (see dispose).
    ~AudioTap();

    AudioTap(const AudioTap &) = delete;
    AudioTap &operator=(const AudioTap &) = delete;

    // Receives every converted block (possibly empty) on the audio thread. Set it
    // once, before the first `start`; it must not block for long.
    SamplesCallback onSamples;

    // These three only enqueue their work on the control queue and return at once.
    void start();
    void stop();
    // Restarts a tap that wants to run or has given up; does nothing after `stop`.
    void retry();
    // What is recorded from the next build on: one application's playback
    // streams (matched by name or program file, see belongsTo), or, with none,
    // everything the default output plays. A running tap is rebuilt at once.
    // While the application plays nothing the tap runs without recording, and
    // its next stream is picked up as it starts.
    void listenTo(std::optional<QString> application);
    // The work of `stop`, then waits for it at most `timeoutSeconds`. Returns true
    // when the stop finished in time.
    bool stopAndWait(double timeoutSeconds);
    // The way out for a tap after stopAndWait: destroys it, unless that wait timed out.
    // Then the control thread is still inside the backend (a sound server that does not
    // answer) and the backend's call-backs hold the tap, so the tap and its thread are left
    // behind for the ending process instead of being waited for again.
    static void dispose(std::unique_ptr<AudioTap> tap);

    // Status reads, callable from any thread.
    bool running() const;
    bool building() const;
    bool hasGivenUp() const;
    // The message of the last failed build, of a lost capture or of giving up.
    std::optional<QString> lastError() const;
    // The playback streams as last seen by a build or a change check (empty
    // while the tap is stopped).
    std::vector<PlaybackStream> playbackStreams() const;

    // Whether `stream` is one of `application`'s: its name or its program
    // file, letter case aside.
    static bool belongsTo(const PlaybackStream &stream, const QString &application);
    // The stream to hear `application` through: its newest one that plays, else
    // its newest one. None when it has none.
    static std::optional<PlaybackStream> streamToRecord(const std::vector<PlaybackStream> &streams,
                                                        const QString &application);

    // Retry delay after the n-th failed build in a row (n >= 1): 4, 8, 16, ... 300 s.
    static std::chrono::milliseconds retryDelay(int failures);
    // Mixes one IO cycle's buffers to mono: planar when the format is not
    // interleaved and the list has other than exactly one buffer. Never reads past
    // a buffer; an empty result is still a block.
    static std::vector<float> mixToMono(AudioBufferList buffers, bool interleaved);

private:
    // Control queue operations.
    void startOnCtl();
    void stopOnCtl();
    void retryOnCtl();
    void rebuild();
    void attemptBuild();
    std::optional<QString> build();
    void tearDown();
    void giveUp(const QString &message);
    void afterFailedBuild();
    void followStream();
    void pollForStream();
    void cancelStreamPoll();
    void captureLost(std::uint64_t generation, std::int32_t status);
    void installDeviceListener();
    void removeDeviceListener();
    void scheduleDeviceCheck();
    void deviceCheck();
    std::optional<QString> defaultOutputUID();
    // Reads the playback streams (keeping them for playbackStreams()) and
    // returns the one to record when listening to one application.
    std::optional<PlaybackStream> recordedStream();
    void cancelRetryTimer();
    void cancelDebounce();

    // Audio thread.
    void ioBlock(AudioBufferList buffers);

    std::unique_ptr<CaptureBackend> backend;

    mutable std::mutex lock;
    std::optional<QString> _lastError;
    std::vector<PlaybackStream> _streams;
    bool _running = false;
    bool _building = false;
    bool _gaveUp = false;
    // Set by a stopAndWait that timed out; read by dispose on the same thread.
    bool stopTimedOut = false;

    std::optional<ControlQueue::TimerId> retryTimer;
    std::unique_ptr<ControlQueue> ctl;
    // Everything below is touched only on `ctl`, except the format fields, which
    // the audio thread reads while no IO block can be registered.
    std::uint32_t tapID = 0;
    std::uint32_t aggID = 0;
    std::optional<std::uint32_t> procID;
    double sampleRate = 48000.0;
    bool interleaved = true;
    int channels = 2;
    bool deviceListener = false;
    bool wanted = false;
    std::optional<QString> builtUID;
    // The application listened to, and the stream of it the latest build records.
    std::optional<QString> application;
    std::optional<PlaybackStream> builtStream;
    int failures = 0;
    bool gaveUp = false;
    std::deque<ControlQueue::Millis> rebuildStamps;
    std::optional<ControlQueue::TimerId> debounce;
    std::optional<ControlQueue::TimerId> streamPoll;
    // Counts builds so a loss reported for an earlier capture is ignored.
    std::uint64_t buildGeneration = 0;
};

} // namespace bopling
