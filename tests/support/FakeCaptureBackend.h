#pragma once

#include "audio/CaptureBackend.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace bopling {

// A scripted capture backend for tests. The fields set what the next calls
// answer; `calls` records every call in order; the fire/deliver/lose helpers play
// the sound server's side. Not thread-safe: use it from one thread at a time.
class FakeCaptureBackend final : public CaptureBackend
{
public:
    // What the backend answers.
    std::optional<QString> outputUID = QStringLiteral("sink-a");
    std::int32_t tapStatus = 0;
    std::int32_t aggregateStatus = 0;
    std::int32_t ioStatus = 0;
    bool ioWithoutHandle = false;
    std::int32_t startStatus = 0;
    std::optional<CaptureFormat> format = CaptureFormat{48000.0, 2, true};
    // Runs inside createTap, on the caller's thread (to hold a build up).
    std::function<void()> duringCreateTap;

    // What happened.
    QStringList calls;
    int uidLookups = 0;
    bool tapAlive = false;
    bool aggregateAlive = false;
    bool ioAlive = false;
    bool deviceRunning = false;
    bool listening = false;

    // The sound server's side.
    void fireDefaultOutputChanged();
    void deliver(AudioBufferList buffers);
    void loseCapture(std::int32_t status);
    bool anythingAlive() const { return tapAlive || aggregateAlive || ioAlive || deviceRunning; }

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
    IoBlock io;
    LostBlock lost;
    ChangeBlock changed;
    std::uint32_t nextId = 100;
};

} // namespace bopling
