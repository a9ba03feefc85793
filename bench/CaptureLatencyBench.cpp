// Capture latency: how long after a click is written into the sink the block
// that holds it reaches AudioTap::onSamples. Uses the sound server named by
// PULSE_SERVER when it is set, otherwise a private daemon with one null sink.
// Prints every figure in milliseconds; the last line is one JSON object.

#include "ClickPlayer.h"
#include "audio/AudioTap.h"
#include "audio/PulseBackend.h"
#include "settings/SystemLog.h"
#include "support/PrivatePulse.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <span>
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

// A click travels idle → written (in the sink) → heard.
enum Phase { Idle, Written, Heard };

struct Probe
{
    std::mutex lock;
    std::condition_variable changed;
    Phase phase = Idle;
    Clock::time_point writtenAt;
    Clock::time_point heardAt;
};

// One millisecond at kClickHeight over silence.
std::vector<float> click()
{
    return std::vector<float>(kRate / 1000, kClickHeight);
}

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

    ClickPlayer player(
        ClickPlayer::Options{"Bopling latency bench", "latency clicks", kRate, 0.0f, click()});
    // The player calls this with its own lock held, so the loop below never
    // calls the player while it holds the probe's lock.
    player.onClickWritten = [&probe](Clock::time_point at) {
        std::lock_guard guard(probe.lock);
        probe.phase = Written;
        probe.writtenAt = at;
    };
    if (!player.start()) {
        std::fprintf(stderr, "playback stream failed\n");
        return 1;
    }
    // Let both streams settle before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::vector<double> latencies;
    std::vector<double> sinceSounding; // from when the click left the sink
    int missed = 0;
    for (int i = 0; i < kClicks; ++i) {
        player.click();
        std::unique_lock guard(probe.lock);
        if (probe.changed.wait_for(guard, kClickTimeout, [&] { return probe.phase == Heard; })) {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(probe.heardAt - probe.writtenAt).count());
            if (const auto plays = player.plays())
                sinceSounding.push_back(
                    std::chrono::duration<double, std::milli>(probe.heardAt - *plays).count());
        } else {
            ++missed;
        }
        guard.unlock();
        // A click still unwritten is dropped before the probe is reset, so a
        // late one cannot be taken for the next.
        player.cancel();
        guard.lock();
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
                kClicks, missed, player.underflows());
    std::printf("min %.2f ms, median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                *std::min_element(latencies.begin(), latencies.end()), median, p95,
                *std::max_element(latencies.begin(), latencies.end()));
    std::printf("from when it left the sink, by the player's own latency: median %.2f ms\n",
                percentile(sinceSounding, 0.5));
    std::printf("targets: median <= 25 ms, p95 <= 40 ms\n");
    std::printf("{\"medianMs\": %.2f, \"p95Ms\": %.2f}\n", median, p95);
    return 0;
}
