#include "SyntheticMusic.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bopling {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Bass line in semitones above A1 (55 Hz), one note per eighth.
constexpr int kBassLine[8] = {0, 0, 12, 0, 7, 0, 10, 12};
// Pad chord: A minor (A3, C4, E4).
constexpr double kPadHz[3] = {220.0, 261.63, 329.63};

} // namespace

SyntheticMusic::SyntheticMusic(double sampleRate, double bpm, std::uint32_t seed)
    : rate(sampleRate), tempo(bpm), noiseState(seed == 0 ? 1 : seed)
{}

float SyntheticMusic::noise()
{
    // xorshift32: the same sequence on every machine.
    noiseState ^= noiseState << 13;
    noiseState ^= noiseState >> 17;
    noiseState ^= noiseState << 5;
    return static_cast<float>(noiseState) / 2147483648.0f - 1.0f;
}

SyntheticMusic::Voices SyntheticMusic::next()
{
    const double t = static_cast<double>(position) / rate;
    ++position;
    const double beat = 60.0 / tempo;
    const double eighth = beat / 2;

    // Kick: a sine swept from 120 Hz down to 45 Hz, with a short decay.
    const double tk = std::fmod(t, beat);
    constexpr double sweep = 0.03;
    const double kickPhase = kTwoPi * (45.0 * tk + 75.0 * sweep * (1.0 - std::exp(-tk / sweep)));
    const double kick = std::sin(kickPhase) * std::exp(-tk / 0.12);

    // Snare on beats two and four: a 190 Hz body and bright noise.
    const float white = noise();
    const float bright = white - previousNoise; // first difference: a gentle high-pass
    previousNoise = white;
    double snare = 0;
    if (t >= beat) {
        const double ts = std::fmod(t - beat, 2 * beat);
        snare = (0.5 * std::sin(kTwoPi * 190.0 * ts) + 0.6 * bright) * std::exp(-ts / 0.07);
    }

    // Closed hats on the eighths.
    const double th = std::fmod(t, eighth);
    const double hats = 0.5 * bright * std::exp(-th / 0.018);

    // Bass: one plucked note per eighth.
    const auto step = static_cast<std::uint64_t>(t / eighth) % 8;
    const double bassHz = 55.0 * std::pow(2.0, kBassLine[step] / 12.0);
    const double bass = 0.6 * std::sin(kTwoPi * bassHz * th) * std::exp(-th / 0.15);

    // Pad: a slow swell of three sines, spread across the stereo field.
    const double swell = 0.5 + 0.5 * std::sin(kTwoPi * 0.25 * t);
    double padLeft = 0;
    double padRight = 0;
    for (int i = 0; i < 3; ++i) {
        const double voice = std::sin(kTwoPi * kPadHz[i] * t) * (0.12 + 0.08 * swell);
        padLeft += voice * (1.0 - 0.3 * i);
        padRight += voice * (0.4 + 0.3 * i);
    }
    return {static_cast<float>(kick), static_cast<float>(snare),   static_cast<float>(hats),
            static_cast<float>(bass), static_cast<float>(padLeft), static_cast<float>(padRight)};
}

void SyntheticMusic::render(std::span<float> mono, const Mix &mix)
{
    for (float &out : mono) {
        const Voices v = next();
        out = mix.kick * v.kick + mix.snare * v.snare + mix.hats * v.hats + mix.bass * v.bass +
              mix.pad * 0.5f * (v.padLeft + v.padRight);
    }
}

void SyntheticMusic::render(std::span<float> left, std::span<float> right, const Mix &mix)
{
    const std::size_t count = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < count; ++i) {
        const Voices v = next();
        const float centre = mix.kick * v.kick + mix.snare * v.snare + mix.bass * v.bass;
        left[i] = centre + mix.hats * 1.2f * v.hats + mix.pad * v.padLeft;
        right[i] = centre + mix.hats * 0.8f * v.hats + mix.pad * v.padRight;
    }
}

} // namespace bopling
