#include "overlay/HoverFade.h"

#include <QTest>

using namespace bopling;

// The hover fade against a clock and an opacity of its own.
class HoverFadeTest : public QObject
{
    Q_OBJECT

    double now = 100;
    double opacity = 1;
    HoverFade fade{[this] { return now; },
                   {[this] { return opacity; }, [this](double a) { opacity = a; }}};

    // Steps the running fade every 16 ms until it ends (or `steps` run out); the seconds it took.
    double finish(int steps = 1000)
    {
        const double start = now;
        while (fade.fading() && steps-- > 0) {
            now += 0.016;
            fade.step();
        }
        return now - start;
    }

    // Hover ticks every 60 ms for `seconds`.
    void ticks(double seconds, bool hover)
    {
        for (const double end = now + seconds; now < end - 1e-9; now += 0.06)
            fade.update(true, hover, false);
    }

private slots:
    void fadesOutAndInAtItsRatesFromWhereItIs()
    {
        fade.update(false, true, false); // the setting is off
        QVERIFY(!fade.fading());
        fade.update(true, true, false);
        QVERIFY(qAbs(finish() - 0.15) < 0.017);
        QCOMPARE(opacity, 0.12);
        // Away for 0.2 s twice: the delay starts afresh, it stays faded.
        ticks(0.2, false);
        ticks(0.06, true);
        ticks(0.3, false);
        QVERIFY(opacity == 0.12 && !fade.fading());
        fade.update(true, false, false);
        QVERIFY(qAbs(finish() - 0.3) < 0.017);
        QCOMPARE(opacity, 1.0);
        // Reversed half-way by a grab, the fade goes on from where it was.
        fade.update(true, true, false);
        finish(5);
        const double halfWay = opacity;
        fade.update(true, true, true);
        QVERIFY(qAbs(finish() - (1 - halfWay) / HoverFade::kFadeInRate) < 0.017);
        QCOMPARE(opacity, 1.0);
    }
};

QTEST_GUILESS_MAIN(HoverFadeTest)
#include "tst_HoverFade.moc"
