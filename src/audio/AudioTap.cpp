#include "audio/AudioTap.h"

#include "audio/ThreadControlQueue.h"
#include "settings/SystemLog.h"

#include <algorithm>
#include <future>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace bopling {

namespace {

QString withStatus(const char *what, std::int32_t status)
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(what)).arg(status);
}

// The same stream on the same output; whether it is paused does not matter.
bool sameStream(const std::optional<PlaybackStream> &a, const std::optional<PlaybackStream> &b)
{
    if (!a || !b)
        return !a && !b;
    return a->index == b->index && a->output == b->output;
}

} // namespace

AudioTap::AudioTap(std::unique_ptr<CaptureBackend> backend, std::unique_ptr<ControlQueue> ctl)
    : backend(std::move(backend)), ctl(std::move(ctl))
{
    if (!this->ctl)
        this->ctl = std::make_unique<ThreadControlQueue>("qx.tap.ctl");
}

AudioTap::~AudioTap()
{
    // The stop unregisters every call-back the backend holds, so nothing reaches
    // this object once the queue has finished.
    stop();
    ctl->finish();
}

void AudioTap::start()
{
    ctl->post([this] { startOnCtl(); });
}

void AudioTap::stop()
{
    ctl->post([this] { stopOnCtl(); });
}

void AudioTap::retry()
{
    ctl->post([this] { retryOnCtl(); });
}

void AudioTap::listenTo(std::optional<QString> app)
{
    ctl->post([this, app = std::move(app)] {
        if (app == application)
            return;
        application = app;
        if (!wanted)
            return;
        // The user's choice, not a restart of a struggling capture.
        failures = 0;
        rebuildStamps.clear();
        rebuild();
    });
}

bool AudioTap::stopAndWait(double timeoutSeconds)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> stopped = done->get_future();
    ctl->post([this, done] {
        stopOnCtl();
        done->set_value();
    });
    const auto timeout = std::chrono::duration<double>(std::max(0.0, timeoutSeconds));
    stopTimedOut = stopped.wait_for(timeout) != std::future_status::ready;
    return !stopTimedOut;
}

void AudioTap::dispose(std::unique_ptr<AudioTap> tap)
{
    if (!tap || !tap->stopTimedOut)
        return;
    [[maybe_unused]] AudioTap *leftBehind = tap.release();
#if defined(__SANITIZE_ADDRESS__)
    // Left on purpose; the stuck control thread still uses it.
    __lsan_ignore_object(leftBehind);
#endif
}

bool AudioTap::running() const
{
    std::lock_guard guard(lock);
    return _running;
}

bool AudioTap::building() const
{
    std::lock_guard guard(lock);
    return _building;
}

bool AudioTap::hasGivenUp() const
{
    std::lock_guard guard(lock);
    return _gaveUp;
}

std::optional<QString> AudioTap::lastError() const
{
    std::lock_guard guard(lock);
    return _lastError;
}

std::vector<PlaybackStream> AudioTap::playbackStreams() const
{
    std::lock_guard guard(lock);
    return _streams;
}

bool AudioTap::belongsTo(const PlaybackStream &stream, const QString &application)
{
    if (application.isEmpty())
        return false;
    return stream.application.compare(application, Qt::CaseInsensitive) == 0 ||
           stream.binary.compare(application, Qt::CaseInsensitive) == 0;
}

std::optional<PlaybackStream> AudioTap::streamToRecord(const std::vector<PlaybackStream> &streams,
                                                       const QString &application)
{
    std::optional<PlaybackStream> chosen;
    for (const PlaybackStream &stream : streams) {
        if (!belongsTo(stream, application))
            continue;
        // A playing stream beats a paused one; then the newer one wins.
        const bool better = !chosen || (chosen->corked && !stream.corked) ||
                            (chosen->corked == stream.corked && stream.index > chosen->index);
        if (better)
            chosen = stream;
    }
    return chosen;
}

std::chrono::milliseconds AudioTap::retryDelay(int failures)
{
    constexpr int kMaxSeconds = 300;
    const int n = std::max(failures, 1);
    // 4 × 2^7 already passes the cap; stop doubling before it can overflow.
    const int seconds = n > 8 ? kMaxSeconds : std::min(4 << (n - 1), kMaxSeconds);
    return std::chrono::seconds(seconds);
}

void AudioTap::startOnCtl()
{
    if (wanted)
        return;
    wanted = true;
    failures = 0;
    gaveUp = false;
    {
        std::lock_guard guard(lock);
        _gaveUp = false;
    }
    installDeviceListener();
    rebuild();
}

void AudioTap::stopOnCtl()
{
    wanted = false;
    cancelRetryTimer();
    cancelDebounce();
    cancelStreamPoll();
    removeDeviceListener();
    tearDown();
    std::lock_guard guard(lock);
    _running = false;
    _streams.clear();
}

