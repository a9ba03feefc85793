#include "audio/PulseBackend.h"

#include "audio/Snapshot.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bopling {

namespace {

constexpr const char *kClientName = "Bopling";
constexpr const char *kStreamName = "Bopling Tap";
// Fragments of about 10 ms keep the capture close to what plays.
constexpr pa_usec_t kFragmentUsec = 10 * PA_USEC_PER_MSEC;
// After this long below the analyzer's silence level the stream takes
// fragments of kQuietFragmentUsec: a wake-up every 200 ms instead of every
// 10 ms, here and in the server, while nothing plays. The first fragment with
// sound in it asks for small ones again, so sound that starts after a silence
// reaches the analyzer up to 200 ms late, and from then on as before.
constexpr double kQuietSeconds = 2.0;
constexpr pa_usec_t kQuietFragmentUsec = 200 * PA_USEC_PER_MSEC;
// A server that does not answer within this time counts as gone.
constexpr int kReplyTimeoutMs = 5000;

} // namespace

// Everything here is guarded by the threaded main loop's lock: the control
// thread takes it for every call, and libpulse holds it while it runs call-backs.
struct PulseBackend::State
{
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    QString monitorSource;
    pa_sample_spec spec{};
    pa_channel_map channelMap{};
    std::uint32_t nextId = 1;

    IoBlock io;
    LostBlock lost;
    ChangeBlock changed;
    bool listening = false;
    std::vector<float> aligned;
    double quietSeconds = 0;
    bool largeFragments = false;

    pa_buffer_attr bufferAttributes(pa_usec_t fragment) const
    {
        pa_buffer_attr attr;
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = std::uint32_t(-1);
        attr.prebuf = std::uint32_t(-1);
        attr.minreq = std::uint32_t(-1);
        attr.fragsize = std::uint32_t(pa_usec_to_bytes(fragment, &spec));
        return attr;
    }

