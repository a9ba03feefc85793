#include "ClickPlayer.h"

#include <algorithm>
#include <vector>

namespace bopling {

namespace {

void signalLoop(void *loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
}

} // namespace

ClickPlayer::ClickPlayer(Options options)
    : options(std::move(options)), clickDone(this->options.click.size())
{}

ClickPlayer::~ClickPlayer()
{
    if (!loop)
        return;
    pa_threaded_mainloop_lock(loop);
    if (stream) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

bool ClickPlayer::start()
{
    loop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(loop);
    pa_threaded_mainloop_lock(loop);
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), options.clientName);
    pa_context_set_state_callback(
        context, [](pa_context *, void *l) { signalLoop(l); }, loop);
    pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) &&
           pa_context_get_state(context) != PA_CONTEXT_READY)
        pa_threaded_mainloop_wait(loop);
    bool ok = pa_context_get_state(context) == PA_CONTEXT_READY;
    if (ok) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, std::uint32_t(options.rate), 1};
        stream = pa_stream_new(context, options.streamName, &spec, nullptr);
        pa_stream_set_state_callback(
            stream, [](pa_stream *, void *l) { signalLoop(l); }, loop);
        pa_stream_set_write_callback(
            stream,
            [](pa_stream *s, std::size_t bytes, void *self) {
                static_cast<ClickPlayer *>(self)->write(s, bytes);
            },
            this);
        pa_stream_set_underflow_callback(
            stream,
            [](pa_stream *, void *self) { ++static_cast<ClickPlayer *>(self)->underflowCount; },
            this);
        // A 10 ms target with 2 ms requests keeps a click's wait in the
        // playback buffer short; no pre-buffering, so playing starts at once.
        pa_buffer_attr attr;
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = std::uint32_t(pa_usec_to_bytes(10 * PA_USEC_PER_MSEC, &spec));
        attr.prebuf = 0;
        attr.minreq = std::uint32_t(pa_usec_to_bytes(2 * PA_USEC_PER_MSEC, &spec));
        attr.fragsize = std::uint32_t(-1);
        // Timing updates let the player say when a click it wrote will play.
        const auto flags = pa_stream_flags_t(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr);
        while (pa_stream_get_state(stream) == PA_STREAM_CREATING)
            pa_threaded_mainloop_wait(loop);
        ok = pa_stream_get_state(stream) == PA_STREAM_READY;
    }
    pa_threaded_mainloop_unlock(loop);
    return ok;
}

void ClickPlayer::click()
{
    std::lock_guard guard(lock);
    pending = true;
    writtenAt.reset();
    playsAt.reset();
}

void ClickPlayer::cancel()
{
    std::lock_guard guard(lock);
    pending = false;
}

std::optional<ClickPlayer::Clock::time_point> ClickPlayer::written()
{
    std::lock_guard guard(lock);
    return writtenAt;
}

std::optional<ClickPlayer::Clock::time_point> ClickPlayer::plays()
{
    std::lock_guard guard(lock);
    return playsAt;
}

void ClickPlayer::write(pa_stream *s, std::size_t bytes)
{
    std::vector<float> out(bytes / sizeof(float), 0.0f);
    if (options.bedLevel > 0) {
        for (float &sample : out) {
            noise = noise * 1664525u + 1013904223u;
            sample = options.bedLevel * (float(noise >> 8) / float(1u << 24) * 2.0f - 1.0f);
        }
    }
    {
        std::lock_guard guard(lock);
        if (pending && !out.empty()) {
            pending = false;
            clickDone = 0;
            writtenAt = Clock::now();
            playsAt = writtenAt;
            pa_usec_t delay = 0;
            int negative = 0;
            if (pa_stream_get_latency(s, &delay, &negative) == 0 && !negative)
                *playsAt += std::chrono::microseconds(delay);
            if (onClickWritten)
                onClickWritten(*writtenAt);
        }
        const std::vector<float> &click = options.click;
        const std::size_t take = std::min(out.size(), click.size() - clickDone);
        for (std::size_t i = 0; i < take; ++i)
            out[i] += click[clickDone + i];
        clickDone += take;
    }
    pa_stream_write(s, out.data(), out.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
}

} // namespace bopling
