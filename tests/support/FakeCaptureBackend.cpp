#include "support/FakeCaptureBackend.h"

namespace bopling {

void FakeCaptureBackend::fireDefaultOutputChanged()
{
    if (changed)
        changed();
}

void FakeCaptureBackend::deliver(AudioBufferList buffers)
{
    if (io)
        io(buffers);
}

void FakeCaptureBackend::loseCapture(std::int32_t status)
{
    if (lost)
        lost(status);
}

std::optional<QString> FakeCaptureBackend::defaultOutputUID()
{
    ++uidLookups;
    return outputUID;
}

CaptureResult FakeCaptureBackend::createTap(const QString &uid)
{
    calls << QStringLiteral("createTap ") + uid;
    if (duringCreateTap)
        duringCreateTap();
    if (tapStatus != 0)
        return {tapStatus, 0};
    tapAlive = true;
    return {0, nextId++};
}

CaptureResult FakeCaptureBackend::createAggregate(const QString &uid)
{
    calls << QStringLiteral("createAggregate ") + uid;
    if (aggregateStatus != 0)
        return {aggregateStatus, 0};
    aggregateAlive = true;
    return {0, nextId++};
}

std::optional<CaptureFormat> FakeCaptureBackend::readFormat()
{
    calls << QStringLiteral("readFormat");
    return format;
}

CaptureResult FakeCaptureBackend::createIoProc(IoBlock block, LostBlock onLost)
{
    calls << QStringLiteral("createIoProc");
    if (ioStatus != 0 || ioWithoutHandle)
        return {ioStatus, 0};
    io = std::move(block);
    lost = std::move(onLost);
    ioAlive = true;
    return {0, nextId++};
}

std::int32_t FakeCaptureBackend::startDevice()
{
    calls << QStringLiteral("startDevice");
    if (startStatus != 0)
        return startStatus;
    deviceRunning = true;
    return 0;
}

void FakeCaptureBackend::stopDevice()
{
    calls << QStringLiteral("stopDevice");
    deviceRunning = false;
}

void FakeCaptureBackend::destroyIoProc()
{
    calls << QStringLiteral("destroyIoProc");
    io = nullptr;
    lost = nullptr;
    ioAlive = false;
}

void FakeCaptureBackend::destroyAggregate()
{
    calls << QStringLiteral("destroyAggregate");
    aggregateAlive = false;
}

void FakeCaptureBackend::destroyTap()
{
    calls << QStringLiteral("destroyTap");
    tapAlive = false;
}

std::int32_t FakeCaptureBackend::addDefaultOutputListener(ChangeBlock block)
{
    calls << QStringLiteral("addListener");
    changed = std::move(block);
    listening = true;
    return 0;
}

void FakeCaptureBackend::removeDefaultOutputListener()
{
    calls << QStringLiteral("removeListener");
    changed = nullptr;
    listening = false;
}

} // namespace bopling
