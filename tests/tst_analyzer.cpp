#include "SyntheticMusic.h"
#include "audio/Analyzer.h"
#include "support/AnalyzerProbe.h"

#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

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
};

QTEST_GUILESS_MAIN(TestAnalyzer)
#include "tst_analyzer.moc"
