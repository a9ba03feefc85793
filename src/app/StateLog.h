#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace bopling {

// One line of the debug state log, written every 2 s when QX_LOG names a file:
// {"pid":…,"web":…,"grab":…,"unlocked":…,"audio":"…","silentSeconds":…,"js":…}
struct StateLogEntry
{
    qint64 pid = 0;
    // The web engine's render process; 0 when there is none.
    qint64 web = 0;
    bool grab = false;
    bool unlocked = false;
    QString audio;
    double silentSeconds = 0;
    // The page's answer to JSON.stringify(qx.stats()), when it answered with text.
    std::optional<QString> js;

    // The page's answer as the script evaluation delivered it: text counts,
    // anything else (no answer, a failed script) is none.
    static std::optional<QString> pageAnswer(const QVariant &result);
};

// The line, line feed included. The status text is written as a JSON string
// and the page's answer as it is when it is JSON, else as a JSON string, so a
// quote in either cannot break the line for the scripts that read it.
QByteArray stateLogLine(const StateLogEntry &entry);

// Appends `line` to the file at `path`, creating it when missing. False when
// the file cannot be opened or written, and when `path` is a link or anything
// but a regular file of this user's own (then nothing is written).
bool appendStateLine(const QString &path, const QByteArray &line);

} // namespace bopling