void AudioTap::retryOnCtl()
{
    if (!wanted && !gaveUp)
        return;
    wanted = true;
    failures = 0;
    rebuildStamps.clear();
    gaveUp = false;
    {
        std::lock_guard guard(lock);
        _gaveUp = false;
    }
    if (!deviceListener)
        installDeviceListener();
    rebuild();
}

void AudioTap::rebuild()
{
    cancelRetryTimer();
    cancelStreamPoll();
    if (!wanted)
        return;
    const ControlQueue::Millis now = ctl->now();
    std::erase_if(rebuildStamps,
                  [&](ControlQueue::Millis stamp) { return now - stamp >= kRebuildWindow; });
    if (int(rebuildStamps.size()) >= kRebuildsPerWindow) {
        systemLog(QStringLiteral("Bopling: tap rebuilt %1 times in a minute, stopping it")
                      .arg(rebuildStamps.size()));
        giveUp(QStringLiteral("Audio tap kept restarting, stopped"));
        return;
    }
    rebuildStamps.push_back(now);
    systemLog(
        QStringLiteral("Bopling: tap rebuild #%1 in the last minute").arg(rebuildStamps.size()));
    attemptBuild();
    bool nowRunning;
    {
        std::lock_guard guard(lock);
        nowRunning = _running;
    }
    if (nowRunning) {
        failures = 0;
        if (application && !builtStream)
            pollForStream();
        return;
    }
    afterFailedBuild();
}

void AudioTap::pollForStream()
{
    // The server's word on a new stream does not always come (a stream that
    // starts while the last one is being torn down), so an application that
    // plays nothing is also looked for now and then.
    streamPoll = ctl->postAfter(kStreamPollInterval, [this] {
        streamPoll.reset();
        deviceCheck();
        if (wanted && application && !builtStream && !streamPoll)
            pollForStream();
    });
}

void AudioTap::cancelStreamPoll()
{
    if (streamPoll)
        ctl->cancel(*streamPoll);
    streamPoll.reset();
}

void AudioTap::afterFailedBuild()
{
    failures += 1;
    if (failures < kFailuresBeforeGivingUp) {
        retryTimer = ctl->postAfter(retryDelay(failures), [this] {
            retryTimer.reset();
            bool nowRunning;
            {
                std::lock_guard guard(lock);
                nowRunning = _running;
            }
            if (wanted && !nowRunning)
                rebuild();
        });
        return;
    }
    systemLog(QStringLiteral("Bopling: tap failed %1 times, giving up").arg(failures));
    std::optional<QString> message;
    {
        std::lock_guard guard(lock);
        message = _lastError;
    }
    giveUp(message && !message->isEmpty() ? *message : QStringLiteral("tap failed"));
}

void AudioTap::attemptBuild()
{
    tearDown();
    {
        std::lock_guard guard(lock);
        _building = true;
    }
    builtUID = defaultOutputUID();
    builtStream = recordedStream();
    const std::optional<QString> failure = build();
    {
        std::lock_guard guard(lock);
        _building = false;
    }
    if (failure)
        tearDown();
    std::lock_guard guard(lock);
    _running = !failure;
    _lastError = failure;
}

std::optional<QString> AudioTap::build()
{
    const std::optional<QString> uid = defaultOutputUID();
    if (!uid)
        return QStringLiteral("no output device");
    // An application that plays nothing is heard as silence (the party
    // sleeps), never replaced by anything else; its next stream is a change.
    if (application && !builtStream)
        return std::nullopt;

    const CaptureResult tap = builtStream
                                  ? backend->createTap(builtStream->output, builtStream->index)
                                  : backend->createTap(*uid, std::nullopt);
    if (tap.status != 0)
        return withStatus("tap failed", tap.status);
    tapID = tap.id;

    const CaptureResult aggregate = backend->createAggregate(*uid);
    if (aggregate.status != 0)
        return withStatus("aggregate device failed", aggregate.status);
    aggID = aggregate.id;

    // A format that cannot be read keeps the previous values.
    if (const std::optional<CaptureFormat> format = backend->readFormat();
        format && format->sampleRate > 0) {
        sampleRate = format->sampleRate;
        channels = format->channels == 0 ? 1 : int(format->channels);
        interleaved = format->interleaved;
    }

    const std::uint64_t generation = ++buildGeneration;
    const CaptureResult io = backend->createIoProc(
        [this](AudioBufferList buffers) { ioBlock(buffers); },
        [this, generation](std::int32_t status) {
            ctl->post([this, generation, status] { captureLost(generation, status); });
        });
    if (io.status != 0 || io.id == 0)
        return withStatus("io proc failed", io.status);
    procID = io.id;

    if (const std::int32_t status = backend->startDevice(); status != 0)
        return withStatus("start failed", status);
    return std::nullopt;
}

void AudioTap::tearDown()
{
    // The order matters: the IO stops before its device goes, the device before the tap.
    if (aggID != 0) {
        if (procID) {
            backend->stopDevice();
            backend->destroyIoProc();
        }
        backend->destroyAggregate();
    }
    if (tapID != 0)
        backend->destroyTap();
    tapID = 0;
    aggID = 0;
    procID.reset();
}

