#include "audio/Analyzer.h"
#include "audio/AudioTap.h"
#include "audio/PulseBackend.h"
#include "settings/SystemLog.h"
#include "support/PrivatePulse.h"

#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numeric>
#include <set>

using namespace bopling;

namespace {

constexpr int kRate = 48000;
constexpr int kTimeoutMs = 15'000;

std::vector<float> stereo(double seconds, bool clicks)
{
    return PrivatePulse::testSignal(kRate, seconds, clicks);
}

// What reached onSamples, shared with the audio thread, and an analyzer fed with it.
struct Captured
{
    std::mutex lock;
    std::vector<float> samples;
    std::vector<std::size_t> blocks; // their sizes, in order
    std::set<double> rates;
    Analyzer analyzer;

    void take(const std::vector<float> &block, double rate)
    {
        analyzer.push(block, rate);
        std::lock_guard guard(lock);
        samples.insert(samples.end(), block.begin(), block.end());
        blocks.push_back(block.size());
        rates.insert(rate);
    }
    std::size_t size()
    {
        std::lock_guard guard(lock);
        return samples.size();
    }
    // The largest of the last `count` blocks.
    std::size_t largestRecentBlock(std::size_t count)
    {
        std::lock_guard guard(lock);
        const auto from = blocks.end() - qsizetype(std::min(count, blocks.size()));
        return from == blocks.end() ? 0 : *std::max_element(from, blocks.end());
    }
    float peakSince(std::size_t from)
    {
        std::lock_guard guard(lock);
        return std::accumulate(samples.begin() + qsizetype(from), samples.end(), 0.0f,
                               [](float peak, float x) { return std::max(peak, std::abs(x)); });
    }
};

} // namespace