    // Switches between small and large fragments as the capture goes quiet or
    // hears something (see kQuietSeconds).
    void noteLevel(const float *samples, std::size_t count)
    {
        float peak = 0;
        for (std::size_t i = 0; i < count; ++i)
            peak = std::max(peak, std::abs(samples[i]));
        // Every sample below the analyzer's silence level: silence to it too.
        const bool quiet = peak < kSilenceRms;
        quietSeconds = quiet ? quietSeconds + double(count) / spec.channels / spec.rate : 0;
        const bool wanted = quietSeconds >= kQuietSeconds;
        if (wanted == largeFragments || !stream)
            return;
        largeFragments = wanted;
        const pa_buffer_attr attr = bufferAttributes(wanted ? kQuietFragmentUsec : kFragmentUsec);
        if (pa_operation *op = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr))
            pa_operation_unref(op);
    }

    std::int32_t contextError() const
    {
        const int error = context ? pa_context_errno(context) : PA_ERR_CONNECTIONREFUSED;
        return -(error == PA_OK ? PA_ERR_UNKNOWN : error);
    }

    // Waits (lock held) until `done` is true, the reply timeout passes, or the
    // context breaks down. Returns `done()`.
    template <typename Done> bool waitFor(Done done)
    {
        struct Expiry
        {
            pa_threaded_mainloop *loop;
            bool expired = false;
        } expiry{loop};
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop);
        timeval due{};
        pa_gettimeofday(&due);
        pa_timeval_add(&due, pa_usec_t(kReplyTimeoutMs) * PA_USEC_PER_MSEC);
        pa_time_event *timer = api->time_new(
            api, &due,
            [](pa_mainloop_api *, pa_time_event *, const timeval *, void *data) {
                auto *e = static_cast<Expiry *>(data);
                e->expired = true;
                pa_threaded_mainloop_signal(e->loop, 0);
            },
            &expiry);
        while (!done() && !expiry.expired && contextUsable())
            pa_threaded_mainloop_wait(loop);
        api->time_free(timer);
        return done();
    }

    bool contextUsable() const
    {
        if (!context)
            return false;
        const pa_context_state_t s = pa_context_get_state(context);
        return s != PA_CONTEXT_FAILED && s != PA_CONTEXT_TERMINATED;
    }

    bool waitForOperation(pa_operation *op)
    {
        if (!op)
            return false;
        pa_operation_set_state_callback(
            op,
            [](pa_operation *, void *data) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(data), 0);
            },
            loop);
        waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
        if (!done)
            pa_operation_cancel(op);
        pa_operation_unref(op);
        return done;
    }

    void dropContext()
    {
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    // The connection is kept while a stream or a listener needs it.
    void releaseContextIfUnused()
    {
        if (!stream && !listening)
            dropContext();
    }

    // Silences the record stream's call-backs, disconnects it while it is still
    // connected or connecting, and forgets the IO blocks; the stream object
    // itself is kept until the tap goes.
    void disconnectStream()
    {
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            if (pa_stream_get_state(stream) == PA_STREAM_READY ||
                pa_stream_get_state(stream) == PA_STREAM_CREATING)
                pa_stream_disconnect(stream);
        }
        io = nullptr;
        lost = nullptr;
    }

    void reportLost(std::int32_t status)
    {
        if (!lost)
            return;
        // Once per registered IO block.
        LostBlock report = std::move(lost);
        lost = nullptr;
        report(status);
    }

    void subscribe()
    {
        pa_context_set_subscribe_callback(
            context,
            [](pa_context *, pa_subscription_event_type_t type, std::uint32_t, void *data) {
                auto *self = static_cast<State *>(data);
                const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
                const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
                // The default sink is part of the server's information.
                if (facility == PA_SUBSCRIPTION_EVENT_SERVER &&
                    kind == PA_SUBSCRIPTION_EVENT_CHANGE && self->changed)
                    self->changed();
            },
            this);
        if (pa_operation *op =
                pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
            pa_operation_unref(op);
    }

    // Connects to the server unless a working connection exists. Returns 0 or a
    // negative libpulse error code.
    std::int32_t ensureContext()
    {
        if (context && pa_context_get_state(context) == PA_CONTEXT_READY)
            return 0;
        // A broken connection (the server went away) is replaced by a new one.
        dropContext();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), kClientName);
        if (!context)
            return -PA_ERR_INTERNAL;
        pa_context_set_state_callback(
            context,
            [](pa_context *c, void *data) {
                auto *self = static_cast<State *>(data);
                const pa_context_state_t s = pa_context_get_state(c);
                if (s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED) {
                    if (self->stream)
                        self->reportLost(-(pa_context_errno(c) == PA_OK
                                               ? PA_ERR_CONNECTIONTERMINATED
                                               : pa_context_errno(c)));
                }
                pa_threaded_mainloop_signal(self->loop, 0);
            },
            this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            const std::int32_t status = contextError();
            dropContext();
            return status;
        }
        const bool ready =
            waitFor([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
        if (!ready) {
            const std::int32_t status = contextUsable() ? -PA_ERR_TIMEOUT : contextError();
            dropContext();
            return status;
        }
        if (listening)
            subscribe();
        return 0;
    }

    void readAvailable()
    {
        while (stream && pa_stream_readable_size(stream) > 0) {
            const void *data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            // A hole (data lost on the server) carries no samples.
            if (data && io) {
                const float *samples = static_cast<const float *>(data);
                if (reinterpret_cast<std::uintptr_t>(data) % alignof(float) != 0) {
                    aligned.resize(bytes / sizeof(float));
                    std::memcpy(aligned.data(), data, aligned.size() * sizeof(float));
                    samples = aligned.data();
                }
                const AudioBuffer buffer{spec.channels, std::uint32_t(bytes), samples};
                io(AudioBufferList(&buffer, 1));
                noteLevel(samples, bytes / sizeof(float));
            }
            pa_stream_drop(stream);
        }
    }
};

PulseBackend::PulseBackend() : state(std::make_unique<State>())
{
    state->loop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_set_name(state->loop, "qx.audio");
    pa_threaded_mainloop_start(state->loop);
}

PulseBackend::~PulseBackend()
{
    pa_threaded_mainloop_lock(state->loop);
    state->io = nullptr;
    state->lost = nullptr;
    state->changed = nullptr;
    state->listening = false;
    if (state->stream) {
        pa_stream_set_state_callback(state->stream, nullptr, nullptr);
        pa_stream_set_read_callback(state->stream, nullptr, nullptr);
        pa_stream_disconnect(state->stream);
        pa_stream_unref(state->stream);
        state->stream = nullptr;
    }
    state->dropContext();
    pa_threaded_mainloop_unlock(state->loop);
    pa_threaded_mainloop_stop(state->loop);
    pa_threaded_mainloop_free(state->loop);
}

