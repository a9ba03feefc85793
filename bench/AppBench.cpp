// The whole program under load, in one process with its renderer host (and
// the web engine's processes with the web host): CPU per minute while music
// plays, while the party falls asleep after it (the first 20 s of silence) and
// once it sleeps, memory, start-up to the first picture, and how long a click
// takes to be counted by the page: the first one after the silence, alone, and
// then fifty over a quiet bed. A click is timed from when it was due to leave
// the sink (the player's stream says how much it held before it), and also
// from when it went into that stream. Memory is given as peak
// resident sizes summed (shared pages counted in every process), as PSS summed
// over the program's processes (given only while no other process uses Qt's
// libraries, whose pages it would otherwise split with them), and as the
// processes' distinct physical pages, each counted once and in full however
// many other programs map it (libc's included), which does not depend on what
// else runs on the machine.
//
// Built as bench/app-host, which measures the host that --renderer names
// (light without it); bench/app runs it for both hosts and prints them side by
// side. `--memory-minutes=N` keeps the program playing music for N more
// minutes and prints both memory figures after each one. Runs the real controller
// (the same start-up as the program) against a private PulseAudio under the
// current display (use scripts/test-env). Prints a few lines and, last, the
// figures, one `figure NAME VALUE` line each.

#include "ClickPlayer.h"
#include "EngineProcesses.h"
#include "app/AppDelegate.h"
#include "app/RendererChoice.h"
#include "audio/Analyzer.h"
#include "audio/MonoFileReader.h"
#include "render/RendererHost.h"
#include "render/ScriptCalls.h"
#include "support/PrivatePulse.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <unistd.h>

using namespace bopling;
using namespace bopling::bench;

namespace {

constexpr int kRate = 48000;
constexpr int kWindowSeconds = 60;
// Long enough after the music for the party to fall asleep and the page to
// settle into its slowest pace.
constexpr int kFallingAsleepSeconds = 20;
constexpr int kClicks = 50;
constexpr int kClickGapMs = 700;
// A quiet bed under the clicks keeps the analyzer out of its silent state, so
// every click is a fresh onset rather than the end of a silence.
constexpr float kBedLevel = 0.01f;

using Clock = std::chrono::steady_clock;

// ---- the clicks --------------------------------------------------------------

// 30 ms of a drum-like hit: a decaying low tone plus a noise burst.
std::vector<float> drumHit()
{
    std::vector<float> hit(std::size_t(kRate * 30 / 1000));
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < hit.size(); ++i) {
        const double t = double(i) / kRate;
        const double decay = std::exp(-t * 120);
        noise = noise * 1664525u + 1013904223u;
        const double burst = double(noise >> 8) / double(1u << 24) * 2.0 - 1.0;
        hit[i] = float(0.8 * decay * (0.6 * std::sin(2 * M_PI * 70 * t) + 0.4 * burst));
    }
    return hit;
}

// ---- the page ----------------------------------------------------------------

struct PageStats
{
    int ticks = 0;
    int events = 0;
};

// Asks the page for its statistics and waits for the answer.
std::optional<PageStats> askPage(RendererHost &host)
{
    std::optional<PageStats> stats;
    bool answered = false;
    host.evaluate(ScriptCalls::stats(), [&](const QVariant &result) {
        answered = true;
        const QJsonObject object = QJsonDocument::fromJson(result.toString().toUtf8()).object();
        if (object.isEmpty())
            return;
        PageStats s;
        s.ticks = object.value(QStringLiteral("ticks")).toInt();
        const QJsonObject events = object.value(QStringLiteral("events")).toObject();
        for (auto it = events.begin(); it != events.end(); ++it)
            s.events += it.value().toInt();
        stats = s;
    });
    // A plain event loop: QTest::qWait sleeps between rounds of events, which
    // would hold the answer back by up to 10 ms.
    if (!answered) {
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (answered)
                loop.quit();
        });
        poll.start(1);
        loop.exec();
    }
    return stats;
}

