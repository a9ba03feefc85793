// Buffering, spectrum scaling, band values, onsets, levels and event handling
// of the Analyzer.

#include "SyntheticMusic.h"
#include "audio/Analyzer.h"
#include "support/AnalyzerProbe.h"

#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

using namespace bopling;

namespace {

using Samples = std::vector<float>;

Samples cosine(double hz, double amplitude, double rate, std::size_t count)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(amplitude * std::cos(2 * std::numbers::pi * hz * i / rate));
    }
    return out;
}

Samples square(float amplitude, std::size_t count)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = i % 2 ? -amplitude : amplitude;
    }
    return out;
}

Samples whiteNoise(std::size_t count, std::uint32_t seed = 7)
{
    Samples out(count);
    for (float &x : out) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        x = static_cast<float>(seed) / 4294967296.0f - 0.5f;
    }
    return out;
}

Samples music(double rate, double bpm, double seconds, float gain = 0.5f)
{
    Samples out(static_cast<std::size_t>(seconds * rate));
    SyntheticMusic(rate, bpm).render(out, {});
    for (float &x : out) {
        x *= gain;
    }
    return out;
}

// Pushes in 20 ms blocks, as both audio sources do.
void pushBlocks(Analyzer &analyzer, const Samples &samples, double rate)
{
    const auto block = static_cast<std::size_t>(rate / 50);
    for (std::size_t at = 0; at < samples.size(); at += block) {
        const std::size_t count = std::min(block, samples.size() - at);
        analyzer.push(std::span(samples).subspan(at, count), rate);
    }
}

bool finiteUnit(double x)
{
    return std::isfinite(x) && x >= 0.0 && x <= 1.0;
}

// Flush-to-zero arithmetic, as fast-math builds or other code on the audio
// thread may switch on; restored when the scope ends.
class FlushToZero
{
public:
    FlushToZero()
    {
#if defined(__SSE2__)
        saved = _mm_getcsr();
        _mm_setcsr(saved | 0x8040); // FTZ and DAZ
#endif
    }
    ~FlushToZero()
    {
#if defined(__SSE2__)
        _mm_setcsr(saved);
#endif
    }
    static bool available()
    {
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    }

private:
    unsigned saved = 0;
};

} // namespace

class TestAnalyzer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void hopAccounting_data();
    void hopAccounting();
    void emptyBlockUpdatesRateAndTime();
    void spectrumScaling_data();
    void spectrumScaling();
    void firstOnset_data();
    void firstOnset();
    void collapsedHighBand_data();
    void collapsedHighBand();
    void loudnessLevel_data();
    void loudnessLevel();
    void eventsAccumulateUntilSnapshot();
    void eventsKeepTheNewest();
    void longBandSilenceStaysFinite_data();
    void longBandSilenceStaysFinite();
    void resetKeepsLevelsAndClearsTempo();
};

void TestAnalyzer::hopAccounting_data()
{
    QTest::addColumn<QList<int>>("blocks");
    QTest::addColumn<int>("hops");
    QTest::addColumn<int>("pending");

    QTest::newRow("4096 at once") << QList<int>{4096} << 5 << 1536;
    QTest::newRow("2047 then 1") << QList<int>{2047, 1} << 1 << 1536;
    QTest::newRow("2047") << QList<int>{2047} << 0 << 2047;
    QTest::newRow("empty") << QList<int>{0} << 0 << 0;
    QTest::newRow("41 blocks of 100") << QList<int>(41, 100) << 5 << 1540;
    QTest::newRow("one big block") << QList<int>{48000} << 90 << 1920;
}

void TestAnalyzer::hopAccounting()
{
    QFETCH(QList<int>, blocks);
    QFETCH(int, hops);
    QFETCH(int, pending);

    Analyzer analyzer([] { return 0.0; });
    const Samples noise = whiteNoise(48000);
    std::size_t at = 0;
    for (int size : blocks) {
        analyzer.push(std::span(noise).subspan(at, static_cast<std::size_t>(size)), 48000);
        at += static_cast<std::size_t>(size);
    }
    AnalyzerProbe probe(analyzer);
    QCOMPARE(probe.pendingCount(), static_cast<std::size_t>(pending));
    QCOMPARE(std::lround(probe.clock() / (512.0 / 48000)), hops);
}

void TestAnalyzer::emptyBlockUpdatesRateAndTime()
{
    double now = 100;
    Analyzer analyzer([&now] { return now; });
    AnalyzerProbe probe(analyzer);
    const Samples noise = whiteNoise(1000);
    analyzer.push(noise, 44100);
    now = 130;
    analyzer.push({}, 48000);
    QCOMPARE(probe.sampleRate(), 48000.0);
    QCOMPARE(probe.lastPushAt(), 130.0);
    QCOMPARE(probe.pendingCount(), std::size_t(1000));
    QCOMPARE(probe.clock(), 0.0);
}

