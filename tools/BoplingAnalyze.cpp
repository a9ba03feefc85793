// bopling-analyze: prints Bopling's audio analysis as JSON lines.
//
// Each mode feeds an Analyzer from one source and prints one line per snapshot.
// A new source is one more entry in kModes and one run function.

#include "audio/Analyzer.h"
#include "audio/AudioTap.h"
#include "audio/FileFeeder.h"
#include "audio/MonoFileReader.h"
#include "audio/PulseBackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QString>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using bopling::Analyzer;
using bopling::Snapshot;

constexpr qint64 kSnapshotIntervalMs = 33;
constexpr int kLiveIntervalMs = 33;

const char kHelp[] =
    "Usage: bopling-analyze FILE\n"
    "  or:  bopling-analyze --realtime FILE\n"
    "  or:  bopling-analyze --system [--seconds N]\n"
    "  or:  bopling-analyze --help | --version\n"
    "\n"
    "Prints Bopling's audio analysis of FILE (any format libsndfile reads: WAV,\n"
    "FLAC, Ogg/Vorbis, Opus, MP3), one JSON object per snapshot on its own line.\n"
    "\n"
    "  FILE             Decodes FILE, mixes it to mono and analyses it as fast as\n"
    "                   possible in 20 ms blocks, with a snapshot after every 33 ms\n"
    "                   of audio; audio time is the clock. Exits at the end of the\n"
    "                   file.\n"
    "  --realtime FILE  Plays FILE in a loop into the analyzer in real time, as\n"
    "                   Bopling's test audio source does, and prints about 30\n"
    "                   lines a second until interrupted (Ctrl+C).\n"
    "  --system         Listens to what the computer plays (the default output's\n"
    "                   mix on the PulseAudio or PipeWire sound server, never a\n"
    "                   microphone) as Bopling does and prints about 30 lines a\n"
    "                   second until interrupted. Changes of the capture's status\n"
    "                   go to standard error.\n"
    "  --seconds N      With --system: stops after N seconds.\n"
    "  --help           Shows this text.\n"
    "  --version        Shows the version.\n"
    "\n"
    "Keys, in order:\n"
    "  t              seconds of audio (FILE) or of wall-clock time (--realtime,\n"
    "                 --system)\n"
    "  ev             event letters since the previous line: k low-band onset,\n"
    "                 s mid-band onset, h high-band onset, d drop\n"
    "  lv             low, mid and high band level and loudness, each 0...1\n"
    "  bpm            tempo in beats per minute, 0 while unknown\n"
    "  conf           confidence of the latest tempo estimate, 0...1\n"
    "  en             energy: slow average of the loudness, 0...1\n"
    "  silent         true after more than 1.5 s of silence\n"
    "  silentSeconds  seconds of silence so far\n"
    "\n"
    "Exit status: 0 on success (and after Ctrl+C); 1 when FILE cannot be read;\n"
    "2 for a wrong command line.\n";

void printLine(double t, const Snapshot &s)
{
    std::printf("{\"t\":%.3f,\"ev\":\"%s\",\"lv\":[%.2f,%.2f,%.2f,%.2f],\"bpm\":%.1f,"
                "\"conf\":%.2f,\"en\":%.2f,\"silent\":%s,\"silentSeconds\":%.2f}\n",
                t, s.events.toLatin1().constData(), s.levels[0], s.levels[1], s.levels[2],
                s.levels[3], s.bpm, s.tempoConfidence, s.energy, s.silent ? "true" : "false",
                s.silentSeconds);
    std::fflush(stdout);
}

int cannotRead(const QString &path, const QString &reason)
{
    std::fprintf(stderr, "bopling-analyze: cannot read %s: %s\n", qPrintable(path),
                 qPrintable(reason));
    return 1;
}

// Opens the file, with a reason that names what went wrong.
bool openable(const QString &path, QString *reason)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *reason = QStringLiteral("no such file");
        return false;
    }
    if (info.isDir()) {
        *reason = QStringLiteral("is a folder");
        return false;
    }
    bopling::MonoFileReader reader(path);
    if (!reader.isOpen()) {
        *reason = reader.errorString();
        return false;
    }
    return true;
}

// FILE: as fast as possible, audio time as the clock.
int runFile(const QString &path)
{
    bopling::MonoFileReader reader(path);
    if (!reader.isOpen()) {
        QString reason;
        openable(path, &reason);
        return cannotRead(path, reason.isEmpty() ? reader.errorString() : reason);
    }
    // The schedule counts whole samples: snapshot n is due once n × 33 ms of audio are in,
    // exactly, so the snapshots never drift from the audio however long the file.
    const double rate = reader.sampleRate();
    const auto rateHz = static_cast<qint64>(rate);
    qint64 samples = 0;
    qint64 snapshots = 0;
    qint64 samplesAtLastSnapshot = 0;
    double audioTime = 0;
    Analyzer analyzer([&audioTime] { return audioTime; });
    for (;;) {
        const std::span<const float> block = reader.nextBlock();
        if (block.empty()) {
            break;
        }
        analyzer.push(block, rate);
        samples += static_cast<qint64>(block.size());
        audioTime = static_cast<double>(samples) / rate;
        while (samples * 1000 >= (snapshots + 1) * kSnapshotIntervalMs * rateHz) {
            printLine(audioTime, analyzer.takeSnapshot());
            samplesAtLastSnapshot = samples;
            ++snapshots;
        }
    }
    // The tail shorter than one interval still gets its line.
    if (samples > samplesAtLastSnapshot) {
        printLine(audioTime, analyzer.takeSnapshot());
    }
    return 0;
}

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted = true;
}

