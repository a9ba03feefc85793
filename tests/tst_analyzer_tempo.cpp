#include "SyntheticMusic.h"
#include "audio/Analyzer.h"
#include "support/AnalyzerProbe.h"

#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace bopling;

namespace {

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

} // namespace

class TestAnalyzerTempo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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
        AnalyzerProbe probe(analyzer);
        Player player(analyzer, 48000, 120);
        player.play(8.0, 0.5);
        QVERIFY(player.last.bpm > 0);

        const double hop = 512.0 / 48000;
        player.silence(1.9);
        QVERIFY(player.last.bpm > 0);
        QVERIFY(probe.state().envCount > 0);
        // Silence counts from the first hop whose newest 512 samples are all zero.
        QCOMPARE_LT(std::abs(player.last.silentSeconds - 1.9), 2 * hop);
        QCOMPARE(player.last.levels[3], 0.0);
        QVERIFY(player.last.silent);

        player.silence(0.3);
        QCOMPARE(player.last.bpm + player.last.tempoConfidence, 0.0);
        // Emptied on every silent hop; only this hop's novelty value remains.
        QCOMPARE_LE(probe.state().envCount, std::size_t(1));
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
        AnalyzerProbe probe(analyzer);
        Player player(analyzer, 48000, 120);
        player.play(8.0, 0.5);
        QVERIFY(player.last.bpm > 0);

        now += 4.5;
        const Snapshot s = analyzer.takeSnapshot();
        QCOMPARE_LT(std::abs(s.silentSeconds - 4.5), 1e-9);
        QVERIFY(s.silent);
        QCOMPARE(s.bpm, 0.0);
        // The gap enters only the reported value.
        const AnalyzerProbe::State state = probe.state();
        QCOMPARE(state.silentSeconds, 0.0);
        QVERIFY(state.envCount == 0 && state.bpm == 0);

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
};

QTEST_GUILESS_MAIN(TestAnalyzerTempo)
#include "tst_analyzer_tempo.moc"