void TestAnalyzer::spectrumScaling_data()
{
    QTest::addColumn<double>("rate");
    // Exactly four periods in the 2048-sample window, whatever the rate.
    QTest::newRow("48000 Hz") << 48000.0;
    QTest::newRow("44100 Hz") << 44100.0;
}

void TestAnalyzer::spectrumScaling()
{
    QFETCH(double, rate);
    Analyzer analyzer([] { return 0.0; });
    analyzer.push(cosine(rate * 4 / 2048, 1.0, rate, 2048), rate);
    AnalyzerProbe probe(analyzer);

    QCOMPARE_LT(std::abs(probe.magnitude(4) - 1024.0f), 0.01f);
    QCOMPARE_LT(std::abs(probe.magnitude(3) - 512.0f), 0.01f);
    QCOMPARE_LT(std::abs(probe.magnitude(5) - 512.0f), 0.01f);
    for (int k : {1, 2, 6, 7, 50, 300, 700, 1023}) {
        QVERIFY2(probe.magnitude(k) < 0.01f, qPrintable(QString::number(k)));
    }
    QCOMPARE_LT(std::abs(probe.bandValue(0) - 2048.0 / 6), 1e-3);
    QCOMPARE_LT(probe.bandValue(1), 1e-3);
    QCOMPARE_LT(probe.bandValue(2), 1e-3);
    QCOMPARE(analyzer.takeSnapshot().levels[3], 1.0);
}

void TestAnalyzer::firstOnset_data()
{
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("events");

    QTest::newRow("low cosine") << "cosine"
                                << "k";
    QTest::newRow("broadband noise, bands in order") << "noise"
                                                     << "ksh";
    QTest::newRow("too faint to count") << "faint"
                                        << "";
}

void TestAnalyzer::firstOnset()
{
    QFETCH(QString, signal);
    QFETCH(QString, events);

    Samples x;
    if (signal == "cosine") {
        // Four periods of 93.75 Hz: only the low band holds energy.
        x = cosine(93.75, 1.0, 48000, 2048 + 512);
    } else if (signal == "noise") {
        x = whiteNoise(2048 + 512);
    } else {
        x = cosine(93.75, 1e-8, 48000, 2048 + 512);
    }
    Analyzer analyzer([] { return 0.0; });
    analyzer.push(std::span(x).first(2048), 48000);
    QCOMPARE(analyzer.takeSnapshot().events, events);

    // A steady signal has no rising flux on the next hop.
    if (signal != "noise") {
        analyzer.push(std::span(x).subspan(2048), 48000);
        QCOMPARE(analyzer.takeSnapshot().events, QString());
    }
}

void TestAnalyzer::collapsedHighBand_data()
{
    QTest::addColumn<double>("rate");
    QTest::newRow("8000 Hz") << 8000.0;
    QTest::newRow("11025 Hz") << 11025.0;
}

void TestAnalyzer::collapsedHighBand()
{
    QFETCH(double, rate);
    // The high band starts at 6000 Hz, above what these rates can hold.
    Analyzer analyzer([] { return 0.0; });
    AnalyzerProbe probe(analyzer);
    const Samples x = music(rate, 120, 8.0);
    QString all;
    const auto block = static_cast<std::size_t>(rate / 50);
    for (std::size_t at = 0; at < x.size(); at += block) {
        analyzer.push(std::span(x).subspan(at, std::min(block, x.size() - at)), rate);
        const Snapshot s = analyzer.takeSnapshot();
        all += s.events;
        QCOMPARE(s.levels[2], 0.0);
        QCOMPARE(probe.bandValue(2), 0.0);
    }
    QVERIFY(all.contains('k'));
    QVERIFY(all.contains('s'));
    QVERIFY(!all.contains('h'));
}

void TestAnalyzer::loudnessLevel_data()
{
    QTest::addColumn<float>("rms");
    QTest::addColumn<double>("level");

    QTest::newRow("full scale") << 1.0f << 1.0;
    QTest::newRow("-15 dBFS and above read 1") << 0.2f << 1.0;
    QTest::newRow("-20 dBFS") << 0.1f << 0.875;
    QTest::newRow("-40 dBFS") << 0.01f << 0.375;
    QTest::newRow("-60 dBFS reads 0") << 0.001f << 0.0;
}

void TestAnalyzer::loudnessLevel()
{
    QFETCH(float, rms);
    QFETCH(double, level);
    Analyzer analyzer([] { return 0.0; });
    analyzer.push(square(rms, 2048), 48000);
    QCOMPARE_LT(std::abs(analyzer.takeSnapshot().levels[3] - level), 1e-5);
}

