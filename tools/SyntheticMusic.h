#pragma once

#include <cstdint>
#include <span>

namespace bopling {

// A small deterministic groove synthesizer: kick on every beat, snare on beats
// two and four, closed hats on the eighths, a bass line on the eighths and a
// sustained pad. Used for the demo track, the analyzer tests and the benchmark,
// so every run hears exactly the same music.
class SyntheticMusic final
{
public:
    // Gain of each voice; 0 leaves the voice out.
    struct Mix
    {
        float kick = 1.0f;
        float snare = 1.0f;
        float hats = 1.0f;
        float bass = 1.0f;
        float pad = 0.0f;
    };

    SyntheticMusic(double sampleRate, double bpm, std::uint32_t seed = 1);

    // Renders the next frames, continuing where the previous call stopped.
    void render(std::span<float> mono, const Mix &mix);
    // Stereo: hats lean left and the pad's voices spread across the field.
    void render(std::span<float> left, std::span<float> right, const Mix &mix);

    // Advances the time line by this many frames of silence.
    void skip(std::uint64_t frames) { position += frames; }

    double sampleRate() const { return rate; }
    double bpm() const { return tempo; }

private:
    struct Voices
    {
        float kick, snare, hats, bass, padLeft, padRight;
    };
    Voices next();
    float noise();

    double rate;
    double tempo;
    std::uint32_t noiseState;
    float previousNoise = 0;
    std::uint64_t position = 0;
};

} // namespace bopling
