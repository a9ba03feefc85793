// Pushes 10 minutes of synthetic music at 48 kHz through the Analyzer in
// 512-sample blocks, and the same audio through aubio's tempo tracker
// (window 2048, hop 512), and prints the time per hop of each.

#include "SyntheticMusic.h"
#include "audio/Analyzer.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr double kRate = 48000;
constexpr std::size_t kHop = 512;
constexpr int kMinutes = 10;
constexpr int kRuns = 3; // the best of three, to step around other load on the machine

using Clock = std::chrono::steady_clock;

// One minute: silence, groove, quiet breakdown, loud drop; played ten times.
std::vector<float> oneMinute()
{
    struct Section
    {
        double seconds;
        float gain;
        bopling::SyntheticMusic::Mix mix;
    };
    const Section sections[] = {
        {5.0, 0.0f, {0.0f, 0.0f, 0.0f, 0.0f, 0.0f}},
        {24.0, 0.30f, {1.0f, 0.8f, 0.7f, 0.9f, 0.0f}},
        {12.0, 0.08f, {0.0f, 0.0f, 0.4f, 0.0f, 1.0f}},
        {19.0, 0.85f, {1.0f, 1.0f, 0.8f, 1.0f, 0.6f}},
    };
    bopling::SyntheticMusic music(kRate, 124);
    std::vector<float> out;
    for (const Section &s : sections) {
        std::vector<float> part(static_cast<std::size_t>(s.seconds * kRate));
        music.render(part, s.mix);
        for (float &x : part) {
            x *= s.gain;
        }
        out.insert(out.end(), part.begin(), part.end());
    }
    out.resize(out.size() - out.size() % kHop);
    return out;
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double timeAnalyzer(const std::vector<float> &minute, double *bpm)
{
    bopling::Analyzer analyzer([] { return 0.0; });
    const auto start = Clock::now();
    for (int m = 0; m < kMinutes; ++m) {
        for (std::size_t at = 0; at < minute.size(); at += kHop) {
            analyzer.push(std::span(minute).subspan(at, kHop), kRate);
        }
    }
    const double elapsed = seconds(Clock::now() - start);
    *bpm = analyzer.takeSnapshot().bpm;
    return elapsed;
}

double timeAubio(const std::vector<float> &minute, double *bpm)
{
    aubio_tempo_t *tempo = new_aubio_tempo("default", 2048, kHop, static_cast<uint_t>(kRate));
    fvec_t *in = new_fvec(kHop);
    fvec_t *out = new_fvec(2);
    const auto start = Clock::now();
    for (int m = 0; m < kMinutes; ++m) {
        for (std::size_t at = 0; at < minute.size(); at += kHop) {
            std::copy_n(minute.data() + at, kHop, in->data);
            aubio_tempo_do(tempo, in, out);
        }
    }
    const double elapsed = seconds(Clock::now() - start);
    *bpm = aubio_tempo_get_bpm(tempo);
    del_fvec(out);
    del_fvec(in);
    del_aubio_tempo(tempo);
    return elapsed;
}

} // namespace

int main()
{
    const std::vector<float> minute = oneMinute();
    const double hops = static_cast<double>(kMinutes) * static_cast<double>(minute.size() / kHop);
    const double audioSeconds = kMinutes * static_cast<double>(minute.size()) / kRate;

    double ours = 1e30;
    double theirs = 1e30;
    double ourBpm = 0;
    double aubioBpm = 0;
    for (int run = 0; run < kRuns; ++run) {
        ours = std::min(ours, timeAnalyzer(minute, &ourBpm));
        theirs = std::min(theirs, timeAubio(minute, &aubioBpm));
    }
    const double usPerHop = ours * 1e6 / hops;
    const double realtime = audioSeconds / ours;
    const double aubioUsPerHop = theirs * 1e6 / hops;
    const double ratio = usPerHop / aubioUsPerHop;

    std::printf("audio: %.0f s at 48000 Hz, %.0f hops of 512, best of %d runs\n", audioSeconds,
                hops, kRuns);
    std::printf("Analyzer:            %8.3f us per hop, %7.0fx real time (tempo %.1f BPM)\n",
                usPerHop, realtime, ourBpm);
    std::printf("aubio tempo tracker: %8.3f us per hop, %7.0fx real time (tempo %.1f BPM)\n",
                aubioUsPerHop, audioSeconds / theirs, aubioBpm);
    std::printf("ratio (Analyzer / aubio): %.3f\n", ratio);
    std::printf(
        "{\"usPerHop\": %.3f, \"realtime\": %.0f, \"aubioUsPerHop\": %.3f, \"ratio\": %.3f}\n",
        usPerHop, realtime, aubioUsPerHop, ratio);
    return 0;
}
