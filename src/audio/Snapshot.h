#pragma once

#include <QString>

#include <array>

namespace bopling {

// Below this loudness (the RMS of a hop of samples) the analyzer hears silence.
inline constexpr float kSilenceRms = 3e-5f;

// One frame's worth of analysis, handed from the Analyzer to the frame loop.
// A plain value: copy it freely.
struct Snapshot
{
    // Event letters found since the previous snapshot, in order of detection:
    // "k" low band onset, "s" mid band onset, "h" high band onset, "d" drop.
    QString events;
    // Low, mid and high band level, then the loudness level; each 0...1, never NaN.
    std::array<double, 4> levels{};
    // True when silentSeconds exceeds 1.5.
    bool silent = false;
    // Seconds of silence as reported, including a gap with no audio blocks at all.
    double silentSeconds = 0;
    // Current tempo in beats per minute; 0 when there is none or during long silence.
    double bpm = 0;
    // Confidence of the latest tempo estimate, 0...1.
    double tempoConfidence = 0;
    // Slow average of the loudness level, 0...1.
    double energy = 0;
};

} // namespace bopling
