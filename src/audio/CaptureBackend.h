#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace bopling {

// One buffer of captured 32-bit float samples as the sound server hands it over:
// interleaved frames of `channels` samples, or one channel of a planar list.
// `byteSize` need not be a multiple of 4; readers use byteSize / 4 samples.
struct AudioBuffer
{
    std::uint32_t channels = 1;
    std::uint32_t byteSize = 0;
    const float *data = nullptr;
};

// The buffers of one IO cycle (several for planar formats, one for interleaved).
using AudioBufferList = std::span<const AudioBuffer>;

// The stream format of the capture, read after it has been created.
struct CaptureFormat
{
    double sampleRate = 0.0;
    std::uint32_t channels = 0;
    bool interleaved = true;
};

// A stream the sound server plays (PulseAudio: a sink input), as "Listen to"
// sees it: whose it is and where it goes.
struct PlaybackStream
{
    std::uint32_t index = 0; // the server's id; a newer stream has a higher one
    QString application;     // the application's name as it gives it
    QString binary;          // the program's file name, when the server knows it
    QString icon;            // an icon name of the desktop's theme, or empty
    QString output;          // the output it plays to (PulseAudio: the sink's name)
    bool corked = false;     // held by its application (paused)
    friend bool operator==(const PlaybackStream &, const PlaybackStream &) = default;
};

// Result of a create call: a status code (0 is success, anything else is the
// platform's error code) and the id of the created object (0 means none).
struct CaptureResult
{
    std::int32_t status = 0;
    std::uint32_t id = 0;
};

// The sound-server services AudioTap builds on. AudioTap calls everything here on
// its control thread ("qx.tap.ctl"), one call at a time. The call-backs handed in
// run on the backend's own audio thread ("qx.audio"); once the matching remove,
// destroy or tear-down call has returned, they are never called again.
//
// A build is: createTap, createAggregate, readFormat, createIoProc, startDevice.
// Tear-down is the reverse: stopDevice + destroyIoProc, destroyAggregate, destroyTap.
class CaptureBackend
{
public:
    using IoBlock = std::function<void(AudioBufferList buffers)>;
    // The running capture broke (sound server gone, source removed); `status` is
    // the platform's error code. Called at most once per registered IO block.
    using LostBlock = std::function<void(std::int32_t status)>;
    using ChangeBlock = std::function<void()>;

    CaptureBackend() = default;
    CaptureBackend(const CaptureBackend &) = delete;
    CaptureBackend &operator=(const CaptureBackend &) = delete;
    virtual ~CaptureBackend() = default;

    // The default output device's UID (PulseAudio: the default sink's name), or
    // none when there is no device or no sound server. Changes nothing.
    virtual std::optional<QString> defaultOutputUID() = 0;

    // The streams playing now; none when the server cannot be asked. Changes nothing.
    virtual std::optional<std::vector<PlaybackStream>> playbackStreams() = 0;

    // The tap on the given output's mix (PulseAudio: a record stream object for
    // the monitor source of that sink), or, with `stream`, on that one playback
    // stream of it alone. Never a microphone.
    virtual CaptureResult createTap(const QString &outputUID,
                                    std::optional<std::uint32_t> stream) = 0;
    // The device the IO block is read from (PulseAudio: the stream connected to
    // the monitor source, corked).
    virtual CaptureResult createAggregate(const QString &outputUID) = 0;
    // The tap's format; none when it cannot be read.
    virtual std::optional<CaptureFormat> readFormat() = 0;
    // Registers the IO block; `lost` reports a later breakdown of the capture.
    // A zero id with status 0 counts as a failure too.
    virtual CaptureResult createIoProc(IoBlock io, LostBlock lost) = 0;
    virtual std::int32_t startDevice() = 0;

    virtual void stopDevice() = 0;
    virtual void destroyIoProc() = 0;
    virtual void destroyAggregate() = 0;
    virtual void destroyTap() = 0;

    // Default-output changes (PulseAudio: server change events), and playback
    // streams that come, go or change (PulseAudio: sink input events). `changed` runs on
    // the backend's thread and should only hand the work on. At most one listener
    // is registered at a time; it survives sound-server restarts.
    virtual std::int32_t addDefaultOutputListener(ChangeBlock changed) = 0;
    virtual void removeDefaultOutputListener() = 0;
};

} // namespace bopling
