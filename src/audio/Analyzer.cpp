#include "audio/Analyzer.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>

namespace bopling {

namespace {

// FFTW's planner is not thread-safe; analyzers may be made on any thread.
std::mutex &plannerLock()
{
    static std::mutex mutex;
    return mutex;
}

struct Band
{
    double loHz;
    double hiHz; // the high band's upper edge depends on the sample rate
    char letter;
    double tempoWeight;
};

constexpr std::array<Band, 3> kBandTable{{
    {35.0, 150.0, 'k', 1.0},
    {250.0, 4000.0, 's', 0.7},
    {6000.0, 16000.0, 'h', 0.2},
}};

constexpr double kTempoResetSilence = 2.0;
constexpr float kFlatEnvelope = 0.001f;
constexpr double kNoveltyCap = 8.0;
constexpr double kTempoInterval = 0.5;
constexpr double kHistoryInterval = 0.1;
constexpr double kDropSpacing = 14.0;
constexpr std::size_t kDropMinHistory = 41;

// Sum of a float vector in 32-bit arithmetic. Eight running sums keep the
// dependency chain short so the loop vectorises; the order of additions is
// ours to choose, as with any vector library.
float sumOf(const float *x, std::size_t count)
{
    std::array<float, 8> acc{};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            acc[j] += x[i + j];
        }
    }
    float total = 0;
    for (; i < count; ++i) {
        total += x[i];
    }
    for (float a : acc) {
        total += a;
    }
    return total;
}

float dotOf(const float *a, const float *b, std::size_t count)
{
    std::array<float, 8> acc{};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            acc[j] += a[i + j] * b[i + j];
        }
    }
    float total = 0;
    for (; i < count; ++i) {
        total += a[i] * b[i];
    }
    for (float s : acc) {
        total += s;
    }
    return total;
}

} // namespace

template <typename T, std::size_t Capacity> void Analyzer::Ring<T, Capacity>::append(T value)
{
    if (count < Capacity) {
        values[(head + count) % Capacity] = value;
        ++count;
    } else {
        values[head] = value;
        head = (head + 1) % Capacity;
    }
}

double Analyzer::monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

Analyzer::Analyzer(WallClock wallClock) : wallClock(std::move(wallClock))
{
    for (int i = 0; i < n; ++i) {
        window[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * i / n)));
    }
    windowed = fftwf_alloc_real(n);
    auto *out = fftwf_alloc_complex(kBins + 1);
    spectrum = reinterpret_cast<float *>(out);
    if (!windowed || !out) {
        std::abort(); // out of memory: the analyzer cannot work without its buffers
    }
    std::fill_n(windowed, n, 0.0f);
    std::fill_n(spectrum, 2 * (kBins + 1), 0.0f);
    {
        // A measured plan is no faster at this size, takes about half a second
        // to make and may differ from run to run; the estimated one is the same
        // plan every time.
        std::lock_guard planner(plannerLock());
        setup = fftwf_plan_dft_r2c_1d(n, windowed, out, FFTW_ESTIMATE);
    }
    if (!setup) {
        std::abort();
    }
    // Room for the window plus a generous block, so steady-state pushes never allocate.
    pending.reserve(n + 16384);
    events.reserve(kMaxPendingEvents);
    lastPushAt = this->wallClock();
}

Analyzer::~Analyzer()
{
    {
        std::lock_guard planner(plannerLock());
        fftwf_destroy_plan(static_cast<fftwf_plan>(setup));
    }
    fftwf_free(windowed);
    fftwf_free(spectrum);
}

void Analyzer::push(std::span<const float> samples, double rate)
{
    std::function<void()> wake;
    std::function<void()> wakeForEvents;
    {
        std::lock_guard guard(lock);
        sampleRate = rate;
        lastPushAt = wallClock();
        const unsigned long eventsBefore = eventsAppended;
        pending.insert(pending.end(), samples.begin(), samples.end());
        std::size_t offset = 0;
        while (pending.size() - offset >= static_cast<std::size_t>(n)) {
            analyseHop(pending.data() + offset);
            offset += hop;
        }
        if (offset > 0) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(offset));
        }
        if (soundWaiter && silentSeconds <= kSilentAfterSeconds)
            wake = std::exchange(soundWaiter, nullptr);
        if (eventWaiter && eventsAppended != eventsBefore)
            wakeForEvents = std::exchange(eventWaiter, nullptr);
    }
    // Outside the lock: the waiter may take a snapshot at once.
    if (wake)
        wake();
    if (wakeForEvents)
        wakeForEvents();
}

void Analyzer::wakeOnEvents(std::function<void()> wake)
{
    std::lock_guard guard(lock);
    eventWaiter = std::move(wake);
}

bool Analyzer::wakeOnSound(std::function<void()> wake)
{
    std::lock_guard guard(lock);
    const bool hearing = silentSeconds <= kSilentAfterSeconds && wallClock() - lastPushAt <= 1.0;
    soundWaiter = hearing ? nullptr : std::move(wake);
    return !hearing;
}