std::optional<QString> PulseBackend::defaultOutputUID()
{
    pa_threaded_mainloop_lock(state->loop);
    std::optional<QString> name;
    if (state->ensureContext() == 0) {
        pa_operation *op = pa_context_get_server_info(
            state->context,
            [](pa_context *, const pa_server_info *info, void *data) {
                auto *result = static_cast<std::optional<QString> *>(data);
                if (info && info->default_sink_name && *info->default_sink_name)
                    *result = QString::fromUtf8(info->default_sink_name);
            },
            &name);
        if (!state->waitForOperation(op))
            name.reset();
    }
    state->releaseContextIfUnused();
    pa_threaded_mainloop_unlock(state->loop);
    return name;
}

CaptureResult PulseBackend::createTap(const QString &outputUID)
{
    pa_threaded_mainloop_lock(state->loop);
    CaptureResult result;
    if (const std::int32_t status = state->ensureContext(); status != 0) {
        result.status = status;
        pa_threaded_mainloop_unlock(state->loop);
        return result;
    }
    struct Sink
    {
        bool found = false;
        QByteArray monitor;
        pa_sample_spec spec{};
        pa_channel_map map{};
    } sink;
    const QByteArray name = outputUID.toUtf8();
    pa_operation *op = pa_context_get_sink_info_by_name(
        state->context, name.constData(),
        [](pa_context *, const pa_sink_info *info, int eol, void *data) {
            auto *s = static_cast<Sink *>(data);
            if (eol || !info)
                return;
            s->found = info->monitor_source_name != nullptr;
            s->monitor = info->monitor_source_name;
            s->spec = info->sample_spec;
            s->map = info->channel_map;
        },
        &sink);
    const bool answered = state->waitForOperation(op);
    if (!answered || !sink.found) {
        result.status = answered ? -PA_ERR_NOENTITY : state->contextError();
        state->releaseContextIfUnused();
        pa_threaded_mainloop_unlock(state->loop);
        return result;
    }
    // Float samples at the sink's own rate and channel layout: no resampling.
    state->spec = pa_sample_spec{PA_SAMPLE_FLOAT32NE, sink.spec.rate, sink.spec.channels};
    state->channelMap = sink.map;
    state->monitorSource = QString::fromUtf8(sink.monitor);
    state->stream = pa_stream_new(state->context, kStreamName, &state->spec, &state->channelMap);
    if (!state->stream)
        result.status = state->contextError();
    else
        result.id = state->nextId++;
    pa_threaded_mainloop_unlock(state->loop);
    return result;
}

CaptureResult PulseBackend::createAggregate(const QString &)
{
    pa_threaded_mainloop_lock(state->loop);
    CaptureResult result;
    if (!state->stream) {
        result.status = -PA_ERR_BADSTATE;
        pa_threaded_mainloop_unlock(state->loop);
        return result;
    }
    pa_stream_set_state_callback(
        state->stream,
        [](pa_stream *s, void *data) {
            auto *self = static_cast<State *>(data);
            const pa_stream_state_t st = pa_stream_get_state(s);
            if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) {
                // The monitored sink went away or the server killed the stream.
                const int error = pa_context_errno(pa_stream_get_context(s));
                self->reportLost(-(error == PA_OK ? PA_ERR_KILLED : error));
            }
            pa_threaded_mainloop_signal(self->loop, 0);
        },
        state.get());
    state->quietSeconds = 0;
    state->largeFragments = false;
    const pa_buffer_attr attr = state->bufferAttributes(kFragmentUsec);
    // DONT_MOVE: if the sink goes away the stream ends instead of being moved to
    // some other source, which could be a microphone.
    const auto flags =
        pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const QByteArray source = state->monitorSource.toUtf8();
    if (pa_stream_connect_record(state->stream, source.constData(), &attr, flags) < 0) {
        result.status = state->contextError();
    } else {
        pa_stream *stream = state->stream;
        const bool ready =
            state->waitFor([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; });
        if (ready && pa_stream_get_state(stream) == PA_STREAM_READY)
            result.id = state->nextId++;
        else
            result.status = ready ? state->contextError() : -PA_ERR_TIMEOUT;
    }
    pa_threaded_mainloop_unlock(state->loop);
    return result;
}

