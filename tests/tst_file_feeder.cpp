#include "audio/FileFeeder.h"
#include "audio/MonoFileReader.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <mutex>
#include <vector>

using namespace bopling;

namespace {

float ramp(int frame, int channel)
{
    return static_cast<float>((frame % 1000) * 0.001 - 0.4 + 0.3 * channel);
}

QString tempPath(const QString &name)
{
    static QTemporaryDir dir;
    return dir.filePath(name);
}

// Writes a float WAV whose sample i of channel c is ramp(i, c); returns its path.
QString writeWav(const QString &name, int rate, int channels, int frames)
{
    const QString path = tempPath(name + QStringLiteral(".wav"));
    SF_INFO info{0, rate, channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        qFatal("cannot write %s", qPrintable(path));
    std::vector<float> data(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            data[static_cast<std::size_t>(i) * channels + c] = ramp(i, c);
    }
    sf_writef_float(file, data.data(), frames);
    sf_close(file);
    return path;
}

struct Delivery
{
    std::size_t size;
    double rate;
    float first;
};

// Collects what a feeder delivers, from its thread.
struct Receiver
{
    std::mutex lock;
    std::vector<Delivery> deliveries;

    void attach(FileFeeder &feeder)
    {
        feeder.onSamples = [this](std::span<const float> samples, double rate) {
            std::lock_guard guard(lock);
            deliveries.push_back({samples.size(), rate, samples.empty() ? 0.0f : samples[0]});
        };
    }
    std::vector<Delivery> received()
    {
        std::lock_guard guard(lock);
        return deliveries;
    }
};

} // namespace

class TestFileFeeder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // A file that cannot be read: neither the reader nor a feeder delivers anything.
    void unreadableFile()
    {
        const QString path = tempPath(QStringLiteral("missing.flac"));
        MonoFileReader reader(path);
        QVERIFY(!reader.isOpen() && !reader.errorString().isEmpty() && reader.nextBlock().empty());

        Receiver receiver;
        FileFeeder feeder;
        receiver.attach(feeder);
        feeder.start(path);
        QTest::qWait(100); // several ticks' worth of time
        QVERIFY(receiver.received().empty());
    }

    void feederPlaysInALoop()
    {
        const QString path = writeWav(QStringLiteral("loop"), 48000, 2, 1000);
        Receiver receiver;
        {
            FileFeeder feeder;
            receiver.attach(feeder);
            feeder.start(path);
            QVERIFY(QTest::qWaitFor([&] { return receiver.received().size() >= 4; }, 10'000));
            const std::vector<Delivery> got = receiver.received();
            const std::size_t sizes[] = {960, 40, 960, 40};
            for (std::size_t i = 0; i < 4; ++i)
                QVERIFY(got[i].size == sizes[i] && got[i].rate == 48000.0);
            QCOMPARE(got[2].first, got[0].first); // the loop starts again from the first frame
            QCOMPARE(got[0].first, ramp(0, 0) / 2 + ramp(0, 1) / 2); // the mono mix
        }
        // The feeder is gone: nothing more arrives.
        const std::size_t count = receiver.received().size();
        QTest::qWait(60);
        QCOMPARE(receiver.received().size(), count);
    }
};

QTEST_GUILESS_MAIN(TestFileFeeder)
#include "tst_file_feeder.moc"
