// Drawing a frame into a preview image: size, colours, the one-cell outline.

#include "creatures/Creature.h"
#include "support/CreatureSamples.h"

#include <QImage>
#include <QTest>

using namespace bopling;

namespace {

const QRgb kOutline = qRgba(0x12, 0x0d, 0x1c, 255);
const QRgb kClear = qRgba(0, 0, 0, 0);

} // namespace

class TestFrameImage : public QObject
{
    Q_OBJECT

private slots:
    void outlineHugsTheSprite()
    {
        // A sprite in the corner of its frame: the outline uses the free border,
        // a hole inside the sprite is outlined too, and the outline never
        // spreads from itself.
        const QStringList rows{"aaa..", "a.a..", "aaa..", ".....", "....."};
        const QImage image = samples::withFrame("idle", rows).frameImage("idle", 1);
        QCOMPARE(image.pixel(0, 1), kOutline); // left border, beside "a"
        QCOMPARE(image.pixel(1, 0), kOutline); // top border
        QCOMPARE(image.pixel(0, 0), kClear);   // diagonal only
        QCOMPARE(image.pixel(2, 2), kOutline); // the hole
        QCOMPARE(image.pixel(4, 2), kOutline); // right of the sprite
        QCOMPARE(image.pixel(5, 2), kClear);   // two cells away
        QCOMPARE(image.pixel(1, 1), qRgba(0x11, 0x22, 0x33, 255));
        QCOMPARE(image.pixel(4, 4), kClear); // diagonal to the corner pixel
    }

    void readsUncheckedPalettes()
    {
        // A creature that skipped the check: upper-case hex is read, other
        // colour texts and unknown letters leave their cells empty, and rows
        // longer than the first are cut.
        const QRgb pink = qRgba(0xff, 0x00, 0x80, 255);
        Creature c = samples::withFrame("idle", {"AxyA", "A...", "A...A"});
        c.palette = {{"A", "#FF0080"}, {"x", "#12345"}, {"y", "red"}};
        const QImage image = c.frameImage("idle", 1);
        QCOMPARE(image.size(), QSize(6, 5));
        QCOMPARE(image.pixel(1, 1), pink);
        QCOMPARE(image.pixel(4, 1), pink);
        QCOMPARE(image.pixel(2, 1), kOutline); // "x": not a colour, so outline beside "A"
        QCOMPARE(image.pixel(3, 1), kOutline);
        QCOMPARE(image.pixel(1, 3), pink);
        QCOMPARE(image.pixel(5, 3), kClear); // the fifth "A" lies beyond the first row's width
    }

    void nothingToDraw_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<int>("scale");
        QTest::newRow("missing frame") << "crouch" << 6;
        QTest::newRow("scale 0") << "idle" << 0;
        QTest::newRow("absurd scale") << "idle" << (1 << 30);
    }
    void nothingToDraw()
    {
        QFETCH(QString, frame);
        QFETCH(int, scale);
        QVERIFY(samples::withFrame("skid", {}).frameImage(frame, scale).isNull());
    }
};

QTEST_GUILESS_MAIN(TestFrameImage)
#include "tst_frameimage.moc"