// Live modes: the source pushes on its own thread; the main thread prints a
// snapshot about 30 times a second until SIGINT or SIGTERM, or until `seconds`
// have passed when that is above 0.
int printLive(Analyzer &analyzer, double seconds = 0)
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frames, &QTimer::timeout, &frames, [&] {
        if (interrupted || (seconds > 0 && elapsed.nsecsElapsed() >= seconds * 1e9)) {
            QCoreApplication::quit();
            return;
        }
        printLine(static_cast<double>(elapsed.nsecsElapsed()) / 1e9, analyzer.takeSnapshot());
    });
    frames.start(kLiveIntervalMs);
    return QCoreApplication::exec();
}

int runRealtime(const QString &path)
{
    QString reason;
    if (!openable(path, &reason)) {
        return cannotRead(path, reason);
    }
    Analyzer analyzer;
    bopling::FileFeeder feeder;
    feeder.onSamples = [&analyzer](std::span<const float> samples, double rate) {
        analyzer.push(samples, rate);
    };
    feeder.start(path);
    return printLive(analyzer);
}

// The status line of the capture, as the program words it.
QString tapStatus(const bopling::AudioTap &tap)
{
    const std::optional<QString> error = tap.lastError();
    if (tap.building() && !tap.running()) {
        return QStringLiteral("Connecting to the sound server...");
    }
    if (tap.hasGivenUp()) {
        return QStringLiteral("Gave up: ") + error.value_or(QStringLiteral("tap failed"));
    }
    if (error) {
        return QStringLiteral("Cannot listen: ") + *error;
    }
    return tap.running() ? QStringLiteral("Listening to system audio")
                         : QStringLiteral("Not listening");
}

// --system [--seconds N]: the real audio tap into the analyzer.
int runSystem(const QStringList &args)
{
    double seconds = 0;
    if (!args.isEmpty()) {
        bool ok = false;
        if (args.size() == 2 && args.first() == QLatin1String("--seconds")) {
            seconds = args.at(1).toDouble(&ok);
        }
        if (!ok || !(seconds > 0)) {
            std::fprintf(stderr, "bopling-analyze: expected --seconds N with N above 0\n"
                                 "Try 'bopling-analyze --help'.\n");
            return 2;
        }
    }
    // Shared with the tap, which may outlive this function (see AudioTap::dispose).
    const auto analyzer = std::make_shared<Analyzer>();
    auto tap = std::make_unique<bopling::AudioTap>(std::make_unique<bopling::PulseBackend>());
    tap->onSamples = [analyzer](const std::vector<float> &samples, double rate) {
        analyzer->push(samples, rate);
    };
    QString shown;
    QTimer status;
    QObject::connect(&status, &QTimer::timeout, &status, [&] {
        const QString line = tapStatus(*tap);
        if (line != shown) {
            shown = line;
            std::fprintf(stderr, "bopling-analyze: %s\n", qPrintable(line));
        }
    });
    status.start(50);
    tap->start();
    const int result = printLive(*analyzer, seconds);
    tap->stopAndWait(1.5);
    bopling::AudioTap::dispose(std::move(tap));
    return result;
}

struct Mode
{
    const char *option; // nullptr: the bare FILE form
    std::function<int(const QString &)> run;
};

const Mode kModes[] = {
    {"--realtime", runRealtime},
    {nullptr, runFile},
};

int usageError(const char *what)
{
    std::fprintf(stderr, "bopling-analyze: %s\nTry 'bopling-analyze --help'.\n", what);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (args.contains(QStringLiteral("--version"))) {
        std::puts("bopling-analyze " BOPLING_VERSION);
        return 0;
    }
    if (args.isEmpty()) {
        return usageError("missing FILE");
    }
    if (args.first() == QLatin1String("--system")) {
        return runSystem(args.mid(1));
    }
    for (const Mode &mode : kModes) {
        if (mode.option) {
            if (args.first() != QLatin1String(mode.option)) {
                continue;
            }
            if (args.size() != 2) {
                return usageError("expected one FILE after the option");
            }
            return mode.run(args.at(1));
        }
        if (args.first().startsWith(QLatin1String("--"))) {
            return usageError("unknown option");
        }
        if (args.size() != 1) {
            return usageError("expected one FILE");
        }
        return mode.run(args.first());
    }
    return usageError("missing FILE");
}
