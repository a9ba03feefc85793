#include "audio/Analyzer.h"
#include "audio/AudioTap.h"
#include "audio/PulseBackend.h"
#include "settings/SystemLog.h"
#include "support/PrivatePulse.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <mutex>
#include <set>

using namespace bopling;

namespace {

constexpr int kRate = 48000;
constexpr int kTimeoutMs = 15'000;

// A click every half second, on the left channel only: 20 ms of a decaying
// square wave that starts at full height 0.8.
std::vector<float> clickTrack(double seconds)
{
    const int frames = int(seconds * kRate);
    std::vector<float> out(std::size_t(frames) * 2, 0.0f);
    for (int f = 0; f < frames; ++f) {
        const int n = f % (kRate / 2);
        if (n < kRate / 50) {
            const double t = double(n) / kRate;
            const double square = std::fmod(t * 150.0, 1.0) < 0.5 ? 1.0 : -1.0;
            out[std::size_t(f) * 2] = float(0.8 * std::exp(-t / 0.005) * square);
        }
    }
    return out;
}

std::vector<float> tone(double seconds, double amplitude)
{
    const int frames = int(seconds * kRate);
    std::vector<float> out(std::size_t(frames) * 2);
    for (int f = 0; f < frames; ++f)
        out[std::size_t(f) * 2] = out[std::size_t(f) * 2 + 1] =
            float(amplitude * std::sin(2.0 * M_PI * 441.0 * f / kRate));
    return out;
}

// What reached onSamples, shared with the audio thread.
struct Captured
{
    std::mutex lock;
    std::vector<float> samples;
    std::set<double> rates;
    Analyzer *analyzer = nullptr;

    void take(const std::vector<float> &block, double rate)
    {
        if (analyzer)
            analyzer->push(block, rate);
        std::lock_guard guard(lock);
        samples.insert(samples.end(), block.begin(), block.end());
        rates.insert(rate);
    }
    std::size_t size()
    {
        std::lock_guard guard(lock);
        return samples.size();
    }
    float peakSince(std::size_t from)
    {
        std::lock_guard guard(lock);
        float peak = 0.0f;
        for (std::size_t i = from; i < samples.size(); ++i)
            peak = std::max(peak, std::abs(samples[i]));
        return peak;
    }
};

// Ends a player from PrivatePulse::startPlaying quietly.
void stopPlaying(std::unique_ptr<QProcess> &player)
{
    if (!player)
        return;
    player->kill();
    player->waitForFinished();
    player.reset();
}

} // namespace

// AudioTap with the libpulse backend against a private PulseAudio daemon with two
// null sinks and a sine source that stands for a microphone.
class AudioTapPulseTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void clickTrackReachesOnSamples();
    void microphoneIsNeverCaptured();
    void followsTheDefaultSink();
    void resumesAfterServerRestart();
    void unpluggedOutputFallsBackToTheNewDefault();
    void stopLeavesNoStream();
    void stopAndWaitWithBusyControlThread();

private:
    std::unique_ptr<AudioTap> makeTap();
    bool waitRunning(AudioTap &tap)
    {
        return QTest::qWaitFor([&] { return tap.running(); }, kTimeoutMs);
    }

    // Source index → source name.
    QMap<QString, QString> sourceNames()
    {
        QMap<QString, QString> names;
        for (const QString &line :
             pulse->pactl({"list", "short", "sources"}).value_or(QString()).split('\n')) {
            const QStringList fields = line.split('\t');
            if (fields.size() > 1)
                names.insert(fields[0], fields[1]);
        }
        return names;
    }

    std::unique_ptr<PrivatePulse> pulse;
    Captured captured;
    std::mutex logLock;
    QStringList log;
    int rebuilds()
    {
        std::lock_guard guard(logLock);
        return int(log.filter(QStringLiteral("tap rebuild #")).size());
    }
};

void AudioTapPulseTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    PrivatePulse::Options options;
    options.sineSource = true;
    pulse = std::make_unique<PrivatePulse>(options);
    QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
    pulse->exportServer();
    setSystemLogSink([this](const QString &line) {
        std::lock_guard guard(logLock);
        log << line;
    });
}

void AudioTapPulseTest::init()
{
    if (!pulse->isRunning())
        QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
    QVERIFY(pulse->setDefaultSink(QStringLiteral("bopling_a")));
    std::lock_guard guard(logLock);
    log.clear();
}

void AudioTapPulseTest::cleanup()
{
    pulse->resume();
    std::lock_guard guard(captured.lock);
    captured.samples.clear();
    captured.rates.clear();
    captured.analyzer = nullptr;
}

std::unique_ptr<AudioTap> AudioTapPulseTest::makeTap()
{
    auto tap = std::make_unique<AudioTap>(std::make_unique<PulseBackend>());
    tap->onSamples = [this](const std::vector<float> &block, double rate) {
        captured.take(block, rate);
    };
    return tap;
}

