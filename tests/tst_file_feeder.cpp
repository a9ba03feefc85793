// The file reader's blocks and mono mix, and the feeder thread that plays a
// file into a receiver.

#include "audio/FileFeeder.h"
#include "audio/MonoFileReader.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <vector>

using namespace bopling;

namespace {

// Writes a float WAV whose sample i of channel c is value(i, c).
QString writeWav(const QString &path, int rate, int channels, int frames,
                 float (*value)(int frame, int channel))
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) {
        qFatal("cannot write %s", qPrintable(path));
    }
    std::vector<float> data(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            data[static_cast<std::size_t>(i) * channels + c] = value(i, c);
        }
    }
    sf_writef_float(file, data.data(), frames);
    sf_close(file);
    return path;
}

float ramp(int frame, int channel)
{
    return static_cast<float>((frame % 1000) * 0.001 - 0.4 + 0.3 * channel);
}

struct Delivery
{
    std::size_t size;
    double rate;
    float first;
    QByteArray thread;
};

// Collects what a feeder delivers, from its thread.
class Receiver
{
public:
    void receive(std::span<const float> samples, double rate)
    {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::lock_guard guard(lock);
        deliveries.push_back({samples.size(), rate, samples.empty() ? 0.0f : samples[0], name});
        arrived.notify_all();
    }

    // Waits (up to a generous limit) until count blocks have arrived.
    std::vector<Delivery> waitFor(std::size_t count)
    {
        std::unique_lock guard(lock);
        arrived.wait_for(guard, std::chrono::seconds(10),
                         [&] { return deliveries.size() >= count; });
        return deliveries;
    }

private:
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Delivery> deliveries;
};

} // namespace

class TestFileFeeder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void blockSizes_data();
    void blockSizes();
    void monoMix_data();
    void monoMix();
    void unreadableFile_data();
    void unreadableFile();
    void feederPlaysInALoop();
    void feederWithoutFileDeliversNothing();

private:
    QTemporaryDir dir;
};

void TestFileFeeder::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
}

void TestFileFeeder::blockSizes_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QList<int>>("blocks");

    // The last partial block, one empty tick, then again from the start.
    QTest::newRow("1000 frames at 48000 Hz") << 48000 << 1000 << QList<int>{960, 40, 0, 960, 40, 0};
    QTest::newRow("2000 frames at 44100 Hz") << 44100 << 2000 << QList<int>{882, 882, 236, 0, 882};
    QTest::newRow("exactly one block") << 48000 << 960 << QList<int>{960, 0, 960};
}

void TestFileFeeder::blockSizes()
{
    QFETCH(int, rate);
    QFETCH(int, frames);
    QFETCH(QList<int>, blocks);

    const QString path =
        writeWav(dir.filePath(QStringLiteral("blocks-%1-%2.wav").arg(rate).arg(frames)), rate, 1,
                 frames, ramp);
    MonoFileReader reader(path);
    QVERIFY(reader.isOpen());
    QCOMPARE(reader.sampleRate(), double(rate));
    QCOMPARE(reader.blockFrames(), std::size_t(rate / 50));
    int position = 0;
    for (int expected : blocks) {
        const std::span<const float> block = reader.nextBlock();
        QCOMPARE(block.size(), std::size_t(expected));
        if (block.empty()) {
            position = 0;
            continue;
        }
        QCOMPARE(block.front(), ramp(position, 0));
        QCOMPARE(block.back(), ramp(position + expected - 1, 0));
        position += expected;
    }
}

void TestFileFeeder::monoMix_data()
{
    QTest::addColumn<int>("channels");
    QTest::newRow("mono unchanged") << 1;
    QTest::newRow("stereo averaged") << 2;
    QTest::newRow("three channels") << 3;
}

void TestFileFeeder::monoMix()
{
    QFETCH(int, channels);
    const QString path = writeWav(dir.filePath(QStringLiteral("mix-%1.wav").arg(channels)), 48000,
                                  channels, 960, ramp);
    MonoFileReader reader(path);
    QCOMPARE(reader.channels(), channels);
    const std::span<const float> block = reader.nextBlock();
    QCOMPARE(block.size(), std::size_t(960));
    const auto divisor = static_cast<float>(channels);
    for (int i = 0; i < 960; ++i) {
        float expected = 0;
        for (int c = 0; c < channels; ++c) {
            expected += ramp(i, c) / divisor;
        }
        QCOMPARE(block[static_cast<std::size_t>(i)], expected);
    }
}

void TestFileFeeder::unreadableFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing") << "missing.wav" << QByteArray();
    QTest::newRow("not audio") << "notes.wav" << QByteArray("these are not samples\n");
    QTest::newRow("empty file") << "empty.wav" << QByteArray("");
}

void TestFileFeeder::unreadableFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    const QString path = dir.filePath(name);
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    MonoFileReader reader(path);
    QVERIFY(!reader.isOpen());
    QVERIFY(!reader.errorString().isEmpty());
    QVERIFY(reader.nextBlock().empty());
}

void TestFileFeeder::feederPlaysInALoop()
{
    const QString path = writeWav(dir.filePath(QStringLiteral("loop.wav")), 48000, 2, 1000, ramp);
    Receiver receiver;
    {
        FileFeeder feeder;
        feeder.onSamples = [&](std::span<const float> s, double r) { receiver.receive(s, r); };
        feeder.start(path);
        const std::vector<Delivery> got = receiver.waitFor(4);
        QCOMPARE_GE(got.size(), std::size_t(4));
        const std::size_t sizes[] = {960, 40, 960, 40};
        for (std::size_t i = 0; i < 4; ++i) {
            QCOMPARE(got[i].size, sizes[i]);
            QCOMPARE(got[i].rate, 48000.0);
            QCOMPARE(got[i].thread, QByteArray("qx.feeder"));
        }
        // The loop starts again from the first frame.
        QCOMPARE(got[2].first, got[0].first);
        QCOMPARE(got[0].first, ramp(0, 0) / 2 + ramp(0, 1) / 2);
    }
    // The feeder is gone: nothing more arrives.
    const std::size_t count = receiver.waitFor(0).size();
    QTest::qWait(60);
    QCOMPARE(receiver.waitFor(0).size(), count);
}

void TestFileFeeder::feederWithoutFileDeliversNothing()
{
    Receiver receiver;
    FileFeeder feeder;
    feeder.onSamples = [&](std::span<const float> s, double r) { receiver.receive(s, r); };
    feeder.start(dir.filePath(QStringLiteral("does-not-exist.flac")));
    // Several ticks' worth of time.
    QTest::qWait(100);
    QVERIFY(receiver.waitFor(0).empty());
}

QTEST_GUILESS_MAIN(TestFileFeeder)
#include "tst_file_feeder.moc"
