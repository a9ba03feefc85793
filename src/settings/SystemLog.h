#pragma once

#include <QString>

#include <functional>

namespace bopling {

// One line to the system log (syslog, ident "bopling"). Callers pass the whole
// line, prefix included, e.g. "Bopling: tap failed 10 times, giving up".
// Safe from any thread.
void systemLog(const QString &line);

// Debug mode mirrors every system-log line to standard error.
void setSystemLogMirror(bool toStandardError);

// Tests capture the lines instead of writing them; an empty function restores
// the system log. Returns the previous sink.
using SystemLogSink = std::function<void(const QString &)>;
SystemLogSink setSystemLogSink(SystemLogSink sink);

} // namespace bopling
