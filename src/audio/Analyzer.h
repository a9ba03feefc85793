#pragma once

#include "audio/Snapshot.h"

#include <array>
#include <cstddef>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace bopling {

// Turns mono sample blocks into onsets, band levels, loudness, energy, tempo and
// silence, analysed on hops of 512 samples over a 2048-sample window.
// push() runs on the audio source's thread ("qx.audio" or "qx.feeder");
// takeSnapshot() and reset() run on the main thread. One mutex guards all state.
class Analyzer final
{
public:
    // Seconds of wall-clock time; only differences matter. The snapshot's gap
    // rule reads it, so tests and offline tools can supply their own time.
    using WallClock = std::function<double()>;

    // The default clock is the system's monotonic clock.
    static double monotonicSeconds();

    explicit Analyzer(WallClock wallClock = &Analyzer::monotonicSeconds);
    ~Analyzer();

    Analyzer(const Analyzer &) = delete;
    Analyzer &operator=(const Analyzer &) = delete;

    // Appends a block of any length (zero included) at the given rate (Hz, > 0)
    // and analyses every complete hop. Holds the lock for the whole block.
    void push(std::span<const float> samples, double sampleRate);

    // Events since the previous snapshot (then cleared), levels, silence, tempo
    // and energy. A gap of more than 1 s without blocks counts as silence.
    Snapshot takeSnapshot();

    // Calls `wake` once, on the audio source's thread and outside the lock, after
    // the first block from which a snapshot would no longer be silent. Returns
    // false, keeping nothing, when a snapshot taken now would not be silent
    // either. A later call replaces the waiting one.
    bool wakeOnSound(std::function<void()> wake);
    // Calls `wake` once, as wakeOnSound does, after the first block that brings an event.
    // A later call replaces the waiting one.
    void wakeOnEvents(std::function<void()> wake);

    // Starts tempo and silence over, e.g. when capture restarts; levels, band
    // statistics and the audio clock keep their values.
    void reset();

    static constexpr int n = 2048;
    static constexpr int hop = 512;
    static constexpr int log2n = 11;
    // At most this many event letters wait for a snapshot; older ones are dropped.
    static constexpr std::size_t kMaxPendingEvents = 4096;
    // A snapshot is silent once this many seconds have passed without sound.
    static constexpr double kSilentAfterSeconds = 1.5;

private:
    friend struct AnalyzerProbe; // white-box access for the tests

    static constexpr int kBands = 3;
    static constexpr int kBins = n / 2;
    static constexpr std::size_t kEnvCapacity = 800;
    static constexpr std::size_t kTempoWindow = 600;
    static constexpr std::size_t kHistoryCapacity = 120;

    // A fixed-capacity queue of the newest values, oldest first; never allocates
    // after construction.
    template <typename T, std::size_t Capacity> struct Ring
    {
        std::array<T, Capacity> values{};
        std::size_t head = 0; // index of the oldest value
        std::size_t count = 0;

        void clear()
        {
            head = 0;
            count = 0;
        }
        void append(T value);
        // i = 0 is the oldest value.
        T at(std::size_t i) const { return values[(head + i) % Capacity]; }
    };

    void analyseHop(const float *x);
    void estimateTempo(double fps);
    void adoptTempo(double newBpm);
    void appendEvent(char letter);
    double bandValue(double loHz, double hiHz);

    WallClock wallClock;

    std::array<float, n> window{};
    // FFTW plan and its aligned buffers, made once in the constructor.
    void *setup = nullptr;
    float *windowed = nullptr;
    float *spectrum = nullptr; // 1025 complex values, interleaved re/im
    std::array<float, kBins> mags{};
    std::array<float, kBins> magRoots{}; // √mags, summed per band

    mutable std::mutex lock;
    std::vector<float> pending; // guarded by lock, like every field below
    std::function<void()> soundWaiter;
    std::function<void()> eventWaiter;
    double sampleRate = 48000;
    std::string events;
    unsigned long eventsAppended = 0;
    std::array<double, 4> levels{};
    double silentSeconds = 0;
    double clock = 0;
    double lastPushAt = 0;
    std::array<double, kBands> prevE{};
    std::array<double, kBands> avgE{1e-6, 1e-6, 1e-6};
    std::array<double, kBands> peakE{1e-6, 1e-6, 1e-6};
    std::array<double, kBands> fluxMean{};
    std::array<double, kBands> fluxDev{};
    std::array<double, kBands> lastOnset{-10, -10, -10};
    static constexpr std::array<double, kBands> kSigma{2.6, 2.4, 2.2};
    static constexpr std::array<double, kBands> relMin{0.3, 0.35, 0.35};
    static constexpr std::array<double, kBands> refractory{0.11, 0.12, 0.05};
    double shortRms = 0;
    Ring<double, kHistoryCapacity> history;
    double historyClock = 0;
    double lastDrop = -100;
    Ring<float, kEnvCapacity> env;
    std::array<double, kBands> prevEForTempo{};
    double bpm = 0;
    double bpmConf = 0;
    double energy = 0;
    double bpmClock = 0;
    double bpmCandidate = 0;
    int bpmCandidateHits = 0;
    // Estimator work space: the newest envelope values and the autocorrelation.
    std::array<float, kTempoWindow> tempoWork{};
    std::array<double, kTempoWindow + 2> ac{};
};

} // namespace bopling
