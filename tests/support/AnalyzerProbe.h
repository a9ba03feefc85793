#pragma once

#include "audio/Analyzer.h"

#include <cmath>
#include <mutex>

namespace bopling {

// White-box access to an Analyzer's state for the analysis tests.
struct AnalyzerProbe
{
    explicit AnalyzerProbe(Analyzer &analyzer) : a(analyzer) {}

    template <typename F> auto locked(F read) const -> decltype(read())
    {
        std::lock_guard guard(a.lock);
        return read();
    }

    std::size_t pendingCount() const
    {
        return locked([&] { return a.pending.size(); });
    }
    std::size_t envCount() const
    {
        return locked([&] { return a.env.count; });
    }
    std::size_t historyCount() const
    {
        return locked([&] { return a.history.count; });
    }
    double clock() const
    {
        return locked([&] { return a.clock; });
    }
    double sampleRate() const
    {
        return locked([&] { return a.sampleRate; });
    }
    double lastPushAt() const
    {
        return locked([&] { return a.lastPushAt; });
    }
    double silentSeconds() const
    {
        return locked([&] { return a.silentSeconds; });
    }
    double bpm() const
    {
        return locked([&] { return a.bpm; });
    }
    double bpmCandidate() const
    {
        return locked([&] { return a.bpmCandidate; });
    }
    int bpmCandidateHits() const
    {
        return locked([&] { return a.bpmCandidateHits; });
    }
    // The band value of the latest hop.
    double bandValue(int band) const
    {
        return locked([&] { return a.prevE[band]; });
    }
    double peak(int band) const
    {
        return locked([&] { return a.peakE[band]; });
    }
    // √mags[k] of the latest hop.
    float magnitude(int bin) const
    {
        return locked([&] { return std::sqrt(a.mags[bin]); });
    }

    void setPeak(int band, double value)
    {
        std::lock_guard guard(a.lock);
        a.peakE[band] = value;
    }
    // Feeds one tempo estimate through the confirmation rule.
    void adoptTempo(double newBpm)
    {
        std::lock_guard guard(a.lock);
        a.adoptTempo(newBpm);
    }

private:
    Analyzer &a;
};

} // namespace bopling