void Analyzer::appendEvent(char letter)
{
    // Only a long stretch without snapshots fills this; keep the newest letters.
    if (events.size() >= kMaxPendingEvents) {
        events.erase(0, events.size() - kMaxPendingEvents + 1);
    }
    events.push_back(letter);
    ++eventsAppended;
}

double Analyzer::bandValue(double loHz, double hiHz)
{
    const double binHz = sampleRate * 0.00048828125;
    const int lo = std::max(static_cast<int>(loHz / binHz), 1);
    const int hi = std::min(static_cast<int>(hiHz / binHz), kBins - 1);
    if (lo >= hi) {
        return 0.0;
    }
    // Square roots only where a band needs them: about 600 of the 1023 bins.
    for (int k = lo; k <= hi; ++k) {
        magRoots[k] = std::sqrt(mags[k]);
    }
    const float sum = sumOf(magRoots.data() + lo, static_cast<std::size_t>(hi - lo + 1));
    return static_cast<double>(sum) / (hi - lo + 1);
}

void Analyzer::analyseHop(const float *x)
{
    const double dt = hop / sampleRate;
    clock += dt;

    // Loudness of the newest 512 samples.
    const float rms = std::sqrt(dotOf(x + n - hop, x + n - hop, hop) / static_cast<float>(hop));

    if (rms < kSilenceRms) {
        silentSeconds += dt;
        if (silentSeconds > kTempoResetSilence) {
            env.clear();
            bpm = 0;
            bpmConf = 0;
        }
    } else {
        silentSeconds = 0;
    }

    // Spectrum. FFTW returns the plain transform X_k; the thresholds below were
    // tuned on a forward real FFT that returns 2·X_k, hence mags = 4·|X_k|².
    // A window of digital silence (an idle output's monitor) has an all-zero
    // spectrum; the transform is skipped, with the same result.
    if (std::all_of(x, x + n, [](float sample) { return sample == 0.0f; })) {
        std::fill(mags.begin(), mags.end(), 0.0f);
    } else {
        float *__restrict out = windowed;
        const float *__restrict in = x;
        for (int i = 0; i < n; ++i) {
            out[i] = in[i] * window[i];
        }
        fftwf_execute(static_cast<fftwf_plan>(setup));
        for (int k = 1; k < kBins; ++k) {
            const float re = spectrum[2 * k];
            const float im = spectrum[2 * k + 1];
            mags[k] = 4.0f * (re * re + im * im);
        }
    }

    std::array<double, kBands> e{};
    std::array<bool, kBands> hit{};
    for (int b = 0; b < kBands; ++b) {
        const Band &band = kBandTable[b];
        const double hiHz = b == 2 ? std::min(sampleRate / 2 - 100, band.hiHz) : band.hiHz;
        e[b] = bandValue(band.loHz, hiHz);

        const double flux = std::max(e[b] - prevE[b], 0.0);
        if (flux > fluxMean[b] + kSigma[b] * fluxDev[b] && flux > relMin[b] * avgE[b] &&
            e[b] > 1e-5 && clock - lastOnset[b] > refractory[b]) {
            hit[b] = true;
            lastOnset[b] = clock;
        }
        fluxMean[b] += 0.03 * (flux - fluxMean[b]);
        fluxDev[b] += 0.03 * (std::abs(flux - fluxMean[b]) - fluxDev[b]);
        prevE[b] = e[b];
        avgE[b] += 0.01 * (e[b] - avgE[b]);
        peakE[b] = e[b] > 0.9993 * peakE[b] ? e[b] : 0.9993 * peakE[b];
        // A band silent for hours lets its peak sink to zero where denormals are
        // flushed; 0 / 0 must read as level 0, not NaN.
        levels[b] = peakE[b] > 0 ? std::min(e[b] / peakE[b], 1.0) : 0.0;
    }

    // Tempo novelty: weighted positive change of each band against its slow average.
    double nov = 0;
    for (int b = 0; b < kBands; ++b) {
        nov +=
            kBandTable[b].tempoWeight * std::max(e[b] - prevEForTempo[b], 0.0) / (avgE[b] + 1e-6);
    }
    prevEForTempo = e;
    env.append(static_cast<float>(std::min(nov, kNoveltyCap)));

    bpmClock += dt;
    if (bpmClock >= kTempoInterval) {
        bpmClock = 0;
        estimateTempo(1.0 / dt);
    }

    for (int b = 0; b < kBands; ++b) {
        if (hit[b]) {
            appendEvent(kBandTable[b].letter);
        }
    }

    const double loudness = std::clamp((20.0 * std::log10(rms + 1e-9) + 55.0) / 40.0, 0.0, 1.0);
    levels[3] = loudness;
    energy += 0.02 * (loudness - energy);
    shortRms += 0.15 * (rms - shortRms);

    historyClock += dt;
    if (historyClock >= kHistoryInterval) {
        historyClock = 0;
        history.append(shortRms);
    }

    // A drop: a kick on a sudden surge of loudness after a quieter stretch.
    if (hit[0] && clock - lastDrop > kDropSpacing && history.count >= kDropMinHistory) {
        const std::size_t count = history.count;
        double before = 0;
        for (std::size_t i = count - 30; i <= count - 6; ++i) {
            before += history.at(i);
        }
        before /= 25.0;
        double loudest = history.at(0);
        for (std::size_t i = 1; i < count; ++i) {
            loudest = std::max(loudest, history.at(i));
        }
        if (before > 1e-5 && shortRms > 1.6 * before && shortRms > 0.6 * loudest &&
            levels[0] > 0.5) {
            lastDrop = clock;
            appendEvent('d');
        }
    }
}