// AudioTap with the libpulse backend against a private PulseAudio daemon with two
// null sinks and a sine source that stands for a microphone.
class AudioTapPulseTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        pulse = std::make_unique<PrivatePulse>(PrivatePulse::Options{.sineSource = true});
        QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
        pulse->exportServer();
        setSystemLogSink([this](const QString &line) {
            std::lock_guard guard(logLock);
            log << line;
        });
    }

    void init()
    {
        if (!pulse->isRunning())
            QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
        QVERIFY(pulse->setDefaultSink(QStringLiteral("bopling_a")));
        captured = std::make_unique<Captured>();
        std::lock_guard guard(logLock);
        log.clear();
    }

    void cleanup()
    {
        if (player)
            stopPlaying(player);
        tap.reset(); // stops and waits, so nothing is captured any more
    }

    void clickTrackReachesOnSamples()
    {
        QCOMPARE(pulse->defaultSource(), QStringLiteral("bopling_mic"));
        QVERIFY2(startTap(), qPrintable(tapError()));
        // The one stream records from the default sink's monitor, never the "microphone".
        const QList<PrivatePulse::SourceOutput> outputs = pulse->sourceOutputs();
        QCOMPARE(outputs.size(), 1);
        QCOMPARE(outputs[0].applicationName + "/" + outputs[0].mediaName, "Bopling/Bopling Tap");
        QCOMPARE(sourceNames().value(outputs[0].source), QStringLiteral("bopling_a.monitor"));
        QVERIFY2(play("bopling_a", stereo(1.0, true)), qPrintable(pulse->errorString()));
        QString events;
        double loudness = 0.0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const Snapshot snapshot = captured->analyzer.takeSnapshot();
                events += snapshot.events;
                loudness = std::max(loudness, snapshot.levels[3]);
                return events.size() >= 3 && loudness > 0.0 && captured->size() > 2u * kRate;
            },
            kTimeoutMs));
        QVERIFY(tap->stopAndWait(10.0));

        // Mono at the sink's rate: the left-only clicks of 0.8 arrive at half height.
        QCOMPARE(captured->rates, (std::set<double>{double(kRate)}));
        const float peak = captured->peakSince(0);
        QVERIFY2(peak > 0.39f && peak < 0.41f, qPrintable(QString::number(peak)));
    }

    // While nothing plays the server hands over a fifth of a second at a time
    // instead of 10 ms; sound brings the small blocks back.
    void quietCaptureTakesLargeBlocks()
    {
        QVERIFY2(startTap(), qPrintable(tapError()));
        QVERIFY2(QTest::qWaitFor([&] { return captured->largestRecentBlock(1) >= kRate / 10; },
                                 kTimeoutMs),
                 "the blocks stay small in silence");
        QVERIFY2(play("bopling_a", stereo(1.0, false)), qPrintable(pulse->errorString()));
        QVERIFY2(QTest::qWaitFor([&] { return captured->largestRecentBlock(10) <= kRate / 40; },
                                 kTimeoutMs),
                 "the blocks stay large with sound");
    }

    void resumesAfterServerRestart()
    {
        QVERIFY2(startTap(), qPrintable(tapError()));
        pulse->kill();
        QVERIFY(
            QTest::qWaitFor([&] { return tapError().startsWith("capture lost (-"); }, kTimeoutMs));
        QVERIFY(!tap->running() && !tap->hasGivenUp());

        QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
        // The retry timer brings it back; nobody calls retry.
        QVERIFY2(QTest::qWaitFor([&] { return tap->running(); }, 30'000), qPrintable(tapError()));
        QCOMPARE(tap->lastError(), std::nullopt);
        const std::size_t mark = captured->size();
        QVERIFY2(play("bopling_a", stereo(1.0, false)), qPrintable(pulse->errorString()));
        QVERIFY(QTest::qWaitFor([&] { return captured->peakSince(mark) > 0.45f; }, kTimeoutMs));
    }

    // The default output disappears (a headset unplugged): the capture must follow the
    // server's new default sink rather than be moved onto the microphone.
    void unpluggedOutputFallsBackToTheNewDefault()
    {
        const auto module =
            pulse->loadModule("module-null-sink",
                              {"sink_name=bopling_headset", QStringLiteral("rate=%1").arg(kRate)});
        QVERIFY2(module, qPrintable(pulse->errorString()));
        QVERIFY(pulse->setDefaultSink(QStringLiteral("bopling_headset")));
        QVERIFY2(startTap(), qPrintable(tapError()));

        const QMap<QString, QString> names = sourceNames();
        const std::size_t mark = captured->size();
        QVERIFY(pulse->unloadModule(*module));
        // Until the tap has rebuilt on the new default, its stream is never seen on
        // anything but a monitor (the server would move it to the default source).
        QStringList recordedFrom;
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (const PrivatePulse::SourceOutput &output : pulse->sourceOutputs())
                    if (output.applicationName == "Bopling")
                        recordedFrom << names.value(output.source, output.source);
                return rebuilds() >= 2 && tap->running();
            },
            kTimeoutMs));
        for (const QString &source : recordedFrom)
            QVERIFY2(source.endsWith(QStringLiteral(".monitor")), qPrintable(source));
        QCOMPARE(sourceNames().value(pulse->sourceOutputs().value(0).source), "bopling_a.monitor");
        const std::size_t rebuilt = captured->size();
        QVERIFY(
            QTest::qWaitFor([&] { return captured->size() > rebuilt + kRate / 2; }, kTimeoutMs));
        // Nothing plays anywhere, so anything heard would be the sine "microphone".
        QCOMPARE(captured->peakSince(mark), 0.0f);
    }

    // Two applications play into the sink at once: clicks (left only, so 0.4 in
    // mono, silence between them) and a steady tone of 0.5. Listening to the
    // clicks hears them alone, also after the tone stops; when they stop the
    // tap hears nothing, the tone playing again included; their next stream is
    // heard again.
    void listensToOneApplication()
    {
        auto clicks = pulse->startPlaying("bopling_a", stereo(1.0, true), kRate, 2, 60, "Clicker");
        auto tone = pulse->startPlaying("bopling_a", stereo(1.0, false), kRate, 2, 60, "toner");
        QVERIFY2(clicks && tone, qPrintable(pulse->errorString()));
        QVERIFY2(startTap(kTimeoutMs, QStringLiteral("clicker")), qPrintable(tapError()));
        const auto onlyClicks = [&](std::size_t from) {
            const float peak = captured->peakSince(from);
            return peak > 0.39f && peak < 0.41f;
        };
        QVERIFY(QTest::qWaitFor([&] { return captured->size() > std::size_t(kRate); }, kTimeoutMs));
        QVERIFY2(onlyClicks(0), qPrintable(QString::number(captured->peakSince(0))));

        stopPlaying(tone);
        std::size_t mark = captured->size();
        QVERIFY(QTest::qWaitFor([&] { return captured->size() > mark + kRate; }, kTimeoutMs));
        QVERIFY(onlyClicks(mark));

        const int before = rebuilds();
        stopPlaying(clicks);
        QVERIFY(QTest::qWaitFor([&] { return rebuilds() > before; }, kTimeoutMs));
        tone = pulse->startPlaying("bopling_a", stereo(1.0, false), kRate, 2, 60, "toner");
        mark = captured->size();
        QTest::qWait(1500);
        QVERIFY(tap->running() && !tap->lastError());
        QCOMPARE(captured->peakSince(mark), 0.0f);
        QCOMPARE(pulse->countSourceOutputs(QStringLiteral("Bopling")), 0);

        clicks = pulse->startPlaying("bopling_b", stereo(1.0, true), kRate, 2, 60, "Clicker");
        QVERIFY(QTest::qWaitFor([&] { return captured->size() > mark + kRate; }, kTimeoutMs));
        QVERIFY(onlyClicks(mark));
        stopPlaying(clicks);
        stopPlaying(tone);
    }

