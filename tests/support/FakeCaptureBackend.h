#pragma once

#include "audio/CaptureBackend.h"

#include <QStringList>

namespace bopling {

// A scripted capture backend: the first fields set what the calls answer, the
// rest record what happened; fire/deliver/lose play the sound server's side.
class FakeCaptureBackend final : public CaptureBackend
{
public:
    std::optional<QString> outputUID = QStringLiteral("sink-a");
    std::int32_t startStatus = 0;
    std::optional<CaptureFormat> format = CaptureFormat{48000.0, 2, true};
    std::vector<PlaybackStream> streams;

    QStringList taps; // the output of every createTap, "#" and the stream when it has one
    bool tapAlive = false, aggregateAlive = false, ioAlive = false, deviceRunning = false;
    bool listening = false;

    void fireDefaultOutputChanged() { changed(); }
    void deliver(AudioBufferList buffers) { io(buffers); }
    void loseCapture(std::int32_t status) { lost(status); }
    bool anythingAlive() const { return tapAlive || aggregateAlive || ioAlive || deviceRunning; }

    std::optional<QString> defaultOutputUID() override { return outputUID; }
    std::optional<std::vector<PlaybackStream>> playbackStreams() override { return streams; }
    CaptureResult createTap(const QString &uid, std::optional<std::uint32_t> stream) override
    {
        taps << (stream ? uid + u'#' + QString::number(*stream) : uid);
        tapAlive = true;
        return {0, 100};
    }
    CaptureResult createAggregate(const QString &) override
    {
        aggregateAlive = true;
        return {0, 101};
    }
    std::optional<CaptureFormat> readFormat() override { return format; }
    CaptureResult createIoProc(IoBlock block, LostBlock onLost) override
    {
        io = std::move(block);
        lost = std::move(onLost);
        ioAlive = true;
        return {0, 102};
    }
    std::int32_t startDevice() override
    {
        deviceRunning = startStatus == 0;
        return startStatus;
    }
    void stopDevice() override { deviceRunning = false; }
    void destroyIoProc() override
    {
        io = noIo;
        lost = noLoss;
        ioAlive = false;
    }
    void destroyAggregate() override { aggregateAlive = false; }
    void destroyTap() override { tapAlive = false; }
    std::int32_t addDefaultOutputListener(ChangeBlock block) override
    {
        changed = std::move(block);
        listening = true;
        return 0;
    }
    void removeDefaultOutputListener() override
    {
        changed = noChange;
        listening = false;
    }

private:
    // Set while the tap has them; what the server's side calls otherwise is a no-op.
    static inline const IoBlock noIo = [](AudioBufferList) {};
    static inline const LostBlock noLoss = [](std::int32_t) {};
    static inline const ChangeBlock noChange = [] {};
    IoBlock io = noIo;
    LostBlock lost = noLoss;
    ChangeBlock changed = noChange;
};

} // namespace bopling
