#include "audio/AudioTap.h"
#include "audio/ThreadControlQueue.h"
#include "audio/VirtualControlQueue.h"
#include "settings/SystemLog.h"
#include "support/FakeCaptureBackend.h"

#include <QStandardPaths>
#include <QTest>

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace bopling;
using namespace std::chrono_literals;

namespace {

// A tap on the fake backend and a virtual-time queue, with the log lines it wrote.
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
    int builds() const { return int(backend->calls.filter(QStringLiteral("createTap")).size()); }
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

} // namespace

class AudioTapTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void startStopRetry_data();
    void startStopRetry();
    void rebuildWindow_data();
    void rebuildWindow();
    void retryAfterGivingUpStartsAfresh();
    void failedBuilds_data();
    void failedBuilds();
    void deviceChangeDebounce();
    void deviceCheck_data();
    void deviceCheck();
    void lostCaptureRetries();
    void stopTearsDownInOrder();
    void conversion_data();
    void conversion();
    void formatReadKeepsPreviousValues();
    void stopAndWaitOnControlThread();
};

// Sequences of public calls, and what they leave behind.
void AudioTapTest::startStopRetry_data()
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
    QTest::newRow("retry before start does nothing") << "retry" << 0 << false << QStringList{};
    QTest::newRow("retry while running clears the stamps")
        << "start retry" << 2 << true << QStringList{rebuildLine(1), rebuildLine(1)};
}

void AudioTapTest::startStopRetry()
{
    QFETCH(QString, script);
    QFETCH(int, builds);
    QFETCH(bool, running);
    QFETCH(QStringList, rebuildLog);

    Rig rig;
    for (const QString &call : script.split(' ')) {
        if (call == "start")
            rig.tap->start();
        else if (call == "stop")
            rig.tap->stop();
        else
            rig.tap->retry();
        rig.queue->runPending();
    }
    QCOMPARE(rig.builds(), builds);
    QCOMPARE(rig.tap->running(), running);
    QCOMPARE(rig.log, rebuildLog);
    QCOMPARE(rig.backend->anythingAlive(), running);
    QCOMPARE(rig.backend->listening, running);
    QVERIFY(!rig.tap->hasGivenUp());
}

// Default-output switches `gapMs` apart: the sixth rebuild inside 60 s gives up.
void AudioTapTest::rebuildWindow_data()
{
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<bool>("gaveUp");

    QTest::newRow("six inside a minute") << 1'000 << true;
    QTest::newRow("the first has just left the window") << 12'000 << false;
    QTest::newRow("the first is 5 ms short of leaving it") << 11'999 << true;
}

void AudioTapTest::rebuildWindow()
{
    QFETCH(int, gapMs);
    QFETCH(bool, gaveUp);

    Rig rig;
    rig.tap->start();
    rig.queue->runPending();
    // The debounce adds 1 s to each switch, so wait gap - 1 s between them.
    for (int i = 1; i <= 5; ++i) {
        rig.queue->advance(std::chrono::milliseconds(gapMs) - AudioTap::kDeviceChangeDebounce);
        rig.switchOutput(QStringLiteral("sink-%1").arg(i));
    }

    QCOMPARE(rig.tap->hasGivenUp(), gaveUp);
    QCOMPARE(rig.tap->running(), !gaveUp);
    if (gaveUp) {
        QCOMPARE(rig.builds(), 5);
        QCOMPARE(rig.log.mid(0, 5), (QStringList{rebuildLine(1), rebuildLine(2), rebuildLine(3),
                                                 rebuildLine(4), rebuildLine(5)}));
        QCOMPARE(rig.log.last(),
                 QStringLiteral("Bopling: tap rebuilt 5 times in a minute, stopping it"));
        QCOMPARE(rig.tap->lastError(), QStringLiteral("Audio tap kept restarting, stopped"));
        QVERIFY(!rig.backend->anythingAlive());
        QVERIFY(!rig.backend->listening);
        // Given up means no more device checks.
        rig.switchOutput(QStringLiteral("sink-9"));
        QCOMPARE(rig.builds(), 5);
    } else {
        QCOMPARE(rig.builds(), 6);
        QCOMPARE(rig.log.last(), rebuildLine(5));
        QCOMPARE(rig.tap->lastError(), std::nullopt);
    }
}