void AudioTapPulseTest::clickTrackReachesOnSamples()
{
    Analyzer analyzer;
    captured.analyzer = &analyzer;
    auto tap = makeTap();
    tap->start();
    QVERIFY2(waitRunning(*tap), qPrintable(tap->lastError().value_or("not running")));

    auto player = pulse->startPlaying(QStringLiteral("bopling_a"), clickTrack(1.0), kRate, 2, 20.0);
    QVERIFY2(player, qPrintable(pulse->errorString()));
    QString events;
    double loudness = 0.0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const Snapshot snapshot = analyzer.takeSnapshot();
            events += snapshot.events;
            loudness = std::max(loudness, snapshot.levels[3]);
            return events.size() >= 3 && loudness > 0.0 && captured.size() > std::size_t(2 * kRate);
        },
        kTimeoutMs));
    stopPlaying(player);
    QVERIFY(tap->stopAndWait(10.0));

    // Mono at the sink's rate: the left-only clicks of 0.8 arrive at half height.
    {
        std::lock_guard guard(captured.lock);
        QCOMPARE(captured.rates, (std::set<double>{double(kRate)}));
    }
    const float peak = captured.peakSince(0);
    QVERIFY2(peak > 0.39f && peak < 0.41f, qPrintable(QString::number(peak)));
    QVERIFY(loudness > 0.0);
}

void AudioTapPulseTest::microphoneIsNeverCaptured()
{
    QCOMPARE(pulse->defaultSource(), QStringLiteral("bopling_mic"));
    auto tap = makeTap();
    tap->start();
    QVERIFY2(waitRunning(*tap), qPrintable(tap->lastError().value_or("not running")));
    // A second of the silent sink while the "microphone" sings.
    QVERIFY(QTest::qWaitFor([&] { return captured.size() > std::size_t(kRate); }, kTimeoutMs));
    QCOMPARE(captured.peakSince(0), 0.0f);

    // The one stream records from the default sink's monitor.
    QList<PrivatePulse::SourceOutput> outputs = pulse->sourceOutputs();
    QCOMPARE(outputs.size(), 1);
    QCOMPARE(outputs[0].applicationName, QStringLiteral("Bopling"));
    QCOMPARE(outputs[0].mediaName, QStringLiteral("Bopling Tap"));
    QCOMPARE(sourceNames().value(outputs[0].source), QStringLiteral("bopling_a.monitor"));
}

void AudioTapPulseTest::followsTheDefaultSink()
{
    auto tap = makeTap();
    tap->start();
    QVERIFY2(waitRunning(*tap), qPrintable(tap->lastError().value_or("not running")));
    QCOMPARE(rebuilds(), 1);

    auto player = pulse->startPlaying(QStringLiteral("bopling_b"), tone(1.0, 0.5), kRate, 2, 30.0);
    QVERIFY2(player, qPrintable(pulse->errorString()));
    QVERIFY(QTest::qWaitFor([&] { return captured.size() > std::size_t(kRate / 2); }, kTimeoutMs));
    QCOMPARE(captured.peakSince(0), 0.0f); // still on the silent sink

    const std::size_t mark = captured.size();
    QVERIFY(pulse->setDefaultSink(QStringLiteral("bopling_b")));
    QVERIFY(QTest::qWaitFor([&] { return rebuilds() == 2; }, kTimeoutMs));
    QVERIFY(QTest::qWaitFor([&] { return tap->running() && captured.peakSince(mark) > 0.45f; },
                            kTimeoutMs));
    QVERIFY(QTest::qWaitFor([&] { return pulse->countSourceOutputs("Bopling") == 1; }, kTimeoutMs));

    // The same sink again, and server changes that leave the sink alone: no rebuild.
    QVERIFY(pulse->setDefaultSink(QStringLiteral("bopling_b")));
    QVERIFY(pulse->setDefaultSource(QStringLiteral("bopling_b.monitor")));
    QVERIFY(pulse->setDefaultSource(QStringLiteral("bopling_mic")));
    QTest::qWait(int(AudioTap::kDeviceChangeDebounce.count()) * 2 + 500);
    QCOMPARE(rebuilds(), 2);
    QVERIFY(tap->running());
    const std::size_t later = captured.size();
    QVERIFY(QTest::qWaitFor([&] { return captured.peakSince(later) > 0.45f; }, kTimeoutMs));
    stopPlaying(player);
}

