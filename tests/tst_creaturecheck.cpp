// The normalizing check: what it cleans and what it refuses, word for word.

#include "creatures/Creature.h"
#include "creatures/Move.h"
#include "support/CreatureSamples.h"

#include <QTest>

using namespace bopling;

namespace {

QString failureOf(const Creature &creature)
{
    try {
        creature.validated();
    } catch (const Creature::Invalid &invalid) {
        return invalid.message();
    }
    return QString();
}

Creature withPalette(const QMap<QString, QString> &palette)
{
    Creature c = samples::creature();
    c.palette = palette;
    return c;
}

// A palette of `count` colours keyed "a", "b", ... (all used keys included).
QMap<QString, QString> paletteOf(int count)
{
    QMap<QString, QString> palette;
    for (int i = 0; i < count; ++i)
        palette.insert(QString(QChar(u'a' + i)), QStringLiteral("#000000"));
    return palette;
}

Creature withFrame(const QString &name, const QStringList &rows)
{
    Creature c = samples::creature();
    c.frames.insert(name, rows);
    return c;
}

} // namespace

class TestCreatureCheck : public QObject
{
    Q_OBJECT

private slots:
    void cleansName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("punctuation only") << "?!.-*"
                                          << "Buddy";
        QTest::newRow("spaces only") << "    "
                                     << "Buddy";
        QTest::newRow("empty") << ""
                               << "Buddy";
        QTest::newRow("punctuation dropped") << "Mr. Whiskers!"
                                             << "Mr Whiskers";
        QTest::newRow("outer spaces trimmed") << "  Rex  "
                                              << "Rex";
        QTest::newRow("tabs are not kept") << "\tRex\tJr"
                                           << "RexJr";
        QTest::newRow("20 letters keep 14") << "ABCDEFGHIJKLMNOPQRST"
                                            << "ABCDEFGHIJKLMN";
        QTest::newRow("trimmed after the cut") << "Abcdefghijklm Nop"
                                               << "Abcdefghijklm";
        QTest::newRow("numbers kept") << "R2-D2 ½"
                                      << "R2D2 ½";
        QTest::newRow("letters of any script") << "Ünïcødé Kätzchen"
                                               << "Ünïcødé Kätzch";
        // A letter with a combining mark is one character, not two.
        QTest::newRow("combining marks") << "Cafe\u0301 Noir"
                                         << "Cafe\u0301 Noir";
        QTest::newRow("lone combining mark dropped") << "\u0301Rex"
                                                     << "Rex";
        QTest::newRow("emoji dropped") << "Rex 🐱"
                                       << "Rex";
        // 14 characters of 3 bytes each are 42 bytes: the last goes.
        QTest::newRow("40-byte cut, CJK")
            << QString(20, QChar(0x732B)) << QString(13, QChar(0x732B));
        QTest::newRow("40-byte cut, combining")
            << QString("e\u0301").repeated(20) << QString("e\u0301").repeated(13);
        QTest::newRow("exactly 40 bytes") << QString("é").repeated(14) << QString("é").repeated(14);
    }
    void cleansName()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(samples::creature(name).validated().name, expected);
    }

    void refusesPalette_data()
    {
        QTest::addColumn<Creature>("creature");
        QTest::addColumn<QString>("message");
        QTest::newRow("one colour")
            << withPalette(paletteOf(1)) << "The palette must have 2 to 16 colors (it has 1).";
        QTest::newRow("seventeen colours")
            << withPalette(paletteOf(17)) << "The palette must have 2 to 16 colors (it has 17).";
        QTest::newRow("no colours")
            << withPalette({}) << "The palette must have 2 to 16 colors (it has 0).";
        const QStringList badKeys{".", "ab", " ", "é", "\n", "e\u0301", ""};
        for (const QString &key : badKeys) {
            QMap<QString, QString> palette = paletteOf(2);
            palette.insert(key, QStringLiteral("#000000"));
            QTest::addRow("key \"%s\"", qPrintable(QString(key).replace(u'\n', u'~')))
                << withPalette(palette)
                << "Palette key \"" + key + "\" must be a single character other than \".\".";
        }
        const QStringList badColors{"#abcd",    "abcdef",   "#ggg000", "#12345",  "#ABCDEF\n",
                                    "# abcdef", "#abcdeff", "",        "#1234567"};
        for (const QString &color : badColors) {
            QMap<QString, QString> palette = paletteOf(2);
            palette.insert(QStringLiteral("a"), color);
            QTest::addRow("color \"%s\"", qPrintable(QString(color).replace(u'\n', u'~')))
                << withPalette(palette)
                << "Palette color \"" + color + "\" is not a #rrggbb hex color.";
        }
    }
    void refusesPalette()
    {
        QFETCH(Creature, creature);
        QFETCH(QString, message);
        QCOMPARE(failureOf(creature), message);
    }

    void cleansPalette_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("color");
        QTest::addColumn<QString>("expected");
        QTest::newRow("short form, trimmed, lower case") << "a"
                                                         << " #ABC "
                                                         << "#aabbcc";
        QTest::newRow("tabs trimmed") << "a"
                                      << "\t#FFEE00\t"
                                      << "#ffee00";
        QTest::newRow("key #") << "#"
                               << "#123456"
                               << "#123456";
        QTest::newRow("key 1") << "1"
                               << "#a1f"
                               << "#aa11ff";
    }
    void cleansPalette()
    {
        QFETCH(QString, key);
        QFETCH(QString, color);
        QFETCH(QString, expected);
        Creature c = samples::creature();
        c.palette.insert(key, color);
        QCOMPARE(c.validated().palette.value(key), expected);
    }

    void paletteSizeLimits()
    {
        // 2 and 16 colours pass.
        for (int count : {2, 16}) {
            const Creature c = withPalette(paletteOf(count));
            QCOMPARE(c.validated().palette.size(), count);
        }
    }

    void refusesFrames_data()
    {
        QTest::addColumn<Creature>("creature");
        QTest::addColumn<QString>("message");

        Creature noSleep = samples::creature();
        noSleep.frames.remove(QStringLiteral("sleep"));
        QTest::newRow("no sleep") << noSleep << "The creature is missing the \"sleep\" frame.";
        Creature noneOfThem = samples::creature();
        noneOfThem.frames.clear();
        QTest::newRow("no frames") << noneOfThem << "The creature is missing the \"idle\" frame.";
        Creature twoMissing = samples::creature();
        twoMissing.frames.remove(QStringLiteral("attack"));
        twoMissing.frames.remove(QStringLiteral("idle2"));
        QTest::newRow("first missing in order")
            << twoMissing << "The creature is missing the \"idle2\" frame.";

        Creature narrow20 = samples::creature();
        for (QStringList &rows : narrow20.frames)
            rows = samples::frame(7, 20, 3);
        QTest::newRow("7x20 too small") << narrow20 << "The frames are too small to draw.";
        Creature narrow = samples::creature();
        for (QStringList &rows : narrow.frames)
            rows = samples::frame(7, 8, 2);
        QTest::newRow("all 7 wide") << narrow << "The frames are too small to draw.";
        Creature short7 = samples::creature();
        for (QStringList &rows : short7.frames)
            rows = samples::frame(12, 7, 2);
        QTest::newRow("all 7 high") << short7 << "The frames are too small to draw.";
        QTest::newRow("41x20 too big") << withFrame("run1", samples::frame(41, 20, 3))
                                       << "The frames are too big (41x20; the limit is 40x32).";
        QTest::newRow("10x33 too big") << withFrame("crouch", samples::frame(10, 33, 3))
                                       << "The frames are too big (10x33; the limit is 40x32).";
        // Only kept frames count towards the size.
        QTest::newRow("unknown frame does not count")
            << withFrame("jump", samples::frame(50, 50, 3)) << QString();

        QStringList spaced = samples::frame(10, 8, 2);
        spaced[7][4] = u' ';
        QTest::newRow("space in a row")
            << withFrame("idle", spaced)
            << "Frame \"idle\" uses the letter \" \", which is not in the palette.";
        QStringList accented = samples::frame(10, 8, 2);
        accented[6] = QStringLiteral("aaaa\u00e9aaaaa");
        QTest::newRow("letter not in palette")
            << withFrame("leap", accented)
            << "Frame \"leap\" uses the letter \"é\", which is not in the palette.";
        // "a" + combining mark is one character, and not the palette's "a".
        QStringList combined = samples::frame(10, 8, 2);
        combined[6] = QStringLiteral("aaaaa\u0301aaaaa");
        QTest::newRow("combining mark on a key")
            << withFrame("run2", combined)
            << "Frame \"run2\" uses the letter \"a\u0301\", which is not in the palette.";

        QStringList eleven = samples::frame(10, 8, 1);
        eleven[6] = QStringLiteral("a.........");
        eleven[7] = QStringLiteral("aaaaaaaaaa");
        QStringList twelve = eleven;
        twelve[5] = QStringLiteral("a.........");
        QStringList oneFewer = twelve;
        oneFewer[6] = QStringLiteral("..........");
        QTest::newRow("11 pixels almost empty")
            << withFrame("attack", eleven) << "Frame \"attack\" is almost empty.";
        QTest::newRow("12 pixels pass") << withFrame("attack", twelve) << QString();
        QTest::newRow("optional frame with one pixel")
            << withFrame("skid", samples::frame(10, 8, 0) << QStringLiteral("a")) << QString();
        QTest::newRow("empty optional frame") << withFrame("sleep2", QStringList()) << QString();
        QTest::newRow("empty required frame")
            << withFrame("idle", QStringList()) << "Frame \"idle\" is almost empty.";
        QTest::newRow("40x32 passes") << withFrame("walk1", samples::frame(40, 32, 5)) << QString();
    }
    void refusesFrames()
    {
        QFETCH(Creature, creature);
        QFETCH(QString, message);
        QCOMPARE(failureOf(creature), message);
    }

    void dropsUnknownFrames()
    {
        Creature c = samples::creature();
        c.frames.insert(QStringLiteral("jump"), samples::frame(10, 8, 2));
        c.frames.insert(QStringLiteral("crouch"), samples::frame(10, 8, 2));
        const Creature clean = c.validated();
        QVERIFY(!clean.frames.contains(QStringLiteral("jump")));
        QVERIFY(clean.frames.contains(QStringLiteral("crouch")));
        QCOMPARE(clean.frames.size(), 7);
    }

    void padsToOneRectangle()
    {
        Creature c = samples::creature();
        // idle: 10 rows of uneven width; the tallest frame (run1) has 12 rows.
        QStringList idle = samples::frame(10, 10, 2);
        idle[8] = QStringLiteral("aaaaa");
        c.frames.insert(QStringLiteral("idle"), idle);
        c.frames.insert(QStringLiteral("run1"), samples::frame(14, 12, 2));
        const Creature clean = c.validated();
        for (const QStringList &rows : clean.frames) {
            QCOMPARE(rows.size(), 12);
            for (const QString &row : rows)
                QCOMPARE(row.size(), 14);
        }
        const QStringList cleanIdle = clean.frames.value(QStringLiteral("idle"));
        QCOMPARE(cleanIdle[0], QString(14, u'.'));
        QCOMPARE(cleanIdle[1], QString(14, u'.'));
        QCOMPARE(cleanIdle[10], QStringLiteral("aaaaa........."));
        QCOMPARE(cleanIdle[11], QStringLiteral("aaaaaaaaaa...."));
    }

    void alignsToBottom_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("moves");
        QTest::newRow("idle") << "idle" << true;
        QTest::newRow("crouch") << "crouch" << true;
        QTest::newRow("leap stays in the air") << "leap" << false;
    }
    void alignsToBottom()
    {
        QFETCH(QString, frame);
        QFETCH(bool, moves);
        // A sprite in the top half: rows 1 to 3 drawn, rows 4 to 7 blank.
        QStringList rows = samples::frame(10, 8, 0);
        rows[1] = QStringLiteral("aaaaaaaaaa");
        rows[2] = QStringLiteral("b.b.b.b.b.");
        rows[3] = QStringLiteral("aaaaaaaaaa");
        const Creature clean = withFrame(frame, rows).validated();
        QStringList expected = rows;
        if (moves)
            expected = samples::frame(10, 8, 0).mid(0, 4) + rows.mid(0, 4);
        QCOMPARE(clean.frames.value(frame), expected);
    }

    void leavesBlankFrameAlone()
    {
        const QStringList blank = samples::frame(10, 8, 0);
        QCOMPARE(withFrame("walk2", blank).validated().frames.value("walk2"), blank);
    }

    void cleansAttacks_data()
    {
        QTest::addColumn<QStringList>("attacks");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("lower case, no repeats, four")
            << QStringList{"Fire", "fire", "bark", "zap", "quake", "tornado"}
            << QStringList{"fire", "zap", "quake", "tornado"};
        QTest::newRow("none") << QStringList{} << defaultAttacks();
        QTest::newRow("only unknown") << QStringList{"bark"} << defaultAttacks();
        QTest::newRow("order kept")
            << QStringList{"HOLYPILLAR", "pounce"} << QStringList{"holypillar", "pounce"};
        QTest::newRow("no trimming") << QStringList{" zap", "zap "} << defaultAttacks();
    }
    void cleansAttacks()
    {
        QFETCH(QStringList, attacks);
        QFETCH(QStringList, expected);
        Creature c = samples::creature();
        c.attacks = attacks;
        QCOMPARE(c.validated().attacks, expected);
    }

    void cleansSound_data()
    {
        QTest::addColumn<std::optional<QString>>("sound");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cut to 7") << std::optional<QString>("woof woof!") << "WOOFWOO";
        QTest::newRow("upper case") << std::optional<QString>("grr!") << "GRR!";
        QTest::newRow("no letters") << std::optional<QString>("123") << "ROAR!";
        QTest::newRow("absent") << std::optional<QString>() << "ROAR!";
        // Full case mapping: ß becomes SS before the cut.
        QTest::newRow("sharp s") << std::optional<QString>("straße!") << "STRASSE";
        QTest::newRow("accents are not ASCII") << std::optional<QString>("éa\u0301b") << "B";
    }
    void cleansSound()
    {
        QFETCH(std::optional<QString>, sound);
        QFETCH(QString, expected);
        Creature c = samples::creature();
        c.sound = sound;
        QCOMPARE(c.validated().sound, std::optional<QString>(expected));
    }

    void checkIsStable()
    {
        // A cleaned creature passes the check unchanged.
        Creature c = samples::creature(QStringLiteral(" Mr. Rex "));
        c.palette.insert(QStringLiteral("c"), QStringLiteral("#ABC"));
        c.frames.insert(QStringLiteral("leap"), samples::frame(9, 5, 0) << QStringLiteral("c"));
        c.sound.reset();
        const Creature once = c.validated();
        QCOMPARE(once.validated(), once);
    }
};

QTEST_GUILESS_MAIN(TestCreatureCheck)
#include "tst_creaturecheck.moc"
