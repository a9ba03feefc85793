#pragma once

#include "audio/CaptureBackend.h"

#include <memory>

namespace bopling {

// The capture backend for PulseAudio and for PipeWire's PulseAudio service: a
// record stream ("Bopling Tap", client "Bopling") on the monitor source of the
// default sink, float32 at the sink's rate and channels, about 10 ms fragments.
// Its threaded main loop is the audio thread "qx.audio". Status codes are
// libpulse error codes, negated. The server named by PULSE_SERVER (or the
// user's default server) is used; a server that goes away is reconnected on the
// next call.
class PulseBackend final : public CaptureBackend
{
public:
    PulseBackend();
    ~PulseBackend() override;

    std::optional<QString> defaultOutputUID() override;
    CaptureResult createTap(const QString &outputUID) override;
    CaptureResult createAggregate(const QString &outputUID) override;
    std::optional<CaptureFormat> readFormat() override;
    CaptureResult createIoProc(IoBlock io, LostBlock lost) override;
    std::int32_t startDevice() override;
    void stopDevice() override;
    void destroyIoProc() override;
    void destroyAggregate() override;
    void destroyTap() override;
    std::int32_t addDefaultOutputListener(ChangeBlock changed) override;
    void removeDefaultOutputListener() override;

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace bopling
