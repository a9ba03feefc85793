// CPU time of the web engine while the shipped page receives a minute of music-like ticks at
// 30 a second, then a minute of silence, and the peak memory of the whole program. Run
// under scripts/test-env (a display and the engine's flags): `make bench`.
//
// Usage: renderer [--seconds N]   (N seconds per phase, 60 by default)

#include "audio/Snapshot.h"
#include "render/RendererProtocol.h"
#include "render/ScriptCalls.h"
#include "render/WebHost.h"
#include "settings/Resources.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <cmath>
#include <cstdio>
#include <map>

#include <unistd.h>

using namespace bopling;

namespace {

struct ProcessTimes
{
    double cpuSeconds = 0;
    double peakMiB = 0;
};

// utime + stime and VmHWM of one process, from /proc.
ProcessTimes processTimes(qint64 pid)
{
    ProcessTimes times;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        // Fields after the command name, which is in parentheses and may hold spaces.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 13)
            times.cpuSeconds =
                double(fields[11].toLongLong() + fields[12].toLongLong()) / sysconf(_SC_CLK_TCK);
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                times.peakMiB = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
    }
    return times;
}

qint64 parentOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : -1;
}

// Every process below this one: the engine's render, GPU and utility processes.
QList<qint64> descendants()
{
    const qint64 self = QCoreApplication::applicationPid();
    std::map<qint64, qint64> parents;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number)
            parents[pid] = parentOf(pid);
    }
    QList<qint64> found;
    for (const auto &[pid, parent] : parents) {
        for (qint64 up = parent; up > 1; up = parents.count(up) ? parents[up] : -1) {
            if (up == self) {
                found << pid;
                break;
            }
        }
    }
    return found;
}

struct Sample
{
    double own = 0;    // this process: the engine's browser side lives here
    double engine = 0; // the engine's child processes
    double wall = 0;
};

Sample sample(const QElapsedTimer &clock)
{
    Sample s;
    s.own = processTimes(QCoreApplication::applicationPid()).cpuSeconds;
    for (qint64 pid : descendants())
        s.engine += processTimes(pid).cpuSeconds;
    s.wall = clock.elapsed() / 1000.0;
    return s;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A 124 BPM groove: kick on the beat, snare on every second beat, hats on the off-beats.
Snapshot musicFrame(int n)
{
    const double t = n / 30.0;
    const double beat = 60.0 / 124;
    const auto crosses = [&](double period, double offset) {
        return std::floor((t - offset) / period) != std::floor((t - offset - 1 / 30.0) / period);
    };
    Snapshot s;
    if (crosses(beat, 0))
        s.events += QLatin1Char('k');
    if (crosses(2 * beat, beat))
        s.events += QLatin1Char('s');
    if (crosses(beat / 2, beat / 4))
        s.events += QLatin1Char('h');
    const double phase = std::fmod(t, beat) / beat;
    s.levels = {std::exp(-4 * phase), 0.4 + 0.3 * std::sin(t), 0.2 + 0.1 * std::cos(3 * t),
                0.5 + 0.2 * std::exp(-3 * phase)};
    s.bpm = 124;
    s.tempoConfidence = 0.8;
    s.energy = 0.6;
    return s;
}

void report(const char *phase, const Sample &a, const Sample &b, int calls)
{
    const double wall = b.wall - a.wall;
    std::printf("%-7s %5.1f s wall, %5d calls: engine processes %6.2f s CPU (%5.1f %% of a core), "
                "program process %6.2f s CPU (%5.1f %%), together %5.1f %%\n",
                phase, wall, calls, b.engine - a.engine, 100 * (b.engine - a.engine) / wall,
                b.own - a.own, 100 * (b.own - a.own) / wall,
                100 * (b.engine - a.engine + b.own - a.own) / wall);
}

} // namespace

int main(int argc, char **argv)
{
    WebHost::registerScheme();
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    int seconds = 60;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--seconds")); i > 0 && i + 1 < args.size())
        seconds = std::max(1, args.at(i + 1).toInt());
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "renderer bench: no display; run it under scripts/test-env\n");
        return 1;
    }

    QTemporaryDir tmp;
    Settings settings(tmp.filePath(QStringLiteral("settings.json")));
    WebHost host(resourcePath(QStringLiteral("web")));
    int calls = 0;
    RendererProtocol protocol(
        [&](const QString &script) {
            ++calls;
            host.evaluate(script);
        },
        nullptr, settings, [] { return QSizeF(640, 480); });
    bool ready = false;
    host.onReady = [&] {
        ready = true;
        protocol.pageDidBecomeReady();
    };
    host.web()->resize(640, 480);
    host.web()->show();

    QElapsedTimer clock;
    clock.start();
    while (!ready && clock.elapsed() < 30000)
        spin(10);
    if (!ready) {
        std::fprintf(stderr, "renderer bench: the page did not report ready\n");
        return 1;
    }
    std::printf("page ready after %.2f s; %d s per phase, frames every 33 ms\n",
                clock.elapsed() / 1000.0, seconds);
    spin(2000); // let start-up work settle

    // Music: a full tick every frame, the most the program ever sends.
    int frame = 0;
    calls = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        host.evaluate(ScriptCalls::tick(musicFrame(frame++)));
        ++calls;
    });
    Sample start = sample(clock);
    timer.start(33);
    spin(seconds * 1000);
    timer.stop();
    Sample end = sample(clock);
    report("music", start, end, calls);

    // Silence: the frame loop runs on, the protocol sends one silent tick.
    timer.disconnect();
    calls = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        protocol.tick([] {
            Snapshot s;
            s.silent = true;
            s.silentSeconds = 5;
            return s;
        });
    });
    start = sample(clock);
    timer.start(33);
    spin(seconds * 1000);
    timer.stop();
    end = sample(clock);
    report("silent", start, end, calls);

    double peak = processTimes(QCoreApplication::applicationPid()).peakMiB;
    const double own = peak;
    const QList<qint64> children = descendants();
    for (qint64 pid : children)
        peak += processTimes(pid).peakMiB;
    std::printf("peak resident memory: program process %.0f MiB, with %lld engine processes "
                "%.0f MiB (sum of each process's peak)\n",
                own, qint64(children.size()), peak);
    return 0;
}