void TestAnalyzer::eventsAccumulateUntilSnapshot()
{
    // The same audio, once with a snapshot every 20 ms and once with a single
    // snapshot at the end: the letters and their order must agree.
    const Samples x = music(48000, 120, 6.0);
    Analyzer often([] { return 0.0; });
    Analyzer once([] { return 0.0; });
    QString collected;
    for (std::size_t at = 0; at < x.size(); at += 960) {
        const auto block = std::span(x).subspan(at, std::min<std::size_t>(960, x.size() - at));
        often.push(block, 48000);
        once.push(block, 48000);
        collected += often.takeSnapshot().events;
    }
    QVERIFY(collected.size() > 20);
    QCOMPARE(once.takeSnapshot().events, collected);
    QCOMPARE(once.takeSnapshot().events, QString());
}

void TestAnalyzer::eventsKeepTheNewest()
{
    // Far more letters than the bound arrive without a snapshot (the page not
    // ready, or the application paused while the test feeder plays).
    Analyzer reference([] { return 0.0; });
    Analyzer unread([] { return 0.0; });
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
}

void TestAnalyzer::longBandSilenceStaysFinite_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<bool>("flushToZero");
    QTest::addColumn<double>("startPeak");
    QTest::addColumn<double>("minutes");

    // Digital silence for minutes with denormals flushed: the decaying peaks
    // reach zero. Started near the smallest normal number, they get there after
    // about a minute instead of some hours.
    QTest::newRow("silence, denormals flushed") << 48000.0 << true << 1e-307 << 2.0;
    // Music at 8000 Hz: the collapsed high band stays silent under a zero peak.
    QTest::newRow("one band silent, peak at zero") << 8000.0 << false << 0.0 << 2.0;
}

void TestAnalyzer::longBandSilenceStaysFinite()
{
    QFETCH(double, rate);
    QFETCH(bool, flushToZero);
    QFETCH(double, startPeak);
    QFETCH(double, minutes);
    if (flushToZero && !FlushToZero::available()) {
        QSKIP("no flush-to-zero control on this processor");
    }
    std::optional<FlushToZero> ftz;
    if (flushToZero) {
        ftz.emplace();
    }

    Analyzer analyzer([] { return 0.0; });
    AnalyzerProbe probe(analyzer);
    const bool silence = rate == 48000.0;
    const int firstBand = silence ? 0 : 2;
    for (int b = firstBand; b < 3; ++b) {
        probe.setPeak(b, startPeak);
    }
    SyntheticMusic groove(rate, 120);
    const auto frames = static_cast<std::size_t>(rate / 50);
    Samples block(frames, 0.0f);
    const int blocks = static_cast<int>(minutes * 60 * 50);
    for (int i = 0; i < blocks; ++i) {
        if (!silence) {
            groove.render(block, {});
        }
        analyzer.push(block, rate);
        if (i % 25 == 0) {
            const Snapshot s = analyzer.takeSnapshot();
            for (double level : s.levels) {
                QVERIFY2(finiteUnit(level), qPrintable(QString::number(i)));
            }
            QVERIFY(finiteUnit(s.energy));
            QVERIFY(std::isfinite(s.bpm) && std::isfinite(s.tempoConfidence));
        }
    }
    const Snapshot last = analyzer.takeSnapshot();
    for (int b = firstBand; b < 3; ++b) {
        QCOMPARE(last.levels[b], 0.0);
    }
    if (flushToZero) {
        // The case guarded against did happen: the peak reached zero.
        QCOMPARE(probe.peak(0), 0.0);
    }
}

void TestAnalyzer::resetKeepsLevelsAndClearsTempo()
{
    double now = 0;
    Analyzer analyzer([&now] { return now; });
    AnalyzerProbe probe(analyzer);
    pushBlocks(analyzer, music(48000, 120, 8.0), 48000);
    analyzer.push(whiteNoise(700), 48000);
    const Snapshot before = analyzer.takeSnapshot();
    QVERIFY(before.bpm > 0);
    const double clock = probe.clock();

    now = 50;
    analyzer.reset();
    const Snapshot after = analyzer.takeSnapshot();
    QCOMPARE(after.bpm, 0.0);
    QCOMPARE(after.tempoConfidence, 0.0);
    QCOMPARE(after.events, QString());
    QCOMPARE(after.silentSeconds, 0.0); // the reset counts as a fresh block
    QCOMPARE(after.levels, before.levels);
    QCOMPARE(after.energy, before.energy);
    QCOMPARE(probe.pendingCount(), std::size_t(0));
    QCOMPARE(probe.envCount(), std::size_t(0));
    QCOMPARE(probe.clock(), clock);
}

QTEST_GUILESS_MAIN(TestAnalyzer)
#include "tst_analyzer.moc"
