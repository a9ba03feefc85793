#pragma once

#include "audio/Analyzer.h"

#include <array>
#include <cmath>
#include <mutex>

namespace bopling {

// White-box access to an Analyzer's state for the analysis tests.
struct AnalyzerProbe
{
    // A copy of what the tests look at, taken under the analyzer's lock.
    struct State
    {
        std::size_t envCount;
        double silentSeconds, bpm;
        std::array<double, 3> bandValue, peak;        // of the latest hop
        std::array<float, Analyzer::n / 2> magnitude; // √mags of the latest hop
    };

    explicit AnalyzerProbe(Analyzer &analyzer) : a(analyzer) {}

    State state() const
    {
        std::lock_guard guard(a.lock);
        State s{a.env.count, a.silentSeconds, a.bpm, a.prevE, a.peakE, {}};
        for (std::size_t k = 0; k < s.magnitude.size(); ++k)
            s.magnitude[k] = std::sqrt(a.mags[k]);
        return s;
    }
    void setPeak(int band, double value)
    {
        std::lock_guard guard(a.lock);
        a.peakE[band] = value;
    }

private:
    Analyzer &a;
};

} // namespace bopling