void Analyzer::estimateTempo(double fps)
{
    const std::size_t count = std::min(env.count, kTempoWindow);
    if (count <= static_cast<std::size_t>(std::floor(3.0 * fps))) {
        return;
    }
    float *d = tempoWork.data();
    for (std::size_t i = 0; i < count; ++i) {
        d[i] = env.at(env.count - count + i);
    }
    const float mean = sumOf(d, count) / static_cast<float>(count);
    for (std::size_t i = 0; i < count; ++i) {
        d[i] -= mean;
    }
    const float energyOfEnvelope = dotOf(d, d, count);
    if (energyOfEnvelope <= kFlatEnvelope) {
        bpmConf = 0;
        return;
    }

    const double hopsPerMinute = 60.0 * fps;
    const auto N = static_cast<long>(count);
    const long minLag = static_cast<long>(hopsPerMinute / 180.0);
    const long maxLag = std::min(N / 2, static_cast<long>(hopsPerMinute / 70.0));
    if (minLag + 2 >= maxLag) {
        return;
    }

    std::fill_n(ac.begin(), 2 * maxLag + 2, 0.0);
    const long lagEnd = std::min(N - 2, 2 * maxLag);
    const float meanSquare = energyOfEnvelope / static_cast<float>(count);
    for (long lag = minLag; lag <= lagEnd; ++lag) {
        const float dot = dotOf(d + lag, d, static_cast<std::size_t>(N - lag));
        ac[lag] = (static_cast<double>(dot) / static_cast<double>(N - lag)) / meanSquare;
    }

    double best = -1;
    long bestLag = minLag;
    for (long lag = minLag; lag <= maxLag; ++lag) {
        const double perMinute = hopsPerMinute / static_cast<double>(lag);
        const double weight = perMinute >= 90 && perMinute <= 160 ? 1.0 : 0.85;
        const double score = weight * (ac[lag] + 0.5 * ac[2 * lag]);
        if (score > best) {
            best = score;
            bestLag = lag;
        }
    }
    if (best <= 0.15) {
        bpmConf = 0;
        return;
    }
    bpmConf = std::min(best, 1.0);
    adoptTempo(hopsPerMinute / static_cast<double>(bestLag));
}

void Analyzer::adoptTempo(double newBpm)
{
    if (bpm == 0) {
        bpm = newBpm;
        bpmCandidateHits = 0;
    } else if (std::abs(newBpm - bpm) / bpm < 0.06) {
        bpm = 0.3 * newBpm + 0.7 * bpm;
        bpmCandidateHits = 0;
    } else {
        double diff = std::abs(newBpm - bpmCandidate);
        if (bpmCandidate >= 1) {
            diff /= bpmCandidate;
        }
        if (diff < 0.06) {
            bpmCandidateHits += 1;
            if (bpmCandidateHits >= 3) {
                bpm = newBpm;
                bpmCandidateHits = 0;
            }
        } else {
            bpmCandidate = newBpm;
            bpmCandidateHits = 1;
        }
    }
}

Snapshot Analyzer::takeSnapshot()
{
    std::lock_guard guard(lock);
    const double gap = wallClock() - lastPushAt;
    const double reported = gap > 1.0 ? silentSeconds + gap : silentSeconds;
    // No blocks at all for a while (capture stopped or the device changed): the
    // tempo starts over when audio returns.
    if (gap > 4.0) {
        env.clear();
        bpmCandidateHits = 0;
        bpm = 0;
        bpmConf = 0;
    }
    Snapshot snapshot;
    snapshot.events = QString::fromLatin1(events.data(), static_cast<qsizetype>(events.size()));
    events.clear();
    snapshot.levels = levels;
    snapshot.silent = reported > kSilentAfterSeconds;
    snapshot.silentSeconds = reported;
    snapshot.bpm = reported > 4.0 ? 0.0 : bpm;
    snapshot.tempoConfidence = bpmConf;
    snapshot.energy = energy;
    return snapshot;
}

void Analyzer::reset()
{
    std::lock_guard guard(lock);
    pending.clear();
    events.clear();
    silentSeconds = 0;
    env.clear();
    bpm = 0;
    bpmConf = 0;
    bpmCandidate = 0;
    bpmCandidateHits = 0;
    bpmClock = 0;
    prevEForTempo = {};
    lastPushAt = wallClock();
}

} // namespace bopling
