#pragma once

#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTest>

#include <optional>

namespace bopling::desktop {

// Runs `program` while the event loop turns: its output.
inline QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000);
    return process.readAllStandardOutput();
}

// xdotool is the user's hands; its arguments are split at spaces.
inline QByteArray xdotool(const QString &arguments)
{
    return run(QStringLiteral("xdotool"), arguments.split(QLatin1Char(' ')));
}

// The geometry of the panel of process `pid` while it is mapped (the tray icon's
// window, named alike, is too small to be it); its window id goes to `window`.
inline std::optional<QRect> panelOf(qint64 pid, QString *window = nullptr)
{
    static const QRegularExpression geometry(
        QStringLiteral("Window (\\d+)\\n.*Position: (\\d+),(\\d+).*\\n.*Geometry: (\\d+)x(\\d+)"));
    for (const QRegularExpressionMatch &match : geometry.globalMatch(QString::fromLocal8Bit(
             xdotool(QStringLiteral("search --onlyvisible --pid %1 --name ^Bopling$ "
                                    "getwindowgeometry %@")
                         .arg(pid))))) {
        const QRect area(match.captured(2).toInt(), match.captured(3).toInt(),
                         match.captured(4).toInt(), match.captured(5).toInt());
        if (area.width() < 100)
            continue;
        if (window)
            *window = match.captured(1);
        return area;
    }
    return std::nullopt;
}

} // namespace bopling::desktop