std::optional<CaptureFormat> PulseBackend::readFormat()
{
    pa_threaded_mainloop_lock(state->loop);
    std::optional<CaptureFormat> format;
    if (state->stream) {
        if (const pa_sample_spec *spec = pa_stream_get_sample_spec(state->stream))
            format = CaptureFormat{double(spec->rate), spec->channels, true};
    }
    pa_threaded_mainloop_unlock(state->loop);
    return format;
}

CaptureResult PulseBackend::createIoProc(IoBlock io, LostBlock lost)
{
    pa_threaded_mainloop_lock(state->loop);
    CaptureResult result;
    if (!state->stream || pa_stream_get_state(state->stream) != PA_STREAM_READY) {
        result.status = state->stream ? state->contextError() : -PA_ERR_BADSTATE;
    } else {
        state->io = std::move(io);
        state->lost = std::move(lost);
        pa_stream_set_read_callback(
            state->stream,
            [](pa_stream *, std::size_t, void *data) {
                static_cast<State *>(data)->readAvailable();
            },
            state.get());
        result.id = state->nextId++;
    }
    pa_threaded_mainloop_unlock(state->loop);
    return result;
}

std::int32_t PulseBackend::startDevice()
{
    pa_threaded_mainloop_lock(state->loop);
    std::int32_t status = -PA_ERR_BADSTATE;
    if (state->stream) {
        struct Outcome
        {
            pa_threaded_mainloop *loop;
            int success = 0;
        } outcome{state->loop};
        pa_operation *op = pa_stream_cork(
            state->stream, 0,
            [](pa_stream *, int success, void *data) {
                static_cast<Outcome *>(data)->success = success;
            },
            &outcome);
        status = state->waitForOperation(op) && outcome.success ? 0 : state->contextError();
    }
    pa_threaded_mainloop_unlock(state->loop);
    return status;
}

void PulseBackend::stopDevice()
{
    pa_threaded_mainloop_lock(state->loop);
    if (state->stream && pa_stream_get_state(state->stream) == PA_STREAM_READY) {
        if (pa_operation *op = pa_stream_cork(state->stream, 1, nullptr, nullptr))
            pa_operation_unref(op);
    }
    pa_threaded_mainloop_unlock(state->loop);
}

void PulseBackend::destroyIoProc()
{
    pa_threaded_mainloop_lock(state->loop);
    if (state->stream)
        pa_stream_set_read_callback(state->stream, nullptr, nullptr);
    state->io = nullptr;
    state->lost = nullptr;
    pa_threaded_mainloop_unlock(state->loop);
}

void PulseBackend::destroyAggregate()
{
    pa_threaded_mainloop_lock(state->loop);
    state->disconnectStream();
    pa_threaded_mainloop_unlock(state->loop);
}

void PulseBackend::destroyTap()
{
    pa_threaded_mainloop_lock(state->loop);
    state->disconnectStream();
    if (state->stream) {
        pa_stream_unref(state->stream);
        state->stream = nullptr;
    }
    state->releaseContextIfUnused();
    pa_threaded_mainloop_unlock(state->loop);
}

std::int32_t PulseBackend::addDefaultOutputListener(ChangeBlock changed)
{
    pa_threaded_mainloop_lock(state->loop);
    state->changed = std::move(changed);
    state->listening = true;
    // Without a server now, the subscription is made when the next connection is.
    if (state->context && pa_context_get_state(state->context) == PA_CONTEXT_READY)
        state->subscribe();
    pa_threaded_mainloop_unlock(state->loop);
    return 0;
}

void PulseBackend::removeDefaultOutputListener()
{
    pa_threaded_mainloop_lock(state->loop);
    state->changed = nullptr;
    state->listening = false;
    if (state->context) {
        pa_context_set_subscribe_callback(state->context, nullptr, nullptr);
        if (pa_context_get_state(state->context) == PA_CONTEXT_READY) {
            if (pa_operation *op = pa_context_subscribe(state->context, PA_SUBSCRIPTION_MASK_NULL,
                                                        nullptr, nullptr))
                pa_operation_unref(op);
        }
    }
    state->releaseContextIfUnused();
    pa_threaded_mainloop_unlock(state->loop);
}

} // namespace bopling
