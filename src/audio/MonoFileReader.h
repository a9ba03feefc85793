#pragma once

#include <QString>

#include <cstddef>
#include <span>
#include <vector>

namespace bopling {

// Reads an audio file (whatever the installed libsndfile decodes: WAV, FLAC,
// Ogg/Vorbis, Opus, MP3...) in 20 ms blocks mixed to mono 32-bit floats, at the
// file's own rate. Shared by the test feeder and bopling-analyze so that both
// hear the same samples. Not thread-safe; one user at a time.
class MonoFileReader final
{
public:
    explicit MonoFileReader(const QString &path);
    ~MonoFileReader();

    MonoFileReader(const MonoFileReader &) = delete;
    MonoFileReader &operator=(const MonoFileReader &) = delete;

    bool isOpen() const { return file != nullptr; }
    // Why the file could not be opened, from the decoder; empty when it is open.
    QString errorString() const { return error; }

    double sampleRate() const { return rate; }
    int channels() const { return channelCount; }
    // 20 ms of audio: rate / 50 frames (960 at 48000 Hz, 882 at 44100 Hz).
    std::size_t blockFrames() const { return frames; }

    // The next block of up to blockFrames() mono samples, each the sum over the
    // channels, in channel order, of sample / channels. At the end of the file,
    // or on a read error, the reader goes back to the first frame and returns
    // an empty block. The span stays valid until the next call.
    std::span<const float> nextBlock();

private:
    void *file = nullptr; // SNDFILE *
    QString error;
    double rate = 0;
    int channelCount = 0;
    std::size_t frames = 0;
    std::vector<float> interleaved;
    std::vector<float> mono;
};

} // namespace bopling
