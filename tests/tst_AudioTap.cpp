#include "audio/AudioTap.h"
#include "audio/VirtualControlQueue.h"
#include "settings/SystemLog.h"
#include "support/FakeCaptureBackend.h"

#include <QStandardPaths>
#include <QTest>

using namespace bopling;

namespace {

// A tap on the fake backend and a virtual-time queue, with its log lines and blocks.
struct Rig
{
    FakeCaptureBackend *backend = new FakeCaptureBackend;
    VirtualControlQueue *queue = new VirtualControlQueue;
    std::unique_ptr<AudioTap> tap{new AudioTap(std::unique_ptr<CaptureBackend>(backend),
                                               std::unique_ptr<VirtualControlQueue>(queue))};
    QStringList log;
    std::vector<std::pair<std::vector<float>, double>> blocks;
    SystemLogSink previousSink = setSystemLogSink([this](const QString &line) { log << line; });

    Rig()
    {
        tap->onSamples = [this](const std::vector<float> &s, double rate) {
            blocks.emplace_back(s, rate);
        };
    }
    ~Rig()
    {
        tap.reset();
        setSystemLogSink(previousSink);
    }
    void run(void (AudioTap::*call)())
    {
        (tap.get()->*call)();
        queue->runPending();
    }
    int builds() const { return int(backend->taps.size()); }
    // Notifies a default-output change (to none when `uid` is empty) and lets the debounce run out.
    void switchOutput(const QString &uid)
    {
        backend->outputUID = uid.isEmpty() ? std::nullopt : std::optional(uid);
        backend->fireDefaultOutputChanged();
        queue->runPending();
        queue->advance(AudioTap::kDeviceChangeDebounce);
    }
};

QString rebuildLine(int n)
{
    return QStringLiteral("Bopling: tap rebuild #%1 in the last minute").arg(n);
}

struct Buffer // one buffer of an IO cycle; bytes < 0 means 4 × the samples
{
    QList<float> samples;
    std::uint32_t channels = 1;
    qint64 bytes = -1;
};
using Buffers = QList<Buffer>;

} // namespace

Q_DECLARE_METATYPE(Buffers)

class AudioTapTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void startStopRetry_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<int>>("rebuilds"); // the numbers in the rebuild log lines
        QTest::newRow("start twice builds once") << "start start" << QList<int>{1};
        QTest::newRow("stop then start keeps the stamps") << "start stop start" << QList<int>{1, 2};
        QTest::newRow("retry while stopped does nothing") << "start stop retry" << QList<int>{1};
        QTest::newRow("retry while running clears the stamps") << "start retry" << QList<int>{1, 1};
    }
    void startStopRetry()
    {
        QFETCH(QString, script);
        QFETCH(QList<int>, rebuilds);
        QStringList rebuildLog;
        for (int n : rebuilds)
            rebuildLog << rebuildLine(n);
        Rig rig;
        for (const QString &call : script.split(' '))
            rig.run(call == "start"  ? &AudioTap::start
                    : call == "stop" ? &AudioTap::stop
                                     : &AudioTap::retry);
        const bool running = !script.endsWith("stop retry");
        QCOMPARE(rig.builds(), rebuildLog.size());
        QCOMPARE(rig.log, rebuildLog);
        QCOMPARE(rig.tap->running(), running);
        QCOMPARE(rig.backend->anythingAlive(), running);
        QCOMPARE(rig.backend->listening, running);
    }

    // Default-output switches `gapMs` apart: the sixth rebuild inside 60 s gives up.
    void rebuildWindow_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<bool>("gaveUp");
        QTest::newRow("six inside a minute") << 1'000 << true;
        QTest::newRow("the first has just left the window") << 12'000 << false;
    }
    void rebuildWindow()
    {
        QFETCH(int, gapMs);
        QFETCH(bool, gaveUp);
        Rig rig;
        rig.run(&AudioTap::start);
        for (int i = 1; i <= 5; ++i) {
            rig.queue->advance(std::chrono::milliseconds(gapMs) - AudioTap::kDeviceChangeDebounce);
            rig.switchOutput(QStringLiteral("sink-%1").arg(i));
        }
        QCOMPARE(rig.tap->hasGivenUp(), gaveUp);
        QCOMPARE(rig.builds(), gaveUp ? 5 : 6);
        QCOMPARE(rig.log.last(),
                 gaveUp ? "Bopling: tap rebuilt 5 times in a minute, stopping it" : rebuildLine(5));
        if (!gaveUp)
            return;
        QCOMPARE(rig.tap->lastError(), QStringLiteral("Audio tap kept restarting, stopped"));
        QVERIFY(!rig.backend->anythingAlive() && !rig.backend->listening);

        // Retry starts afresh: no error, a new window, the listener back.
        rig.log.clear();
        rig.run(&AudioTap::retry);
        QVERIFY(rig.tap->running() && !rig.tap->hasGivenUp() && !rig.tap->lastError());
        QCOMPARE(rig.log, QStringList{rebuildLine(1)});
        rig.switchOutput(QStringLiteral("sink-b"));
        QCOMPARE(rig.backend->taps.last(), "sink-b");
    }

    // A build that always fails is retried after 4, 8, ... 300, 300 s; the tenth failure gives up.
    // A default output that vanishes under a running tap fails the same way.
    void failedBuilds_data()
    {
        QTest::addColumn<bool>("outputVanishes");
        QTest::addColumn<QString>("message");
        QTest::newRow("output vanishes") << true << "no output device";
        QTest::newRow("start") << false << "start failed (17)";
    }
    void failedBuilds()
    {
        QFETCH(bool, outputVanishes);
        QFETCH(QString, message);
        Rig rig;
        rig.backend->startStatus = outputVanishes ? 0 : 17;
        rig.run(&AudioTap::start);
        if (outputVanishes)
            rig.switchOutput({});
        QList<qint64> delays;
        for (;;) {
            QVERIFY(!rig.tap->running() && !rig.tap->building());
            QCOMPARE(rig.tap->lastError(), message);
            QVERIFY2(!rig.backend->anythingAlive(), "a failed build left an object behind");
            const auto next = rig.queue->nextTimerIn();
            if (!next)
                break;
            delays << next->count() / 1000;
            rig.queue->runNextTimer();
        }
        QCOMPARE(delays, (QList<qint64>{4, 8, 16, 32, 64, 128, 256, 300, 300}));
        QCOMPARE(rig.log.last(), QStringLiteral("Bopling: tap failed 10 times, giving up"));
        QVERIFY(rig.tap->hasGivenUp() && !rig.backend->listening);
    }

    void staleLossChangesNothing()
    {
        Rig rig;
        rig.run(&AudioTap::start);
        const auto lose = [&] {
            rig.backend->loseCapture(-6);
            rig.queue->runPending();
        };
        // A loss reported by a capture already replaced or stopped changes nothing.
        rig.tap->retry();
        lose();
        QVERIFY(rig.tap->running());
        rig.tap->stop();
        lose();
        QCOMPARE(rig.tap->lastError(), std::nullopt);
        QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
    }

    // One application's streams: its newest playing one is recorded; when it ends
    // the tap runs on without recording; the streams an application starts and
    // ends, however many, never make the tap give up.
    void listeningFollowsTheApplication()
    {
        Rig rig;
        const auto streams = [&](std::vector<PlaybackStream> now) {
            rig.backend->streams = std::move(now);
        };
        streams({{4, "Spotify", "spotify", {}, "sink-a", false},
                 {7, "Spotify", "spotify", {}, "sink-b", true},
                 {9, "Chime", "chime", {}, "sink-a", false}});
        rig.tap->listenTo(QStringLiteral("SPOTIFY"));
        rig.run(&AudioTap::start);
        QCOMPARE(rig.backend->taps, QStringList{"sink-a#4"});
        QCOMPARE(rig.tap->playbackStreams().size(), 3u);

        for (std::uint32_t index = 10; index < 20; ++index) {
            streams({{9, "Chime", "chime", {}, "sink-a", false}}); // the track ended
            rig.backend->loseCapture(-10);
            rig.queue->runPending();
            QVERIFY(rig.tap->running() && !rig.tap->lastError());
            streams({{index, "Spotify", "spotify", {}, "sink-a", false}});
            rig.switchOutput(QStringLiteral("sink-a")); // the server says a stream came
        }
        QVERIFY(!rig.tap->hasGivenUp());
        QCOMPARE(rig.backend->taps.size(), 11);
        QCOMPARE(rig.backend->taps.last(), "sink-a#19");

        rig.tap->listenTo(std::nullopt);
        rig.queue->runPending();
        QCOMPARE(rig.backend->taps.last(), "sink-a");
    }

    // Buffers of one IO cycle and the mono block they give (none = no call at all).
    void conversion_data()
    {
        QTest::addColumn<bool>("interleaved");
        QTest::addColumn<Buffers>("buffers");
        QTest::addColumn<QList<float>>("expected");
        using Mono = QList<float>;
        QTest::newRow("trailing partial frame")
            << true << Buffers{{{1, 3, 5, 7, 9}, 2}} << Mono{2, 6};
        QTest::newRow("bytes not a multiple of 4")
            << true << Buffers{{{1, 3, 5, 7}, 2, 15}} << Mono{2};
        QTest::newRow("absurd channel count")
            << true << Buffers{{{0.1f, 0.2f}, 0x40000001}} << Mono{};
        QTest::newRow("planar, the second buffer shorter")
            << false << Buffers{{{0.1f, 0.2f, 0.3f, 0.4f}}, {{0.5f, 0.6f}}}
            << Mono{0.3f, 0.4f, 0.15f, 0.2f};
        QTest::newRow("no buffers") << true << Buffers{} << Mono{-1};
    }
    void conversion()
    {
        QFETCH(bool, interleaved);
        QFETCH(Buffers, buffers);
        QFETCH(QList<float>, expected);
        Rig rig;
        rig.backend->format =
            CaptureFormat{44100.0, buffers.isEmpty() ? 1 : buffers[0].channels, interleaved};
        rig.run(&AudioTap::start);
        // Each buffer in a heap block of its own size, so a read past it shows in ASan.
        std::vector<std::unique_ptr<float[]>> storage;
        std::vector<AudioBuffer> list;
        for (const Buffer &b : buffers) {
            storage.push_back(std::make_unique<float[]>(b.samples.size()));
            std::copy(b.samples.begin(), b.samples.end(), storage.back().get());
            list.push_back({b.channels, std::uint32_t(b.bytes < 0 ? b.samples.size() * 4 : b.bytes),
                            storage.back().get()});
        }
        rig.backend->deliver(AudioBufferList(list.data(), list.size()));
        QCOMPARE(rig.blocks.size(), expected == QList<float>{-1} ? 0u : 1u);
        if (rig.blocks.empty())
            return;
        const auto &[mono, rate] = rig.blocks.front();
        QCOMPARE(rate, 44100.0);
        QCOMPARE(qsizetype(mono.size()), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(qAbs(mono[i] - expected[i]) < 1e-6f, qPrintable(QString::number(i)));
    }
};

QTEST_GUILESS_MAIN(AudioTapTest)
#include "tst_AudioTap.moc"