void AudioTapPulseTest::resumesAfterServerRestart()
{
    auto tap = makeTap();
    tap->start();
    QVERIFY2(waitRunning(*tap), qPrintable(tap->lastError().value_or("not running")));

    pulse->kill();
    QVERIFY(QTest::qWaitFor(
        [&] {
            return tap->lastError().value_or(QString()).startsWith(
                QStringLiteral("capture lost (-"));
        },
        kTimeoutMs));
    QVERIFY(!tap->running());
    QVERIFY(!tap->hasGivenUp());

    QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
    // The retry timer brings it back; nobody calls retry.
    QVERIFY2(QTest::qWaitFor([&] { return tap->running(); }, 30'000),
             qPrintable(tap->lastError().value_or(QString())));
    QCOMPARE(tap->lastError(), std::nullopt);
    const std::size_t mark = captured.size();
    auto player = pulse->startPlaying(QStringLiteral("bopling_a"), tone(1.0, 0.5), kRate, 2, 30.0);
    QVERIFY2(player, qPrintable(pulse->errorString()));
    QVERIFY(QTest::qWaitFor([&] { return captured.peakSince(mark) > 0.45f; }, kTimeoutMs));
    stopPlaying(player);
}

// The default output disappears (a headset unplugged): the server picks another
// default sink, and the capture must follow it rather than be moved onto the
// microphone.
void AudioTapPulseTest::unpluggedOutputFallsBackToTheNewDefault()
{
    const std::optional<quint32> module = pulse->loadModule(
        QStringLiteral("module-null-sink"),
        {QStringLiteral("sink_name=bopling_headset"), QStringLiteral("rate=%1").arg(kRate)});
    QVERIFY2(module, qPrintable(pulse->errorString()));
    QVERIFY(pulse->setDefaultSink(QStringLiteral("bopling_headset")));
    auto tap = makeTap();
    tap->start();
    QVERIFY2(waitRunning(*tap), qPrintable(tap->lastError().value_or("not running")));

    const QMap<QString, QString> names = sourceNames();
    const std::size_t mark = captured.size();
    QVERIFY(pulse->unloadModule(*module));
    // Until the tap has rebuilt on the new default, its stream is never seen on
    // anything but a monitor (the server would move it to the default source).
    QStringList recordedFrom;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (const PrivatePulse::SourceOutput &output : pulse->sourceOutputs()) {
                if (output.applicationName == QStringLiteral("Bopling"))
                    recordedFrom << names.value(output.source, output.source);
            }
            return rebuilds() >= 2 && tap->running();
        },
        kTimeoutMs));
    for (const QString &source : recordedFrom)
        QVERIFY2(source.endsWith(QStringLiteral(".monitor")), qPrintable(source));
    QCOMPARE(sourceNames().value(pulse->sourceOutputs().value(0).source),
             QStringLiteral("bopling_a.monitor"));
    const std::size_t rebuilt = captured.size();
    QVERIFY(QTest::qWaitFor([&] { return captured.size() > rebuilt + kRate / 2; }, kTimeoutMs));
    // Nothing plays anywhere, so anything heard would be the sine "microphone".
    QCOMPARE(captured.peakSince(mark), 0.0f);
}

void AudioTapPulseTest::stopLeavesNoStream()
{
    auto tap = makeTap();
    for (const bool waiting : {false, true}) {
        tap->start();
        QVERIFY2(waitRunning(*tap), qPrintable(tap->lastError().value_or("not running")));
        QVERIFY(
            QTest::qWaitFor([&] { return pulse->countSourceOutputs("Bopling") == 1; }, kTimeoutMs));
        if (waiting) {
            QVERIFY(tap->stopAndWait(1.5));
        } else {
            tap->stop();
        }
        QVERIFY(QTest::qWaitFor([&] { return !tap->running(); }, kTimeoutMs));
        QVERIFY(
            QTest::qWaitFor([&] { return pulse->countSourceOutputs("Bopling") == 0; }, kTimeoutMs));
    }
}

void AudioTapPulseTest::stopAndWaitWithBusyControlThread()
{
    // A server that hangs keeps the control thread in its build.
    pulse->pause();
    auto tap = makeTap();
    tap->start();
    QVERIFY(QTest::qWaitFor([&] { return tap->building(); }, kTimeoutMs));

    QElapsedTimer clock;
    clock.start();
    const bool stopped = tap->stopAndWait(1.5);
    const qint64 waitedMs = clock.elapsed();
    QVERIFY(!stopped);
    QVERIFY2(waitedMs < 2500, qPrintable(QString::number(waitedMs)));

    // The stop still happens once the build is over.
    pulse->resume();
    QVERIFY(QTest::qWaitFor([&] { return !tap->building() && !tap->running(); }, kTimeoutMs));
    QVERIFY(QTest::qWaitFor([&] { return pulse->countSourceOutputs("Bopling") == 0; }, kTimeoutMs));
}

QTEST_GUILESS_MAIN(AudioTapPulseTest)
#include "tst_AudioTapPulse.moc"
