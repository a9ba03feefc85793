#include "audio/AudioTap.h"
#include "audio/ThreadControlQueue.h"
#include "audio/VirtualControlQueue.h"
#include "settings/SystemLog.h"
#include "support/FakeCaptureBackend.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>

#include <future>
#include <thread>

using namespace bopling;
using namespace std::chrono_literals;

namespace {

// A tap on the fake backend and a virtual-time queue, with the log lines it wrote
// and the blocks it delivered.
struct Rig
{
    FakeCaptureBackend *backend = nullptr;
    VirtualControlQueue *queue = nullptr;
    std::unique_ptr<AudioTap> tap;
    QStringList log;
    std::vector<std::pair<std::vector<float>, double>> blocks;
    SystemLogSink previousSink;

    Rig()
    {
        auto fake = std::make_unique<FakeCaptureBackend>();
        auto ctl = std::make_unique<VirtualControlQueue>();
        backend = fake.get();
        queue = ctl.get();
        tap = std::make_unique<AudioTap>(std::move(fake), std::move(ctl));
        tap->onSamples = [this](const std::vector<float> &samples, double rate) {
            blocks.emplace_back(samples, rate);
        };
        previousSink = setSystemLogSink([this](const QString &line) { log << line; });
    }
    ~Rig()
    {
        tap.reset();
        setSystemLogSink(previousSink);
    }
    // A public call and what it enqueued, run.
    void run(void (AudioTap::*call)())
    {
        (tap.get()->*call)();
        queue->runPending();
    }
    int builds() const { return int(backend->calls.filter(QStringLiteral("createTap")).size()); }
    QString lastTapOn() const { return backend->calls.filter(QStringLiteral("createTap")).last(); }
    // Notifies a default-output change (to no output when `uid` is empty) and lets
    // the debounce run out.
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

// One buffer of an IO cycle; bytes < 0 means 4 × the samples given.
struct Buffer
{
    QList<float> samples;
    std::uint32_t channels = 1;
    qint64 bytes = -1;
};
using Buffers = QList<Buffer>;

// Makes one step of every build fail.
using BreakStep = std::function<void(FakeCaptureBackend &)>;

} // namespace

Q_DECLARE_METATYPE(Buffers)
Q_DECLARE_METATYPE(BreakStep)

class AudioTapTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Sequences of public calls, and what they leave behind.
    void startStopRetry_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("builds");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("rebuildLog");