void AudioTapTest::retryAfterGivingUpStartsAfresh()
{
    Rig rig;
    rig.tap->start();
    rig.queue->runPending();
    for (int i = 1; i <= 5; ++i)
        rig.switchOutput(QStringLiteral("sink-%1").arg(i));
    QVERIFY(rig.tap->hasGivenUp());

    rig.log.clear();
    rig.tap->retry();
    rig.queue->runPending();
    QVERIFY(!rig.tap->hasGivenUp());
    QVERIFY(rig.tap->running());
    QCOMPARE(rig.tap->lastError(), std::nullopt);
    QCOMPARE(rig.log, QStringList{rebuildLine(1)});
    QVERIFY(rig.backend->listening);
    // The listener is back: a switch is followed again.
    rig.switchOutput(QStringLiteral("sink-b"));
    QCOMPARE(rig.backend->calls.filter("createTap").last(), QStringLiteral("createTap sink-b"));
}

// Each failing step gives its message; a build that always fails is retried
// after 4, 8, ... 300, 300 s and the tenth failure gives up with that message.
void AudioTapTest::failedBuilds_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("message");

    QTest::newRow("no output device") << "uid"
                                      << "no output device";
    QTest::newRow("tap") << "tap"
                         << "tap failed (-6)";
    QTest::newRow("aggregate") << "aggregate"
                               << "aggregate device failed (-2147483647)";
    QTest::newRow("io proc") << "io"
                             << "io proc failed (-5)";
    QTest::newRow("io proc without handle") << "io-handle"
                                            << "io proc failed (0)";
    QTest::newRow("start") << "start"
                           << "start failed (17)";
}

void AudioTapTest::failedBuilds()
{
    QFETCH(QString, step);
    QFETCH(QString, message);

    Rig rig;
    FakeCaptureBackend &fake = *rig.backend;
    if (step == "uid")
        fake.outputUID.reset();
    else if (step == "tap")
        fake.tapStatus = -6;
    else if (step == "aggregate")
        fake.aggregateStatus = -2147483647;
    else if (step == "io")
        fake.ioStatus = -5;
    else if (step == "io-handle")
        fake.ioWithoutHandle = true;
    else
        fake.startStatus = 17;

    rig.tap->start();
    rig.queue->runPending();
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
    QCOMPARE(rig.tap->lastError(), message);
    QVERIFY(!fake.listening);

    // Retry brings it back, here with a working device.
    fake.outputUID = QStringLiteral("sink-a");
    fake.tapStatus = fake.aggregateStatus = fake.ioStatus = fake.startStatus = 0;
    fake.ioWithoutHandle = false;
    rig.tap->retry();
    rig.queue->runPending();
    QVERIFY(rig.tap->running());
    QCOMPARE(rig.tap->lastError(), std::nullopt);
}

void AudioTapTest::deviceChangeDebounce()
{
    Rig rig;
    rig.tap->start();
    rig.queue->runPending();
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
    QCOMPARE(rig.backend->calls.filter("createTap").last(), QStringLiteral("createTap sink-b"));
    QVERIFY(rig.tap->running());
    QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
}

// What a device check does, by the output before and after the notification.
void AudioTapTest::deviceCheck_data()
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

void AudioTapTest::deviceCheck()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, rebuilt);
    QFETCH(QString, lastError);

    auto uid = [](const QString &name) {
        return name.isEmpty() ? std::nullopt : std::optional(name);
    };
    Rig rig;
    rig.backend->outputUID = uid(before);
    rig.tap->start();
    rig.queue->runPending();
    const qsizetype logged = rig.log.size();
    const int builds = rig.builds();
    rig.switchOutput(after);

    QCOMPARE(rig.log.size() - logged, rebuilt ? 1 : 0);
    QCOMPARE(rig.builds() - builds, rebuilt && !after.isEmpty() ? 1 : 0);
    QCOMPARE(rig.tap->running(), !after.isEmpty());
    QCOMPARE(rig.tap->lastError().value_or(QString()), lastError);
    if (!after.isEmpty()) {
        QCOMPARE(rig.backend->calls.filter("createTap").last(),
                 QStringLiteral("createTap ") + after);
        // Running again: the old retry timer is gone.
        QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
    }
}

void AudioTapTest::lostCaptureRetries()
{
    Rig rig;
    rig.tap->start();
    rig.queue->runPending();
    QVERIFY(rig.tap->running());

    rig.backend->outputUID.reset(); // the server is gone
    rig.backend->loseCapture(-6);
    rig.queue->runPending();
    QVERIFY(!rig.tap->running());
    QCOMPARE(rig.tap->lastError(), QStringLiteral("capture lost (-6)"));
    QVERIFY(!rig.backend->anythingAlive());
    QVERIFY(rig.backend->listening);
    QCOMPARE(rig.queue->nextTimerIn(), std::optional(std::chrono::milliseconds(4s)));

    rig.queue->runNextTimer();
    QCOMPARE(rig.tap->lastError(), QStringLiteral("no output device"));
    QCOMPARE(rig.queue->nextTimerIn(), std::optional(std::chrono::milliseconds(8s)));

    rig.backend->outputUID = QStringLiteral("sink-a"); // and back
    rig.queue->runNextTimer();
    QVERIFY(rig.tap->running());
    QCOMPARE(rig.tap->lastError(), std::nullopt);

    // A loss reported after its capture was replaced changes nothing.
    rig.switchOutput(QStringLiteral("sink-b"));
    QVERIFY(rig.tap->running());
    rig.tap->stop();
    rig.queue->runPending();
    rig.backend->loseCapture(-6);
    rig.queue->runPending();
    QCOMPARE(rig.tap->lastError(), std::nullopt);
    QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
}