private:
    static void stopPlaying(std::unique_ptr<QProcess> &player)
    {
        player->kill();
        player->waitForFinished();
        player.reset();
    }
    // A new tap on the libpulse backend, started (listening to `application`
    // when given); true once it runs.
    bool startTap(int waitMs = kTimeoutMs, const std::optional<QString> &application = {})
    {
        tap = std::make_unique<AudioTap>(std::make_unique<PulseBackend>());
        tap->listenTo(application);
        tap->onSamples = [this](const std::vector<float> &block, double rate) {
            captured->take(block, rate);
        };
        tap->start();
        return QTest::qWaitFor([&] { return tap->running(); }, waitMs);
    }
    QString tapError() const { return tap ? tap->lastError().value_or("not running") : ""; }
    // Plays the frames into `sink` in a loop until the test ends.
    bool play(const char *sink, const std::vector<float> &frames)
    {
        player = pulse->startPlaying(QString::fromLatin1(sink), frames, kRate, 2, 30.0);
        return player != nullptr;
    }
    int rebuilds()
    {
        std::lock_guard guard(logLock);
        return int(log.filter(QStringLiteral("tap rebuild #")).size());
    }
    // Source index → source name.
    QMap<QString, QString> sourceNames()
    {
        QMap<QString, QString> names;
        for (const QString &line :
             pulse->pactl({"list", "short", "sources"}).value_or("").split('\n'))
            if (const QStringList fields = line.split('\t'); fields.size() > 1)
                names.insert(fields[0], fields[1]);
        return names;
    }

    std::unique_ptr<PrivatePulse> pulse;
    std::unique_ptr<Captured> captured;
    std::unique_ptr<AudioTap> tap;
    std::unique_ptr<QProcess> player;
    std::mutex logLock;
    QStringList log;
};

QTEST_GUILESS_MAIN(AudioTapPulseTest)
#include "tst_AudioTapPulse.moc"