// Runs the event loop for `ms`. QTest::qWait would wake this process every
// 10 ms and count that against the program.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Milliseconds of this thread's CPU that a fixed piece of work takes: a
// minute of noise through an analyzer of its own. The same work at the start
// and at the end of a run shows how fast the machine was meanwhile; on a
// shared virtual machine that can change by half from one run to the next.
double referenceWorkMs()
{
    Analyzer analyzer([] { return 0.0; });
    std::vector<float> block(480);
    std::uint32_t noise = 1;
    timespec start{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    for (int i = 0; i < 6000; ++i) {
        for (float &sample : block) {
            noise = noise * 1664525u + 1013904223u;
            sample = float(noise >> 8) / float(1u << 24) - 0.5f;
        }
        analyzer.push(block, kRate);
    }
    timespec end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    return double(end.tv_sec - start.tv_sec) * 1e3 + double(end.tv_nsec - start.tv_nsec) / 1e6;
}

// Ends a pacat started to play music, and waits for it.
void stopPlaying(std::unique_ptr<QProcess> &player)
{
    if (!player)
        return;
    player->kill();
    player->waitForFinished(5000);
    player.reset();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Writes the demo track's first 55 s as interleaved stereo floats, repeated
// for at least `seconds`, to a raw file for pacat. Block by block, so the
// decoded track never counts against this process's memory.
bool writeDemoTrack(const QString &wav, const QString &raw, double seconds)
{
    QFile out(raw);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // The track ends in five seconds of silence; the loop leaves them out.
    const std::size_t perPass = std::size_t(55 * kRate);
    std::size_t written = 0;
    while (double(written) < seconds * kRate) {
        MonoFileReader reader(wav);
        if (!reader.isOpen() || reader.sampleRate() != kRate)
            return false;
        std::size_t pass = 0;
        std::vector<float> stereo;
        while (pass < perPass) {
            const auto block = reader.nextBlock();
            if (block.empty())
                break;
            const std::size_t take = std::min(block.size(), perPass - pass);
            stereo.clear();
            for (std::size_t i = 0; i < take; ++i) {
                stereo.push_back(block[i]);
                stereo.push_back(block[i]);
            }
            const auto bytes = qint64(stereo.size() * sizeof(float));
            if (out.write(reinterpret_cast<const char *>(stereo.data()), bytes) != bytes)
                return false;
            pass += take;
        }
        if (pass == 0)
            return false;
        written += pass;
    }
    return true;
}

struct ClickTimes
{
    double sinceWritten = 0;  // from when the click went into the player's stream
    double sinceSounding = 0; // from when it was due to leave the sink
};

// Until the page's statistics count more events than before `player`'s next
// click, measured from when the click went into the sink and from when it
// was due to play; none when the page has not counted it within 2 s.
std::optional<ClickTimes> clickLatency(RendererHost &host, ClickPlayer &player)
{
    const auto before = askPage(host);
    if (!before)
        return std::nullopt;
    player.click();
    // The page is asked again whenever something has happened on this
    // thread (the tick that carries the hit is one such event), and at least
    // every millisecond for a host that answers on its own schedule.
    QTimer nudge;
    nudge.start(1);
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < giveUp) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const auto now = askPage(host);
        const auto written = player.written();
        const auto plays = player.plays();
        if (now && written && plays && now->events > before->events) {
            const Clock::time_point seen = Clock::now();
            return ClickTimes{std::chrono::duration<double, std::milli>(seen - *written).count(),
                              std::chrono::duration<double, std::milli>(seen - *plays).count()};
        }
    }
    return std::nullopt;
}

} // namespace