        QTest::newRow("start twice builds once")
            << "start start" << 1 << true << QStringList{rebuildLine(1)};
        QTest::newRow("stop then start keeps the stamps")
            << "start stop start" << 2 << true << QStringList{rebuildLine(1), rebuildLine(2)};
        QTest::newRow("retry while stopped does nothing")
            << "start stop retry" << 1 << false << QStringList{rebuildLine(1)};
        QTest::newRow("retry while running clears the stamps")
            << "start retry" << 2 << true << QStringList{rebuildLine(1), rebuildLine(1)};
    }

    void startStopRetry()
    {
        QFETCH(QString, script);
        QFETCH(int, builds);
        QFETCH(bool, running);
        QFETCH(QStringList, rebuildLog);

        Rig rig;
        for (const QString &call : script.split(' ')) {
            rig.run(call == "start"  ? &AudioTap::start
                    : call == "stop" ? &AudioTap::stop
                                     : &AudioTap::retry);
        }
        QCOMPARE(rig.builds(), builds);
        QCOMPARE(rig.tap->running(), running);
        QCOMPARE(rig.log, rebuildLog);
        QCOMPARE(rig.backend->anythingAlive(), running);
        QCOMPARE(rig.backend->listening, running);
        QVERIFY(!rig.tap->hasGivenUp());
    }

    // Default-output switches `gapMs` apart: the sixth rebuild inside 60 s gives up.
    void rebuildWindow_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<bool>("gaveUp");

        QTest::newRow("six inside a minute") << 1'000 << true;
        QTest::newRow("the first has just left the window") << 12'000 << false;
        QTest::newRow("the first is 5 ms short of leaving it") << 11'999 << true;
    }

    void rebuildWindow()
    {
        QFETCH(int, gapMs);
        QFETCH(bool, gaveUp);

        Rig rig;
        rig.run(&AudioTap::start);
        // The debounce adds 1 s to each switch, so wait gap - 1 s between them.
        for (int i = 1; i <= 5; ++i) {
            rig.queue->advance(std::chrono::milliseconds(gapMs) - AudioTap::kDeviceChangeDebounce);
            rig.switchOutput(QStringLiteral("sink-%1").arg(i));
        }

        QCOMPARE(rig.tap->hasGivenUp(), gaveUp);
        QCOMPARE(rig.tap->running(), !gaveUp);
        if (!gaveUp) {
            QCOMPARE(rig.builds(), 6);
            QCOMPARE(rig.log.last(), rebuildLine(5));
            QCOMPARE(rig.tap->lastError(), std::nullopt);
            return;
        }
        QCOMPARE(rig.builds(), 5);
        QCOMPARE(rig.log, (QStringList{rebuildLine(1), rebuildLine(2), rebuildLine(3),
                                       rebuildLine(4), rebuildLine(5),
                                       "Bopling: tap rebuilt 5 times in a minute, stopping it"}));
        QCOMPARE(rig.tap->lastError(), QStringLiteral("Audio tap kept restarting, stopped"));
        QVERIFY(!rig.backend->anythingAlive());
        QVERIFY(!rig.backend->listening);
        // Given up means no more device checks.
        rig.switchOutput(QStringLiteral("sink-9"));
        QCOMPARE(rig.builds(), 5);

        // Retry starts afresh: no error, a new window, the listener back.
        rig.log.clear();
        rig.run(&AudioTap::retry);
        QVERIFY(!rig.tap->hasGivenUp());
        QVERIFY(rig.tap->running());
        QCOMPARE(rig.tap->lastError(), std::nullopt);
        QCOMPARE(rig.log, QStringList{rebuildLine(1)});
        rig.switchOutput(QStringLiteral("sink-b"));
        QCOMPARE(rig.lastTapOn(), QStringLiteral("createTap sink-b"));
    }

    // Each failing step gives its message; a build that always fails is retried
    // after 4, 8, ... 300, 300 s and the tenth failure gives up with that message.
    void failedBuilds_data()
    {
        QTest::addColumn<BreakStep>("breakStep");
        QTest::addColumn<QString>("message");

        QTest::newRow("no output device")
            << BreakStep([](FakeCaptureBackend &f) { f.outputUID.reset(); }) << "no output device";
        QTest::newRow("tap") << BreakStep([](FakeCaptureBackend &f) { f.tapStatus = -6; })
                             << "tap failed (-6)";
        QTest::newRow("io proc without handle")
            << BreakStep([](FakeCaptureBackend &f) { f.ioWithoutHandle = true; })
            << "io proc failed (0)";
        QTest::newRow("start") << BreakStep([](FakeCaptureBackend &f) { f.startStatus = 17; })
                               << "start failed (17)";
    }

    void failedBuilds()
    {
        QFETCH(BreakStep, breakStep);
        QFETCH(QString, message);

        Rig rig;
        FakeCaptureBackend &fake = *rig.backend;
        breakStep(fake);
        rig.run(&AudioTap::start);
        QList<qint64> delays;
        for (;;) {
            QVERIFY(!rig.tap->running());
            QVERIFY(!rig.tap->building());
            QCOMPARE(rig.tap->lastError(), message);
            QVERIFY2(!fake.anythingAlive(), "a failed build left an object behind");
            const std::optional<std::chrono::milliseconds> next = rig.queue->nextTimerIn();
            if (!next)
                break;
            delays << next->count() / 1000;
            rig.queue->runNextTimer();
        }
        QCOMPARE(delays, (QList<qint64>{4, 8, 16, 32, 64, 128, 256, 300, 300}));
        QCOMPARE(rig.log.filter("tap rebuild #").size(), 10);
        QCOMPARE(rig.log.last(), QStringLiteral("Bopling: tap failed 10 times, giving up"));
        QVERIFY(rig.tap->hasGivenUp());
        QVERIFY(!fake.listening);
    }

    void deviceChangeDebounce()
    {
        Rig rig;
        rig.run(&AudioTap::start);
        const int lookups = rig.backend->uidLookups;

        rig.backend->outputUID = QStringLiteral("sink-b");
        for (int i = 0; i < 3; ++i) {
            if (i > 0)
                rig.queue->advance(300ms);
            rig.backend->fireDefaultOutputChanged();
            rig.queue->runPending();
        }
        rig.queue->advance(999ms);
        QCOMPARE(rig.backend->uidLookups, lookups);
        QCOMPARE(rig.builds(), 1);
        rig.queue->advance(1ms);
        QCOMPARE(rig.builds(), 2);
        QCOMPARE(rig.lastTapOn(), QStringLiteral("createTap sink-b"));
        QVERIFY(rig.tap->running());
        QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
    }

    // What a device check does, by the output before and after the notification.
    void deviceCheck_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("rebuilt");
        QTest::addColumn<QString>("lastError");

        QTest::newRow("same output") << "sink-a"
                                     << "sink-a" << false << "";
        QTest::newRow("another output") << "sink-a"
                                        << "sink-b" << true << "";
        QTest::newRow("output gone") << "sink-a"
                                     << "" << true << "no output device";
        QTest::newRow("output appears while waiting to retry") << ""
                                                               << "sink-a" << true << "";
        QTest::newRow("still none") << ""
                                    << "" << false << "no output device";
    }

    void deviceCheck()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, rebuilt);
        QFETCH(QString, lastError);

        Rig rig;
        rig.backend->outputUID = before.isEmpty() ? std::nullopt : std::optional(before);
        rig.run(&AudioTap::start);
        const qsizetype logged = rig.log.size();
        const int builds = rig.builds();
        rig.switchOutput(after);

        QCOMPARE(rig.log.size() - logged, rebuilt ? 1 : 0);
        QCOMPARE(rig.builds() - builds, rebuilt && !after.isEmpty() ? 1 : 0);
        QCOMPARE(rig.tap->running(), !after.isEmpty());
        QCOMPARE(rig.tap->lastError().value_or(QString()), lastError);
        if (!after.isEmpty()) {
            QCOMPARE(rig.lastTapOn(), QStringLiteral("createTap ") + after);
            // Running again: the old retry timer is gone.
            QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
        }
    }

    void lostCaptureRetries()
    {
        Rig rig;
        rig.run(&AudioTap::start);
        QVERIFY(rig.tap->running());

        rig.backend->outputUID.reset(); // the server is gone
        rig.backend->loseCapture(-6);
        rig.queue->runPending();
        QVERIFY(!rig.tap->running());
        QCOMPARE(rig.tap->lastError(), QStringLiteral("capture lost (-6)"));
        QVERIFY(!rig.backend->anythingAlive());
        QVERIFY(rig.backend->listening);
        QCOMPARE(rig.queue->nextTimerIn(), std::optional(std::chrono::milliseconds(4s)));

        rig.backend->outputUID = QStringLiteral("sink-a"); // and back
        rig.queue->runNextTimer();
        QVERIFY(rig.tap->running());
        QCOMPARE(rig.tap->lastError(), std::nullopt);

        // A loss reported by a capture that was replaced, or stopped, before the
        // report reached the control thread changes nothing.
        rig.tap->retry();
        rig.backend->loseCapture(-6);
        rig.queue->runPending();
        QVERIFY(rig.tap->running());
        rig.tap->stop();
        rig.backend->loseCapture(-6);
        rig.queue->runPending();
        QCOMPARE(rig.tap->lastError(), std::nullopt);
        QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
    }

    // Buffers of one IO cycle and the mono block they give (none = no call at all).
    void conversion_data()
    {
        QTest::addColumn<bool>("interleaved");
        QTest::addColumn<Buffers>("buffers");
        QTest::addColumn<bool>("called");
        QTest::addColumn<QList<float>>("expected");

        using Mono = QList<float>;
        QTest::newRow("interleaved stereo, one frame")
            << true << Buffers{{{0.25f, 0.75f}, 2}} << true << Mono{0.5f};
        QTest::newRow("interleaved, trailing partial frame dropped")
            << true << Buffers{{{1, 3, 5, 7, 9}, 2}} << true << Mono{2, 6};
        QTest::newRow("interleaved, byte size not a multiple of 4")
            << true << Buffers{{{1, 3, 5, 7}, 2, 15}} << true << Mono{2};
        QTest::newRow("interleaved, absurd channel count")
            << true << Buffers{{{0.1f, 0.2f}, 0x40000001}} << true << Mono{};
        QTest::newRow("planar, the second buffer shorter")
            << false << Buffers{{{0.1f, 0.2f, 0.3f, 0.4f}}, {{0.5f, 0.6f}}} << true
            << Mono{0.3f, 0.4f, 0.15f, 0.2f};
        QTest::newRow("no buffers") << true << Buffers{} << false << Mono{};
    }

    void conversion()
    {
        QFETCH(bool, interleaved);
        QFETCH(Buffers, buffers);
        QFETCH(bool, called);
        QFETCH(QList<float>, expected);

        Rig rig;
        const std::uint32_t channels = buffers.isEmpty() ? 1 : buffers[0].channels;
        rig.backend->format = CaptureFormat{44100.0, channels, interleaved};
        rig.run(&AudioTap::start);
        QVERIFY(rig.tap->running());

        // Each buffer in a heap block of its own size, so a read past it shows in ASan.
        std::vector<std::unique_ptr<float[]>> storage;
        std::vector<AudioBuffer> list;
        for (const Buffer &b : buffers) {
            float *data = nullptr;
            if (!b.samples.isEmpty()) {
                storage.push_back(std::make_unique<float[]>(b.samples.size()));
                data = storage.back().get();
                std::copy(b.samples.begin(), b.samples.end(), data);
            }
            const auto bytes = std::uint32_t(b.bytes < 0 ? b.samples.size() * 4 : b.bytes);
            list.push_back(AudioBuffer{b.channels, bytes, data});
        }
        rig.backend->deliver(AudioBufferList(list.data(), list.size()));

        QCOMPARE(rig.blocks.size(), called ? 1u : 0u);
        if (!called)
            return;
        const auto &[mono, rate] = rig.blocks.front();
        QCOMPARE(rate, 44100.0);
        QCOMPARE(qsizetype(mono.size()), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(qAbs(mono[i] - expected[i]) < 1e-6f, qPrintable(QString::number(i)));
    }

    // A sound server that never answers holds a build for 5 s: the way out gives up on the
    // stop at its bound and does not wait for the stuck build again.
    void wayOutIsBoundedWhileABuildHangs()
    {
        auto fake = std::make_unique<FakeCaptureBackend>();
        auto entered = std::make_shared<std::promise<void>>();
        fake->duringCreateTap = [entered] {
            entered->set_value();
            std::this_thread::sleep_for(5s);
        };
        const SystemLogSink previous = setSystemLogSink([](const QString &) {});
        QElapsedTimer clock;
        clock.start();
        auto tap = std::make_unique<AudioTap>(std::move(fake));
        tap->start();
        entered->get_future().wait();
        QVERIFY(!tap->stopAndWait(1.5));
        AudioTap::dispose(std::move(tap));
        QCOMPARE_LT(clock.elapsed(), 2000);
        setSystemLogSink(previous);
    }
};

QTEST_GUILESS_MAIN(AudioTapTest)
#include "tst_AudioTap.moc"