void AudioTap::giveUp(const QString &message)
{
    wanted = false;
    cancelStreamPoll();
    tearDown();
    removeDeviceListener();
    gaveUp = true;
    {
        std::lock_guard guard(lock);
        _gaveUp = true;
    }
    std::lock_guard guard(lock);
    _running = false;
    _lastError = message;
}

void AudioTap::captureLost(std::uint64_t generation, std::int32_t status)
{
    // Only the capture of the latest build counts, and only while it runs.
    if (generation != buildGeneration || !wanted)
        return;
    {
        std::lock_guard guard(lock);
        if (!_running)
            return;
    }
    tearDown();
    // The stream listened to ended or moved (the server ends its recording
    // then): a change of what to record, not a failure.
    if (application && !sameStream(recordedStream(), builtStream)) {
        followStream();
        return;
    }
    {
        std::lock_guard guard(lock);
        _running = false;
        _lastError = withStatus("capture lost", status);
    }
    afterFailedBuild();
}

void AudioTap::installDeviceListener()
{
    if (deviceListener)
        return;
    const std::int32_t status =
        backend->addDefaultOutputListener([this] { ctl->post([this] { scheduleDeviceCheck(); }); });
    deviceListener = status == 0;
}

void AudioTap::removeDeviceListener()
{
    if (!deviceListener)
        return;
    backend->removeDefaultOutputListener();
    deviceListener = false;
}

void AudioTap::scheduleDeviceCheck()
{
    cancelDebounce();
    debounce = ctl->postAfter(kDeviceChangeDebounce, [this] {
        debounce.reset();
        deviceCheck();
    });
}

void AudioTap::deviceCheck()
{
    if (!wanted)
        return;
    {
        std::lock_guard guard(lock);
        if (_building)
            return;
    }
    const bool outputChanged = defaultOutputUID() != builtUID;
    const bool streamChanged = !sameStream(recordedStream(), builtStream);
    if (outputChanged) {
        failures = 0;
        rebuild();
    } else if (application && streamChanged) {
        followStream();
    }
}

void AudioTap::followStream()
{
    // An application starts and ends streams as it likes (a new one per track
    // for some players); following them is no restart to be limited.
    failures = 0;
    rebuildStamps.clear();
    rebuild();
}

std::optional<QString> AudioTap::defaultOutputUID()
{
    return backend->defaultOutputUID();
}

std::optional<PlaybackStream> AudioTap::recordedStream()
{
    const std::optional<std::vector<PlaybackStream>> streams = backend->playbackStreams();
    std::optional<PlaybackStream> chosen;
    if (application && streams)
        chosen = streamToRecord(*streams, *application);
    std::lock_guard guard(lock);
    _streams = streams.value_or(std::vector<PlaybackStream>());
    return chosen;
}

void AudioTap::cancelRetryTimer()
{
    if (retryTimer)
        ctl->cancel(*retryTimer);
    retryTimer.reset();
}

void AudioTap::cancelDebounce()
{
    if (debounce)
        ctl->cancel(*debounce);
    debounce.reset();
}

void AudioTap::ioBlock(AudioBufferList buffers)
{
    if (buffers.empty() || buffers.front().data == nullptr)
        return;
    const std::vector<float> mono = mixToMono(buffers, interleaved);
    if (onSamples)
        onSamples(mono, sampleRate);
}

std::vector<float> AudioTap::mixToMono(AudioBufferList buffers, bool interleaved)
{
    if (buffers.empty() || buffers.front().data == nullptr)
        return {};

    if (!interleaved && buffers.size() != 1) {
        // One buffer per channel; the first one sets the block's length.
        const std::size_t frames = buffers.front().byteSize / 4;
        std::vector<float> out(frames, 0.0f);
        for (const AudioBuffer &buffer : buffers) {
            if (buffer.data == nullptr)
                continue;
            const std::size_t n = std::min<std::size_t>(buffer.byteSize / 4, frames);
            for (std::size_t i = 0; i < n; ++i)
                out[i] += buffer.data[i];
        }
        if (frames > 0) {
            const float scale = 1.0f / float(buffers.size());
            for (float &sample : out)
                sample *= scale;
        }
        return out;
    }

    const AudioBuffer &buffer = buffers.front();
    // 64-bit arithmetic: a corrupt channel count must not wrap around.
    const std::uint64_t ch = buffer.channels == 0 ? 1 : buffer.channels;
    const std::uint64_t frameBytes = ch * 4;
    if (frameBytes > buffer.byteSize)
        return {};
    const std::size_t frames = buffer.byteSize / frameBytes;
    std::vector<float> out(frames);
    const float *frame = buffer.data;
    const float divisor = float(ch);
    for (std::size_t f = 0; f < frames; ++f, frame += ch) {
        float sum = 0.0f;
        for (std::uint64_t c = 0; c < ch; ++c)
            sum += frame[c];
        out[f] = sum / divisor;
    }
    return out;
}

} // namespace bopling
