// Writes Bopling's demo track: 60 s of 48 kHz stereo at 120 BPM.
//   0-24 s  groove: kick, snare, hats, bass
//  24-36 s  quiet breakdown: pad and soft hats, no kick
//  36-55 s  loud drop: everything, with the pad
//  55-60 s  digital silence
// Made from SyntheticMusic, so every build writes the same file.

#include "SyntheticMusic.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr double kBpm = 120.0;

struct Section
{
    double seconds;
    float gain;
    bopling::SyntheticMusic::Mix mix;
    bool silent;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const Section sections[] = {
        {24.0, 0.30f, {1.0f, 0.8f, 0.7f, 0.9f, 0.0f}, false},
        {12.0, 0.08f, {0.0f, 0.0f, 0.4f, 0.0f, 1.0f}, false},
        {19.0, 0.85f, {1.0f, 1.0f, 0.8f, 1.0f, 0.6f}, false},
        {5.0, 0.0f, {}, true},
    };

    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(argv[1], SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], argv[1], sf_strerror(nullptr));
        return 1;
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    bopling::SyntheticMusic music(kRate, kBpm);
    std::vector<float> left;
    std::vector<float> right;
    std::vector<float> frames;
    bool ok = true;
    for (const Section &section : sections) {
        const auto count = static_cast<std::size_t>(section.seconds * kRate);
        left.assign(count, 0.0f);
        right.assign(count, 0.0f);
        if (section.silent) {
            music.skip(count);
        } else {
            music.render(left, right, section.mix);
        }
        frames.resize(2 * count);
        for (std::size_t i = 0; i < count; ++i) {
            // A soft limiter keeps the loud part below full scale without hard clipping.
            frames[2 * i] = std::tanh(section.gain * left[i]);
            frames[2 * i + 1] = std::tanh(section.gain * right[i]);
        }
        const auto written = sf_writef_float(file, frames.data(), static_cast<sf_count_t>(count));
        ok = ok && written == static_cast<sf_count_t>(count);
    }
    if (sf_close(file) != 0 || !ok) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
