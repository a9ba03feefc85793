#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace bopling {

// A low-latency mono playback stream on the default sink for the benchmarks:
// it writes a quiet noise bed (or silence) whenever the server wants data, and
// a click over it from the start of the next write once one is asked for. The
// server asks for a few milliseconds at a time, so a longer click goes on
// through the writes after it. The stream runs on libpulse's own thread;
// click(), cancel() and written() may be called from any thread.
class ClickPlayer final
{
public:
    using Clock = std::chrono::steady_clock;

    struct Options
    {
        const char *clientName = "Bopling bench";
        const char *streamName = "clicks";
        int rate = 48000;
        // Peak of the white-noise bed; 0 writes silence.
        float bedLevel = 0.0f;
        // One click's samples, added to the bed.
        std::vector<float> click;
    };

    explicit ClickPlayer(Options options);
    ~ClickPlayer();
    ClickPlayer(const ClickPlayer &) = delete;
    ClickPlayer &operator=(const ClickPlayer &) = delete;

    // Connects to the default server and waits until the stream is ready.
    bool start();

    // Asks for a click in the next write.
    void click();
    // Drops a click that has not been written yet. Once this returns, no
    // onClickWritten call for it can still come.
    void cancel();
    // When the first sample of the last click asked for went into the sink,
    // once it has.
    std::optional<Clock::time_point> written();
    // When that sample was due to leave the sink: written() plus what the
    // stream held before it and the sink's own delay, as the server last
    // reported them; written() itself before the first report.
    std::optional<Clock::time_point> plays();
    // Playback underruns so far: a click written after one may be skipped by
    // the server.
    int underflows() const { return underflowCount.load(); }

    // Called on the stream's thread, with the player's lock held, the moment a
    // click has been written (before the data goes to the server). Must not
    // call back into the player.
    std::function<void(Clock::time_point)> onClickWritten;

private:
    void write(pa_stream *s, std::size_t bytes);

    Options options;
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    std::atomic<int> underflowCount{0};
    std::mutex lock;
    bool pending = false;
    // How much of the click being played has been written.
    std::size_t clickDone = 0;
    std::optional<Clock::time_point> writtenAt;
    std::optional<Clock::time_point> playsAt;
    std::uint32_t noise = 12345;
};

} // namespace bopling
