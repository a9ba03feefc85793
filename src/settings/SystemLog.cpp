#include "settings/SystemLog.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include <syslog.h>

namespace bopling {

namespace {

std::mutex sinkLock;
SystemLogSink currentSink;
std::atomic<bool> mirror{false};
std::once_flag opened;

} // namespace

void systemLog(const QString &line)
{
    SystemLogSink sink;
    {
        std::lock_guard guard(sinkLock);
        sink = currentSink;
    }
    if (sink) {
        sink(line);
        return;
    }
    std::call_once(opened, [] { openlog("bopling", LOG_PID, LOG_USER); });
    const QByteArray text = line.toUtf8();
    ::syslog(LOG_NOTICE, "%s", text.constData());
    if (mirror.load())
        std::fprintf(stderr, "%s\n", text.constData());
}

void setSystemLogMirror(bool toStandardError)
{
    mirror.store(toStandardError);
}

SystemLogSink setSystemLogSink(SystemLogSink sink)
{
    std::lock_guard guard(sinkLock);
    std::swap(currentSink, sink);
    return sink;
}

} // namespace bopling
