// Capture latency: how long after a click is written into the sink the block
// that holds it reaches AudioTap::onSamples. Uses the sound server named by
// PULSE_SERVER when it is set, otherwise a private daemon with one null sink.
// Prints every figure in milliseconds; the last line is one JSON object.

#include "audio/AudioTap.h"
#include "audio/PulseBackend.h"
#include "settings/SystemLog.h"
#include "support/PrivatePulse.h"

#include <QCoreApplication>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace bopling;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kClicks = 200;
constexpr int kRate = 48000;
constexpr float kClickHeight = 0.9f;
constexpr float kThreshold = 0.3f;
constexpr auto kClickTimeout = std::chrono::seconds(2);

// A click travels idle → pending (asked for) → written (in the sink) → heard.
enum Phase { Idle, Pending, Written, Heard };

struct Probe
{
    std::mutex lock;
    std::condition_variable changed;
    Phase phase = Idle;
    Clock::time_point writtenAt;
    Clock::time_point heardAt;
};

// A low-latency playback stream on the default sink that writes silence, or a
// click when one is pending, whenever the server asks for data.
class Player
{
public:
    explicit Player(Probe &probe) : probe(probe) {}
    ~Player()
    {
        if (!loop)
            return;
        pa_threaded_mainloop_lock(loop);
        if (stream) {
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    bool start()
    {
        loop = pa_threaded_mainloop_new();
        pa_threaded_mainloop_start(loop);
        pa_threaded_mainloop_lock(loop);
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Bopling latency bench");
        pa_context_set_state_callback(
            context,
            [](pa_context *, void *l) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(l), 0);
            },
            loop);
        pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        while (pa_context_get_state(context) != PA_CONTEXT_READY &&
               PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            pa_threaded_mainloop_wait(loop);
        bool ok = pa_context_get_state(context) == PA_CONTEXT_READY;
        if (ok) {
            const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 1};
            stream = pa_stream_new(context, "latency clicks", &spec, nullptr);
            pa_stream_set_state_callback(
                stream,
                [](pa_stream *, void *l) {
                    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(l), 0);
                },
                loop);
            pa_stream_set_write_callback(
                stream,
                [](pa_stream *s, std::size_t bytes, void *self) {
                    static_cast<Player *>(self)->write(s, bytes);
                },
                this);
            // Counts the playback underruns: a click written after one may be
            // skipped by the server and then counts as missed.
            pa_stream_set_underflow_callback(
                stream, [](pa_stream *, void *self) { ++static_cast<Player *>(self)->underflows; },
                this);
            pa_buffer_attr attr;
            attr.maxlength = std::uint32_t(-1);
            attr.tlength = std::uint32_t(pa_usec_to_bytes(10 * PA_USEC_PER_MSEC, &spec));
            attr.prebuf = 0;
            attr.minreq = std::uint32_t(pa_usec_to_bytes(2 * PA_USEC_PER_MSEC, &spec));
            attr.fragsize = std::uint32_t(-1);
            pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                       nullptr);
            while (pa_stream_get_state(stream) == PA_STREAM_CREATING)
                pa_threaded_mainloop_wait(loop);
            ok = pa_stream_get_state(stream) == PA_STREAM_READY;
        }
        pa_threaded_mainloop_unlock(loop);
        return ok;
    }

    std::atomic<int> underflows{0};

private:
    void write(pa_stream *s, std::size_t bytes)
    {
        std::vector<float> out(bytes / sizeof(float), 0.0f);
        {
            std::lock_guard guard(probe.lock);
            if (probe.phase == Pending && out.size() >= 48) {
                std::fill(out.begin(), out.begin() + 48, kClickHeight);
                probe.phase = Written;
                probe.writtenAt = Clock::now();
            }
        }
        pa_stream_write(s, out.data(), out.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
    }

    Probe &probe;
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
};

double percentile(std::vector<double> sorted, double p)
{
    std::sort(sorted.begin(), sorted.end());
    const double rank = p * double(sorted.size() - 1);
    const std::size_t low = std::size_t(std::floor(rank));
    const std::size_t high = std::min(sorted.size() - 1, low + 1);
    return sorted[low] + (sorted[high] - sorted[low]) * (rank - double(low));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    setSystemLogSink([](const QString &) {});

    std::unique_ptr<PrivatePulse> pulse;
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        PrivatePulse::Options options;
        options.sinks = {QStringLiteral("bopling_bench")};
        pulse = std::make_unique<PrivatePulse>(options);
        if (!pulse->start()) {
            std::fprintf(stderr, "no private sound server: %s\n", qPrintable(pulse->errorString()));
            return 1;
        }
        pulse->exportServer();
        std::printf("sound server: private daemon %s\n", qPrintable(pulse->serverAddress()));
    } else {
        std::printf("sound server: %s\n", qPrintable(qEnvironmentVariable("PULSE_SERVER")));
    }

    Probe probe;
    AudioTap tap(std::make_unique<PulseBackend>());
    tap.onSamples = [&probe](const std::vector<float> &block, double) {
        const Clock::time_point now = Clock::now();
        const bool loud = std::any_of(block.begin(), block.end(),
                                      [](float x) { return std::abs(x) > kThreshold; });
        std::lock_guard guard(probe.lock);
        if (probe.phase == Written && loud) {
            probe.phase = Heard;
            probe.heardAt = now;
            probe.changed.notify_all();
        }
    };
    tap.start();
    const Clock::time_point startDue = Clock::now() + std::chrono::seconds(10);
    while (!tap.running() && Clock::now() < startDue)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!tap.running()) {
        std::fprintf(stderr, "capture did not start: %s\n",
                     qPrintable(tap.lastError().value_or("")));
        return 1;
    }

    Player player(probe);
    if (!player.start()) {
        std::fprintf(stderr, "playback stream failed\n");
        return 1;
    }
    // Let both streams settle before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::vector<double> latencies;
    int missed = 0;
    for (int i = 0; i < kClicks; ++i) {
        std::unique_lock guard(probe.lock);
        probe.phase = Pending;
        if (probe.changed.wait_for(guard, kClickTimeout, [&] { return probe.phase == Heard; })) {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(probe.heardAt - probe.writtenAt).count());
        } else {
            ++missed;
        }
        probe.phase = Idle;
        guard.unlock();
        // A gap of silence so one click's tail never counts for the next.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    tap.stopAndWait(1.5);

    if (latencies.empty()) {
        std::fprintf(stderr, "no click was heard\n");
        return 1;
    }
    const double median = percentile(latencies, 0.5);
    const double p95 = percentile(latencies, 0.95);
    std::printf("clicks heard: %zu of %d (missed %d; playback underruns %d)\n", latencies.size(),
                kClicks, missed, player.underflows.load());
    std::printf("min %.2f ms, median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                *std::min_element(latencies.begin(), latencies.end()), median, p95,
                *std::max_element(latencies.begin(), latencies.end()));
    std::printf("targets: median <= 25 ms, p95 <= 40 ms\n");
    std::printf("{\"medianMs\": %.2f, \"p95Ms\": %.2f}\n", median, p95);
    return 0;
}
