#include "render/RendererLog.h"

#include "settings/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace bopling {

RendererLog::RendererLog(const QString &folder) : folder(folder) {}

QString RendererLog::defaultFolder()
{
    // Qt 6.4 has no state location in QStandardPaths, so the XDG rule is applied here.
    QString state;
    if (QStandardPaths::isTestModeEnabled()) {
        state = QDir::homePath() + QStringLiteral("/.qttest/state");
    } else {
        state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
        if (!QDir::isAbsolutePath(state))
            state = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return QDir::cleanPath(state) + QStringLiteral("/Bopling");
}

QString RendererLog::filePath() const
{
    return folder + QStringLiteral("/renderer.log");
}

QByteArray RendererLog::line(const QString &text, const QDateTime &now)
{
    return (now.toUTC().toString(Qt::ISODate) + QLatin1Char(' ') + text + QLatin1Char('\n'))
        .toUtf8();
}

void RendererLog::append(const QString &text, const QDateTime &now)
{
    QDir().mkpath(folder);
    const QByteArray bytes = line(text, now);
    QFile file(filePath());
    // Open an existing log for appending; only a missing one is created, and atomically.
    if (file.exists() && file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(bytes);
        file.close();
    } else if (!file.exists()) {
        QSaveFile created(filePath());
        if (created.open(QIODevice::WriteOnly)) {
            created.write(bytes);
            created.commit();
        }
    }
    systemLog(QStringLiteral("Bopling: renderer error: ") + text);
}

} // namespace bopling
