#include "SyntheticMusic.h"
#include "audio/Analyzer.h"
#include "audio/FileFeeder.h"
#include "audio/MonoFileReader.h"
#include "support/AnalyzerProbe.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <numbers>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include <sndfile.h>

using namespace bopling;

namespace {

using Samples = std::vector<float>;

const auto noClock = [] { return 0.0; };

Samples cosine(double hz, double amplitude, double rate, std::size_t count)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<float>(amplitude * std::cos(2 * std::numbers::pi * hz * i / rate));
    return out;
}

Samples whiteNoise(std::size_t count)
{
    Samples out(count);
    std::uint32_t seed = 7;
    for (float &x : out) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        x = static_cast<float>(seed) / 4294967296.0f - 0.5f;
    }
    return out;
}

Samples music(double rate, double seconds)
{
    Samples out(static_cast<std::size_t>(seconds * rate));
    SyntheticMusic(rate, 120).render(out, {});
    std::ranges::for_each(out, [](float &x) { x *= 0.5f; });
    return out;
}

// Pushes in 20 ms blocks, as both audio sources do, calling afterBlock after
// each; stops at the first failure.
void pushBlocks(Analyzer &analyzer, const Samples &samples, double rate,
                const std::function<void()> &afterBlock = {})
{
    const auto block = static_cast<std::size_t>(rate / 50);
    for (std::size_t at = 0; at < samples.size() && !QTest::currentTestFailed(); at += block) {
        analyzer.push(std::span(samples).subspan(at, std::min(block, samples.size() - at)), rate);
        if (afterBlock)
            afterBlock();
    }
}

bool finiteUnit(double x)
{
    return std::isfinite(x) && x >= 0.0 && x <= 1.0;
}

#if defined(__SSE2__)
// Flush-to-zero and denormals-are-zero, as fast-math builds or other code on the
// audio thread may switch on; restored when the scope ends.
struct FlushToZero
{
    unsigned saved = _mm_getcsr();
    FlushToZero() { _mm_setcsr(saved | 0x8040); }
    ~FlushToZero() { _mm_setcsr(saved); }
};
#endif

// Renders and pushes music in 20 ms blocks, as both audio sources do.
class Player
{
public:
    Player(Analyzer &analyzer, double rate, double bpm) : analyzer(analyzer), music(rate, bpm) {}

    // Pushes this many seconds at `gain`, with a snapshot after every block; returns the events.
    QString play(double seconds, float gain, SyntheticMusic::Mix mix = {})
    {
        const double rate = music.sampleRate();
        const auto frames = static_cast<std::size_t>(rate / 50);
        std::vector<float> block(frames);
        QString events;
        for (auto left = static_cast<std::size_t>(seconds * rate); left > 0;) {
            const auto chunk = std::span(block).first(std::min(frames, left));
            music.render(chunk, mix);
            std::ranges::for_each(chunk, [gain](float &x) { x *= gain; });
            analyzer.push(chunk, rate);
            last = analyzer.takeSnapshot();
            events += last.events;
            left -= chunk.size();
        }
        return events;
    }
    // Digital silence while the music's time line runs on.
    QString silence(double seconds) { return play(seconds, 0.0f); }

    Snapshot last;

private:
    Analyzer &analyzer;
    SyntheticMusic music;
};

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