void AudioTapTest::stopTearsDownInOrder()
{
    Rig rig;
    rig.backend->tapStatus = -3;
    rig.tap->start();
    rig.queue->runPending();
    rig.backend->tapStatus = 0;
    rig.tap->retry();
    rig.queue->runPending();
    QVERIFY(rig.tap->running());
    rig.backend->calls.clear();

    rig.tap->stop();
    rig.queue->runPending();
    QCOMPARE(rig.backend->calls, (QStringList{"removeListener", "stopDevice", "destroyIoProc",
                                              "destroyAggregate", "destroyTap"}));
    QVERIFY(!rig.tap->running());
    // Nothing pending: no retry timer, no debounce.
    QCOMPARE(rig.queue->nextTimerIn(), std::nullopt);
    // The IO block is gone with the capture.
    const float frame[2] = {1.0f, 1.0f};
    const AudioBuffer buffer{2, 8, frame};
    rig.backend->deliver(AudioBufferList(&buffer, 1));
    QVERIFY(rig.blocks.empty());
}

// Buffers of one IO cycle and the mono block they give (none = no call at all).
void AudioTapTest::conversion_data()
{
    QTest::addColumn<bool>("interleaved");
    QTest::addColumn<QList<QList<float>>>("buffers");
    QTest::addColumn<QList<quint32>>("channels");
    QTest::addColumn<QList<quint32>>("byteSizes"); // 0xFFFFFFFF: 4 × samples given
    QTest::addColumn<bool>("called");
    QTest::addColumn<QList<float>>("expected");

    const quint32 all = 0xFFFFFFFF;
    QList<float> left(512), right(256);
    for (int i = 0; i < 512; ++i)
        left[i] = float(i % 7) * 0.1f;
    for (int i = 0; i < 256; ++i)
        right[i] = float(i % 5) * -0.2f;
    QList<float> planarMix(512);
    for (int i = 0; i < 512; ++i)
        planarMix[i] = (left[i] + (i < 256 ? right[i] : 0.0f)) * 0.5f;

    QTest::newRow("interleaved stereo, one frame")
        << true << QList<QList<float>>{{0.25f, 0.75f}} << QList<quint32>{2} << QList<quint32>{all}
        << true << QList<float>{0.5f};
    QTest::newRow("interleaved, less than a frame")
        << true << QList<QList<float>>{{0.25f}} << QList<quint32>{2} << QList<quint32>{all} << true
        << QList<float>{};
    QTest::newRow("interleaved, trailing partial frame dropped")
        << true << QList<QList<float>>{{1, 3, 5, 7, 9}} << QList<quint32>{2} << QList<quint32>{all}
        << true << QList<float>{2, 6};
    QTest::newRow("interleaved, byte size not a multiple of 4")
        << true << QList<QList<float>>{{1, 3, 5, 7}} << QList<quint32>{2} << QList<quint32>{15}
        << true << QList<float>{2};
    QTest::newRow("interleaved, zero channels read as one")
        << true << QList<QList<float>>{{0.1f, 0.2f}} << QList<quint32>{0} << QList<quint32>{all}
        << true << QList<float>{0.1f, 0.2f};
    QTest::newRow("interleaved, absurd channel count")
        << true << QList<QList<float>>{{0.1f, 0.2f}} << QList<quint32>{0x40000001}
        << QList<quint32>{all} << true << QList<float>{};
    QTest::newRow("interleaved format uses the first buffer only")
        << true << QList<QList<float>>{{1, 3}, {100, 100}} << QList<quint32>{2, 2}
        << QList<quint32>{all, all} << true << QList<float>{2};
    QTest::newRow("planar 512 and 256")
        << false << QList<QList<float>>{left, right} << QList<quint32>{1, 1}
        << QList<quint32>{all, all} << true << planarMix;
    QTest::newRow("planar, a buffer without data still divides")
        << false << QList<QList<float>>{{0.9f, 0.3f}, {}} << QList<quint32>{1, 1}
        << QList<quint32>{all, 8} << true << QList<float>{0.45f, 0.15f};
    QTest::newRow("planar, tiny first buffer")
        << false << QList<QList<float>>{{0.5f}, {0.5f, 0.5f}} << QList<quint32>{1, 1}
        << QList<quint32>{3, all} << true << QList<float>{};
    QTest::newRow("planar format with one buffer reads it interleaved")
        << false << QList<QList<float>>{{0.2f, 0.4f}} << QList<quint32>{2} << QList<quint32>{all}
        << true << QList<float>{0.3f};
    QTest::newRow("no buffers") << true << QList<QList<float>>{} << QList<quint32>{}
                                << QList<quint32>{} << false << QList<float>{};
    QTest::newRow("first buffer without data")
        << false << QList<QList<float>>{{}, {0.5f}} << QList<quint32>{1, 1}
        << QList<quint32>{4, all} << false << QList<float>{};
}