// The N of --memory-minutes=N; 0 without it.
static int memoryMinutes(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (const QByteArray arg(argv[i]); arg.startsWith("--memory-minutes="))
            return std::max(0, arg.mid(17).toInt());
    return 0;
}

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    PrivatePulse pulse(PrivatePulse::Options{{QStringLiteral("bopling_a")}, kRate, 2, false});
    if (!pulse.start()) {
        std::fprintf(stderr, "no sound server: %s\n", qPrintable(pulse.errorString()));
        return 1;
    }
    pulse.exportServer();

    // Music for the whole music window and the two seconds before it.
    const QString music = home.filePath(QStringLiteral("music.raw"));
    if (!writeDemoTrack(QStringLiteral(BOPLING_BINARY_DIR "/demo/bopling-demo.wav"), music,
                        kWindowSeconds + 10)) {
        std::fprintf(stderr, "the demo track is missing; build the demo-track target\n");
        return 1;
    }

    // Start-up as the program does, from before the application object exists.
    QElapsedTimer startUp;
    startUp.start();
    QString wrongRenderer;
    const auto wanted = RendererChoice::fromArguments(argc, argv, &wrongRenderer);
    if (!wrongRenderer.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(wrongRenderer));
        return 2;
    }
    const RendererChoice renderer(wanted.value_or(RendererChoice::Kind::light), argc, argv);
    QApplication app(argc, argv);
    renderer.applicationCreated();
    QApplication::setQuitOnLastWindowClosed(false);
    std::printf("renderer: %s host\n",
                renderer.kind() == RendererChoice::Kind::web ? "web" : "light");

    AppDelegate delegate(QHash<QString, QString>{});
    delegate.makeRendererHost = [&renderer](const QString &webFolder) {
        return renderer.makeHost(webFolder);
    };
    if (!delegate.applicationDidFinishLaunching())
        return 1;
    RendererHost &host = *delegate.rendererHost();
    // The pointer rests away from the panel, as it mostly does while someone
    // works; the panel looks for it less often then.
    QCursor::setPos(0, 0);
    // The first picture: the panel's content has been painted with the page's pixels.
    QWidget *view = host.view();
    const auto drawn = [view] {
        const QImage shot = view->grab().toImage();
        if (shot.isNull())
            return false;
        for (int y = 0; y < shot.height(); y += 8)
            for (int x = 0; x < shot.width(); x += 8)
                if (qAlpha(shot.pixel(x, y)) != 0)
                    return true;
        return false;
    };
    while (!drawn() && startUp.elapsed() < 30000)
        idle(5);
    const double firstFrameMs = double(startUp.nsecsElapsed()) / 1e6;
    std::printf("start-up to the first picture: %.0f ms\n", firstFrameMs);
    // Memory has no high-water mark of its own: it is sampled after each phase,
    // outside the CPU windows (reading every process's files costs CPU too).
    qint64 peakPss = 0;
    qint64 peakDistinct = 0;
    if (!QTest::qWaitFor(
            [&] {
                const auto s = askPage(host);
                return s && s->ticks > 0;
            },
            30000)) {
        std::fprintf(stderr, "the page never took a tick\n");
        return 1;
    }

    // CPU while music plays, then while all is silent.
    const auto measure = [&](const char *what, int seconds) {
        const QMap<QString, double> before = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        idle(seconds * 1000);
        const QMap<QString, double> after = cpuSeconds();
        const double scale = 60000.0 / double(clock.elapsed());
        double perMinute = 0;
        QStringList parts;
        for (auto it = after.begin(); it != after.end(); ++it) {
            const double used = (it.value() - before.value(it.key())) * scale;
            perMinute += used;
            parts << QStringLiteral("%1 %2 s").arg(it.key()).arg(used, 0, 'f', 2);
        }
        std::printf("%s: %.2f s of CPU per minute (%.1f %% of one core): %s\n", what, perMinute,
                    perMinute / 60.0 * 100.0, qPrintable(parts.join(QStringLiteral(", "))));
        std::fflush(stdout);
        peakPss = std::max(peakPss, pssKb());
        peakDistinct = std::max(peakDistinct, distinctPagesKb());
        return perMinute;
    };
    auto player = pulse.startPlayingFile(QStringLiteral("bopling_a"), music, kRate, 2);
    if (!player) {
        std::fprintf(stderr, "cannot play music: %s\n", qPrintable(pulse.errorString()));
        return 1;
    }
    const double referenceBefore = referenceWorkMs();
    QTest::qWait(2000);
    const double musicCpu = measure("music", kWindowSeconds);
    stopPlaying(player);
    const double fallingAsleepCpu = measure("falling asleep", kFallingAsleepSeconds);
    const double silentCpu = measure("silent", kWindowSeconds);
    std::printf("reference work: %.1f ms of CPU before the music, %.1f ms after the silence\n",
                referenceBefore, referenceWorkMs());

    // One hit with nothing under it, after the silence: the scene has to wake
    // for it.
    std::optional<ClickTimes> firstHit;
    {
        ClickPlayer alone(
            ClickPlayer::Options{"Bopling app bench", "first hit", kRate, 0.0f, drumHit()});
        if (alone.start()) {
            QTest::qWait(500);
            firstHit = clickLatency(host, alone);
        }
    }
    const double firstHitMs = firstHit ? firstHit->sinceSounding : -1;
    std::printf("first hit after the silence to page: %.1f ms from when it played\n", firstHitMs);

    // Clicks over a quiet bed.
    ClickPlayer clicks(
        ClickPlayer::Options{"Bopling app bench", "clicks", kRate, kBedLevel, drumHit()});
    if (!clicks.start()) {
        std::fprintf(stderr, "cannot play clicks\n");
        return 1;
    }
    QTest::qWait(2000);
    std::vector<double> latencies;
    std::vector<double> sinceWritten;
    int missed = 0;
    for (int i = 0; i < kClicks; ++i) {
        if (const auto latency = clickLatency(host, clicks)) {
            latencies.push_back(latency->sinceSounding);
            sinceWritten.push_back(latency->sinceWritten);
        } else {
            ++missed;
        }
        QTest::qWait(kClickGapMs);
    }
    const double clickMedian = latencies.empty() ? -1 : median(latencies);
    const double writtenMedian = sinceWritten.empty() ? -1 : median(sinceWritten);
    std::printf("click to page: median %.1f ms from when the click played over %zu clicks (%d "
                "missed); %.1f ms from when it went into the player's stream\n",
                clickMedian, latencies.size(), missed, writtenMedian);

    // Memory over a long run with music: the tree's PSS after each minute.
    qint64 firstMinute = -1;
    qint64 lastMinute = -1;
    for (int minute = 1; minute <= memoryMinutes(argc, argv); ++minute) {
        auto playing = pulse.startPlayingFile(QStringLiteral("bopling_a"), music, kRate, 2);
        idle(60000);
        stopPlaying(playing);
        lastMinute = pssKb();
        firstMinute = firstMinute < 0 ? lastMinute : firstMinute;
        peakPss = std::max(peakPss, lastMinute);
        const qint64 distinct = distinctPagesKb();
        peakDistinct = std::max(peakDistinct, distinct);
        std::printf("after %d min of music: PSS %.1f MB, %.1f MB counting each page once\n", minute,
                    double(lastMinute) / 1024.0, double(distinct) / 1024.0);
        std::fflush(stdout);
    }

    const qint64 peak = peakMemoryKb();
    peakPss = std::max(peakPss, pssKb());
    peakDistinct = std::max(peakDistinct, distinctPagesKb());
    // Other Qt programs share Qt's pages: PSS then says as much about them.
    const int otherQt = otherQtProcesses();
    const double pssMb = otherQt ? -1 : double(peakPss) / 1024.0;
    std::printf("peak memory: %.1f MB resident (summed)\n", double(peak) / 1024.0);
    if (otherQt)
        std::printf("PSS not given: %d other processes use Qt's libraries\n", otherQt);
    else
        std::printf("PSS of the program's processes, summed: %.1f MB\n", pssMb);
    if (peakDistinct < 0)
        std::printf("pages counted once not given: reading page frame numbers needs root\n");
    else
        std::printf("their physical pages, each counted once and in full however many other "
                    "programs share it: %.1f MB\n",
                    double(peakDistinct) / 1024.0);

    delegate.applicationWillTerminate();
    const std::pair<const char *, double> figures[]{
        {"musicCpuSecondsPerMinute", musicCpu},
        {"fallingAsleepCpuSecondsPerMinute", fallingAsleepCpu},
        {"silentCpuSecondsPerMinute", silentCpu},
        {"peakMemoryMB", double(peak) / 1024.0},
        {"pssMB", pssMb},
        {"distinctPagesMB", double(peakDistinct) / 1024.0},
        {"pssGrowthMB", firstMinute < 0 ? -1.0 : double(lastMinute - firstMinute) / 1024.0},
        {"firstPictureMs", firstFrameMs},
        {"firstHitAfterSilenceMs", firstHitMs},
        {"clickToPageMedianMs", clickMedian},
        {"clickWrittenToPageMedianMs", writtenMedian},
        {"clicks", double(latencies.size())},
        {"missed", double(missed)},
    };
    for (const auto &[name, value] : figures)
        std::printf("figure %s %.2f\n", name, value);
    return latencies.empty() ? 1 : 0;
}