class TestAnalyzer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Exactly four periods in the 2048-sample window, whatever the rate.
    void spectrumScaling()
    {
        for (const double rate : {48000.0, 44100.0}) {
            Analyzer analyzer(noClock);
            analyzer.push(cosine(rate * 4 / 2048, 1.0, rate, 2048), rate);
            const AnalyzerProbe::State s = AnalyzerProbe(analyzer).state();
            for (int k : {1, 2, 3, 4, 5, 6, 7, 50, 300, 700, 1023}) {
                const float expected = k == 4 ? 1024.0f : k == 3 || k == 5 ? 512.0f : 0.0f;
                QVERIFY2(std::abs(s.magnitude[k] - expected) < 0.01f,
                         qPrintable(QStringLiteral("bin %1: %2").arg(k).arg(s.magnitude[k])));
            }
            QCOMPARE_LT(std::abs(s.bandValue[0] - 2048.0 / 6), 1e-3);
            QCOMPARE_LT(s.bandValue[1] + s.bandValue[2], 1e-3);
            QCOMPARE(analyzer.takeSnapshot().levels[3], 1.0);
        }
    }

    void firstOnset()
    {
        // Broadband noise is an onset in every band, in order.
        Analyzer noisy(noClock);
        noisy.push(whiteNoise(2048), 48000);
        QCOMPARE(noisy.takeSnapshot().events, QStringLiteral("ksh"));
        // Four periods of 93.75 Hz in the window: only the low band holds energy, and a
        // steady signal has no rising flux on the next hop.
        const Samples x = cosine(93.75, 1.0, 48000, 2048 + 512);
        Analyzer analyzer(noClock);
        analyzer.push(std::span(x).first(2048), 48000);
        QCOMPARE(analyzer.takeSnapshot().events, QStringLiteral("k"));
        analyzer.push(std::span(x).subspan(2048), 48000);
        QCOMPARE(analyzer.takeSnapshot().events, QString());
    }

    void eventsKeepTheNewest()
    {
        // Far more letters than the bound arrive without a snapshot (the page not
        // ready, or the application paused while the test feeder plays). The same
        // audio snapshotted every block gives the letters in order.
        Analyzer reference(noClock);
        Analyzer unread(noClock);
        // Short noise bursts 125 ms apart, just past the longest refractory time:
        // each one is an onset in every band.
        const Samples noise = whiteNoise(256);
        Samples block(6000, 0.0f);
        std::copy(noise.begin(), noise.end(), block.begin());
        QString all;
        for (int i = 0; all.size() <= qsizetype(Analyzer::kMaxPendingEvents + 100); ++i) {
            QVERIFY(i < 4000);
            reference.push(block, 48000);
            unread.push(block, 48000);
            all += reference.takeSnapshot().events;
        }
        const QString kept = unread.takeSnapshot().events;
        QCOMPARE(kept.size(), qsizetype(Analyzer::kMaxPendingEvents));
        QCOMPARE(kept, all.right(kept.size()));
        QCOMPARE(unread.takeSnapshot().events, QString());
    }

    // The frame timer rests on wakeOnSound: one call, from the first block a
    // snapshot would hear again, after silence or after capture stopped.
    void wakesOnceWhenSoundReturns()
    {
        double now = 0;
        Analyzer analyzer([&] { return now; });
        int wakes = 0;
        const auto wake = [&] { ++wakes; };
        const auto play = [&](const Samples &samples) {
            pushBlocks(analyzer, samples, 48000, [&] { now += 0.02; });
        };
        QVERIFY(!analyzer.wakeOnSound(wake)); // not silent yet
        play(Samples(96000));
        QVERIFY(analyzer.takeSnapshot().silent);
        QVERIFY(analyzer.wakeOnSound(wake));
        play(Samples(48000));
        QCOMPARE(wakes, 0);
        play(whiteNoise(4800));
        QCOMPARE(wakes, 1);
        QVERIFY(!analyzer.takeSnapshot().silent);
        play(whiteNoise(4800));
        QCOMPARE(wakes, 1);
        QVERIFY(!analyzer.wakeOnSound(wake));

        now += 5; // capture stopped
        QVERIFY(analyzer.takeSnapshot().silent);
        QVERIFY(analyzer.wakeOnSound(wake));
        play(whiteNoise(960));
        QCOMPARE(wakes, 2);

        // A beat wakes the frame timer as soon as it is heard: once a call, and only for a
        // block that brings one, however many wait for the next snapshot.
        int beats = 0;
        analyzer.wakeOnEvents([&] { ++beats; });
        play(Samples(48000));
        play(whiteNoise(4800));
        QCOMPARE(beats, 1);
        analyzer.wakeOnEvents([&] { ++beats; });
        play(Samples(4800));
        QCOMPARE(beats, 1);
        play(Samples(48000));
        play(whiteNoise(4800));
        QCOMPARE(beats, 2);
        play(Samples(48000));
        play(whiteNoise(4800));
        QCOMPARE(beats, 2);
    }

    void longBandSilenceStaysFinite_data()
    {
        QTest::addColumn<bool>("flushToZero");
        // Two minutes of digital silence with denormals flushed: the decaying peaks
        // reach zero. Started near the smallest normal number, they get there after
        // about a minute instead of some hours.
        QTest::newRow("silence, denormals flushed") << true;
        // Two minutes of music at 8000 Hz: the collapsed high band stays silent
        // under a zero peak.
        QTest::newRow("one band silent, peak at zero") << false;
    }
    void longBandSilenceStaysFinite()
    {
        QFETCH(bool, flushToZero);
#if defined(__SSE2__)
        std::optional<FlushToZero> ftz;
        if (flushToZero)
            ftz.emplace();
#else
        if (flushToZero)
            QSKIP("no flush-to-zero control on this processor");
#endif
        const double rate = flushToZero ? 48000.0 : 8000.0;
        const int firstSilentBand = flushToZero ? 0 : 2;

        Analyzer analyzer(noClock);
        AnalyzerProbe probe(analyzer);
        for (int b = firstSilentBand; b < 3; ++b)
            probe.setPeak(b, flushToZero ? 1e-307 : 0.0);
        const Samples audio = flushToZero ? Samples(std::size_t(120 * rate)) : music(rate, 120);
        int blocks = 0;
        pushBlocks(analyzer, audio, rate, [&] {
            if (++blocks % 25 == 0) {
                const Snapshot s = analyzer.takeSnapshot();
                for (double level : s.levels)
                    QVERIFY2(finiteUnit(level), qPrintable(QStringLiteral("block %1").arg(blocks)));
                QVERIFY(finiteUnit(s.energy));
                QVERIFY(std::isfinite(s.bpm) && std::isfinite(s.tempoConfidence));
            }
        });
        const Snapshot last = analyzer.takeSnapshot();
        for (int b = firstSilentBand; b < 3; ++b)
            QCOMPARE(last.levels[b], 0.0);
        if (flushToZero) {
            // The case guarded against did happen: the peak reached zero.
            QCOMPARE(probe.state().peak[0], 0.0);
        }
    }

    void tempoOfDrumLoops_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("bpm");
        QTest::newRow("148 BPM") << 48000.0 << 148.0;
        QTest::newRow("124 BPM at 44100 Hz") << 44100.0 << 124.0;
    }
    void tempoOfDrumLoops()
    {
        QFETCH(double, rate);
        QFETCH(double, bpm);
        Analyzer analyzer([] { return 0.0; });
        Player player(analyzer, rate, bpm);
        player.play(10.0, 0.5);
        QVERIFY2(std::abs(player.last.bpm - bpm) / bpm < 0.02,
                 qPrintable(QString::number(player.last.bpm)));
        QVERIFY(player.last.tempoConfidence > 0.15);
    }

    void silenceClearsTempoAfterTwoSeconds()
    {
        Analyzer analyzer([] { return 0.0; });
        Player player(analyzer, 48000, 120);
        player.play(8.0, 0.5);
        QVERIFY(player.last.bpm > 0);

        const double hop = 512.0 / 48000;
        player.silence(1.9);
        QVERIFY(player.last.bpm > 0);
        // Silence counts from the first hop whose newest 512 samples are all zero.
        QCOMPARE_LT(std::abs(player.last.silentSeconds - 1.9), 2 * hop);
        QCOMPARE(player.last.levels[3], 0.0);
        QVERIFY(player.last.silent);

        player.silence(0.3);
        QCOMPARE(player.last.bpm + player.last.tempoConfidence, 0.0);
        QCOMPARE_LT(std::abs(player.last.silentSeconds - 2.2), 2 * hop);

        // Sound ends the silence at once; the tempo needs three seconds to return.
        player.play(1.0, 0.5);
        QCOMPARE(player.last.silentSeconds + player.last.bpm, 0.0);
        player.play(3.0, 0.5);
        QVERIFY(player.last.bpm > 0);
    }

    // 4.5 s without any block: silent, and the tempo starts over.
    void gapWithoutBlocks()
    {
        double now = 1000;
        Analyzer analyzer([&now] { return now; });
        Player player(analyzer, 48000, 120);
        player.play(8.0, 0.5);
        QVERIFY(player.last.bpm > 0);

        now += 4.5;
        const Snapshot s = analyzer.takeSnapshot();
        QCOMPARE_LT(std::abs(s.silentSeconds - 4.5), 1e-9);
        QVERIFY(s.silent);
        QCOMPARE(s.bpm, 0.0);
        // The gap enters only the reported value: a second look does not count it twice.
        QCOMPARE_LT(std::abs(analyzer.takeSnapshot().silentSeconds - 4.5), 1e-9);
        // Blocks return: the silence ends; the tempo has to be found again.
        player.play(1.0, 0.5);
        QCOMPARE(player.last.silentSeconds + player.last.bpm, 0.0);
    }

    void dropOnSurge()
    {
        Analyzer analyzer([] { return 0.0; });
        Player player(analyzer, 48000, 120);
        const SyntheticMusic::Mix breakdown{0.0f, 0.0f, 1.0f, 0.0f, 1.0f};

        QCOMPARE(player.play(8.0, 0.05, breakdown).count('d'), 0);
        // The surge: full drums at ten times the level.
        const QString surge = player.play(3.0, 0.5);
        QCOMPARE(surge.count('d'), 1);
        // The first kick of the surge carries it.
        QVERIFY(surge.indexOf('d') < surge.indexOf('k') + 4);

        // A second surge 8 s later is within 14 s of the first: no drop.
        QCOMPARE(player.play(5.0, 0.05, breakdown).count('d'), 0);
        QCOMPARE(player.play(3.0, 0.5).count('d'), 0);
    }

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

QTEST_GUILESS_MAIN(TestAnalyzer)
#include "tst_analyzer.moc"
