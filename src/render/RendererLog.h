#pragma once

#include <QDateTime>
#include <QString>

namespace bopling {

// The page's error reports: one line each, "<UTC time> <text>", appended to renderer.log in
// the program's state folder and echoed to the system log as "Bopling: renderer error: …".
// The log is never rotated or truncated. Main thread.
class RendererLog final
{
public:
    // The log in `folder` (created when the first line is written).
    explicit RendererLog(const QString &folder = defaultFolder());

    // $XDG_STATE_HOME/Bopling, or ~/.local/state/Bopling when that variable is unset or not
    // an absolute path. In QStandardPaths' test mode, ~/.qttest/state/Bopling, so tests
    // never write into a real state folder.
    static QString defaultFolder();

    QString filePath() const;

    // Appends "<time> <text>\n" (time as 2025-03-01T08:15:30Z) and writes the system log
    // line. File errors are ignored; the system log line is written in any case.
    void append(const QString &text, const QDateTime &now = QDateTime::currentDateTimeUtc());

    // The line as written to the file, line feed included.
    static QByteArray line(const QString &text, const QDateTime &now);

private:
    QString folder;
};

} // namespace bopling
