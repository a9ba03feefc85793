#include "audio/MonoFileReader.h"

#include <QFile>

#include <sndfile.h>

#include <cstdint>

namespace bopling {

namespace {

SNDFILE *handle(void *file)
{
    return static_cast<SNDFILE *>(file);
}

} // namespace

MonoFileReader::MonoFileReader(const QString &path)
{
    SF_INFO info{};
    const QByteArray encoded = QFile::encodeName(path);
    SNDFILE *opened = sf_open(encoded.constData(), SFM_READ, &info);
    if (!opened) {
        error = QString::fromLocal8Bit(sf_strerror(nullptr));
        return;
    }
    if (info.samplerate <= 0 || info.channels <= 0) {
        error = QStringLiteral("no audio in the file");
        sf_close(opened);
        return;
    }
    file = opened;
    rate = info.samplerate;
    channelCount = info.channels;
    frames = static_cast<std::uint32_t>(rate / 50);
    interleaved.resize(frames * static_cast<std::size_t>(channelCount));
    mono.resize(frames);
}

MonoFileReader::~MonoFileReader()
{
    if (file) {
        sf_close(handle(file));
    }
}

std::span<const float> MonoFileReader::nextBlock()
{
    if (!file || frames == 0) {
        return {};
    }
    const sf_count_t got =
        sf_readf_float(handle(file), interleaved.data(), static_cast<sf_count_t>(frames));
    if (got <= 0) {
        // End of the file, or a read error: start again from the first frame.
        sf_seek(handle(file), 0, SEEK_SET);
        return {};
    }
    const auto count = static_cast<std::size_t>(got);
    const auto ch = static_cast<std::size_t>(channelCount);
    const auto divisor = static_cast<float>(channelCount);
    for (std::size_t i = 0; i < count; ++i) {
        const float *frame = interleaved.data() + i * ch;
        float sum = 0;
        for (std::size_t c = 0; c < ch; ++c) {
            sum += frame[c] / divisor;
        }
        mono[i] = sum;
    }
    return {mono.data(), count};
}

} // namespace bopling