void AudioTapTest::conversion()
{
    QFETCH(bool, interleaved);
    QFETCH(QList<QList<float>>, buffers);
    QFETCH(QList<quint32>, channels);
    QFETCH(QList<quint32>, byteSizes);
    QFETCH(bool, called);
    QFETCH(QList<float>, expected);

    Rig rig;
    rig.backend->format = CaptureFormat{44100.0, quint32(channels.value(0, 1)), interleaved};
    rig.tap->start();
    rig.queue->runPending();
    QVERIFY(rig.tap->running());

    // Each buffer in a heap block of its own size, so a read past it shows in ASan.
    std::vector<std::unique_ptr<float[]>> storage;
    std::vector<AudioBuffer> list;
    for (qsizetype i = 0; i < buffers.size(); ++i) {
        const QList<float> &samples = buffers[i];
        float *data = nullptr;
        if (!samples.isEmpty()) {
            storage.push_back(std::make_unique<float[]>(samples.size()));
            data = storage.back().get();
            std::copy(samples.begin(), samples.end(), data);
        }
        const quint32 bytes =
            byteSizes[i] == 0xFFFFFFFF ? quint32(samples.size() * 4) : byteSizes[i];
        list.push_back(AudioBuffer{channels[i], data ? bytes : byteSizes[i], data});
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

void AudioTapTest::formatReadKeepsPreviousValues()
{
    Rig rig;
    rig.backend->format = CaptureFormat{44100.0, 1, true};
    rig.tap->start();
    rig.queue->runPending();
    // The next build cannot read its format, or reads a rate of 0.
    for (const std::optional<CaptureFormat> &format :
         {std::optional<CaptureFormat>{}, std::optional(CaptureFormat{0.0, 6, false})}) {
        rig.backend->format = format;
        rig.tap->retry();
        rig.queue->runPending();
        QVERIFY(rig.tap->running());
        const float frame[2] = {0.5f, 0.25f};
        const AudioBuffer buffer{2, 8, frame};
        rig.blocks.clear();
        rig.backend->deliver(AudioBufferList(&buffer, 1));
        QCOMPARE(rig.blocks.size(), 1u);
        QCOMPARE(rig.blocks[0].second, 44100.0);
        QCOMPARE(rig.blocks[0].first, (std::vector<float>{0.375f}));
    }
}

// On the real control thread: stopAndWait gives up waiting on a busy thread, and
// waits for the stop on an idle one.
void AudioTapTest::stopAndWaitOnControlThread()
{
    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool entered = false;
    bool open = false;
    std::string threadName;

    auto fake = std::make_unique<FakeCaptureBackend>();
    FakeCaptureBackend *backend = fake.get();
    backend->duringCreateTap = [&] {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::unique_lock guard(gateLock);
        threadName = name;
        entered = true;
        gateChanged.notify_all();
        gateChanged.wait(guard, [&] { return open; });
    };
    const SystemLogSink previous = setSystemLogSink([](const QString &) {});
    {
        AudioTap tap(std::move(fake));
        tap.start();
        {
            std::unique_lock guard(gateLock);
            gateChanged.wait(guard, [&] { return entered; });
        }
        QCOMPARE(threadName, std::string("qx.tap.ctl"));
        QVERIFY(tap.building());
        QVERIFY(!tap.stopAndWait(0.05));
        {
            std::lock_guard guard(gateLock);
            open = true;
            gateChanged.notify_all();
        }
        QVERIFY(tap.stopAndWait(30.0));
        QVERIFY(!tap.running());
        QVERIFY(!backend->anythingAlive());
        QVERIFY(!backend->listening);
    }
    setSystemLogSink(previous);
}

QTEST_GUILESS_MAIN(AudioTapTest)
#include "tst_AudioTap.moc"
