#include "creatures/Creature.h"
#include "creatures/Move.h"
#include "support/CreatureSamples.h"

#include <QTest>

#include <algorithm>

using namespace bopling;
using samples::withFrame;

namespace {

QString failureOf(const Creature &creature)
{
    return samples::messageOf<Creature::Invalid>([&] { (void)creature.validated(); });
}

// The sample creature with `count` colours keyed "a", "b", ... and `extra` on top.
Creature withPalette(int count, const QMap<QString, QString> &extra = {})
{
    Creature c = samples::creature();
    c.palette.clear();
    for (int i = 0; i < count; ++i)
        c.palette.insert(QString(QChar(u'a' + i)), QStringLiteral("#000000"));
    c.palette.insert(extra);
    return c;
}

Creature withAllFrames(const QStringList &rows)
{
    Creature c = samples::creature();
    std::ranges::fill(c.frames, rows);
    return c;
}

// The sample's 10x8 frame (or `fill` pixels high) with row `y` replaced.
QStringList rowsWith(int y, const QString &row, int fill = 2, const QStringList &base = {})
{
    QStringList rows = base.isEmpty() ? samples::frame(10, 8, fill) : base;
    rows[y] = row;
    return rows;
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
        const auto row = [](const char *row, const QString &name, const QString &expected) {
            QTest::newRow(row) << name << expected;
        };
        row("punctuation only", "?!.-*", "Buddy");
        row("punctuation dropped", "Mr. Whiskers!", "Mr Whiskers");
        row("outer spaces trimmed", "  Rex  ", "Rex");
        row("tabs are not kept", "\tRex\tJr", "RexJr");
        row("20 letters keep 14", "ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMN");
        row("numbers kept", "R2-D2 ½", "R2D2 ½");
        // A letter with a combining mark is one character, not two.
        row("combining marks", "Cafe\u0301 Noir", "Cafe\u0301 Noir");
        row("emoji dropped", "Rex 🐱", "Rex");
        // 14 characters of 3 bytes each are 42 bytes: the last goes.
        row("40-byte cut, CJK", QString(20, QChar(0x732B)), QString(13, QChar(0x732B)));
        row("40-byte cut, combining", QString("e\u0301").repeated(20),
            QString("e\u0301").repeated(13));
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
        const QString size = QStringLiteral("The palette must have 2 to 16 colors (it has %1).");
        QTest::newRow("no colours") << withPalette(0) << size.arg(0);
        QTest::newRow("one colour") << withPalette(1) << size.arg(1);
        QTest::newRow("sixteen colours pass") << withPalette(16) << QString();
        QTest::newRow("seventeen colours") << withPalette(17) << size.arg(17);
        for (const QString &key : QStringList{".", "ab", "é", "e\u0301"})
            QTest::addRow("key \"%s\"", qPrintable(key))
                << withPalette(2, {{key, "#000000"}})
                << "Palette key \"" + key + "\" must be a single character other than \".\".";
        for (const QString &color :
             QStringList{"abcdef", "#ggg000", "#12345", "#abcdeff", "#ABCDEF\n"})
            QTest::addRow("color \"%s\"", qPrintable(QString(color).replace(u'\n', u'~')))
                << withPalette(2, {{"a", color}})
                << "Palette color \"" + color + "\" is not a #rrggbb hex color.";
    }
    void refusesPalette()
    {
        QFETCH(Creature, creature);
        QFETCH(QString, message);
        QCOMPARE(failureOf(creature), message);
    }

    // The short form, trimmed and in lower case; "#" is a key like any other.
    void cleansPalette()
    {
        Creature c = samples::creature();
        c.palette.insert({{"a", " #ABC "}, {"#", "#123456"}});
        const Creature clean = c.validated();
        QCOMPARE(clean.palette.value("a") + clean.palette.value("#"), "#aabbcc#123456");
    }

    void refusesFrames_data()
    {
        QTest::addColumn<Creature>("creature");
        QTest::addColumn<QString>("message");

        const QString missing = QStringLiteral("The creature is missing the \"%1\" frame.");
        Creature twoMissing = samples::creature();
        twoMissing.frames.remove("attack");
        twoMissing.frames.remove("idle2");
        QTest::newRow("first missing in order") << twoMissing << missing.arg("idle2");
        twoMissing.frames.clear();
        QTest::newRow("no frames") << twoMissing << missing.arg("idle");

        const QString tooSmall = QStringLiteral("The frames are too small to draw.");
        QTest::newRow("7x20 too small") << withAllFrames(samples::frame(7, 20, 3)) << tooSmall;
        QTest::newRow("all 7 high") << withAllFrames(samples::frame(12, 7, 2)) << tooSmall;
        const QString tooBig = QStringLiteral("The frames are too big (%1; the limit is 40x32).");
        QTest::newRow("41x20 too big")
            << withFrame("run1", samples::frame(41, 20, 3)) << tooBig.arg("41x20");
        QTest::newRow("10x33 too big")
            << withFrame("crouch", samples::frame(10, 33, 3)) << tooBig.arg("10x33");
        QTest::newRow("40x32 passes") << withFrame("walk1", samples::frame(40, 32, 5)) << QString();
        // Only kept frames count towards the size.
        QTest::newRow("unknown frame does not count")
            << withFrame("jump", samples::frame(50, 50, 3)) << QString();

        const QString notInPalette =
            "Frame \"%1\" uses the letter \"%2\", which is not in the palette.";
        QTest::newRow("space in a row")
            << withFrame("idle", rowsWith(7, "aaaa aaaaa")) << notInPalette.arg("idle", " ");
        // "a" + combining mark is one character, and not the palette's "a".
        QTest::newRow("combining mark on a key")
            << withFrame("run2", rowsWith(6, "aaaaa\u0301aaaaa"))
            << notInPalette.arg("run2", "a\u0301");

        const QStringList eleven = rowsWith(6, "a.........", 1);
        QTest::newRow("11 pixels")
            << withFrame("attack", eleven) << "Frame \"attack\" is almost empty.";
        QTest::newRow("12 pixels pass")
            << withFrame("attack", rowsWith(5, "a.........", 1, eleven)) << QString();
        QTest::newRow("optional frame with one pixel")
            << withFrame("skid", samples::frame(10, 8, 0) << "a") << QString();
        QTest::newRow("empty optional frame") << withFrame("sleep2", {}) << QString();
    }
    void refusesFrames()
    {
        QFETCH(Creature, creature);
        QFETCH(QString, message);
        QCOMPARE(failureOf(creature), message);
    }

    void padsToOneRectangle()
    {
        // idle: 10 rows of uneven width; run1 is the widest (14) and tallest (12) frame.
        QStringList idle = samples::frame(10, 10, 2);
        idle[8] = "aaaaa";
        Creature c = withFrame("idle", idle);
        c.frames.insert("run1", samples::frame(14, 12, 2));
        const Creature clean = c.validated();
        QCOMPARE(clean.frames.value("run1"), samples::frame(14, 12, 2));
        const QStringList expected =
            samples::frame(14, 10, 0) + QStringList{"aaaaa.........", "aaaaaaaaaa...."};
        QCOMPARE(clean.frames.value("idle"), expected);
    }

    void alignsToBottom_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("expected");
        // A sprite in the top half: rows 1 to 3 drawn, rows 4 to 7 blank.
        const QStringList blank = samples::frame(10, 8, 0);
        const QStringList top =
            blank.mid(0, 1) + QStringList{"aaaaaaaaaa", "b.b.b.b.b.", "aaaaaaaaaa"} + blank.mid(4);
        const QStringList bottom = blank.mid(4) + top.mid(0, 4);
        QTest::newRow("idle") << "idle" << top << bottom;
        QTest::newRow("leap stays in the air") << "leap" << top << top;
        QTest::newRow("blank frame") << "walk2" << blank << blank;
    }
    void alignsToBottom()
    {
        QFETCH(QString, frame);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, expected);
        QCOMPARE(withFrame(frame, rows).validated().frames.value(frame), expected);
    }

    void cleansAttacks_data()
    {
        QTest::addColumn<QStringList>("attacks");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("lower case, no repeats, four")
            << QStringList{"Fire", "fire", "bark", "zap", "quake", "tornado"}
            << QStringList{"fire", "zap", "quake", "tornado"};
        QTest::newRow("none") << QStringList{} << defaultAttacks();
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
        const auto row = [](const char *row, std::optional<QString> sound, const char *expected) {
            QTest::newRow(row) << sound << QString(expected);
        };
        row("cut to 7", "woof woof!", "WOOFWOO");
        row("no letters", "123", "ROAR!");
        // Full case mapping: ß becomes SS before the cut.
        row("sharp s", "straße!", "STRASSE");
        row("accents are not ASCII", "éa\u0301b", "B");
    }
    void cleansSound()
    {
        QFETCH(std::optional<QString>, sound);
        QFETCH(QString, expected);
        Creature c = samples::creature();
        c.sound = sound;
        QCOMPARE(c.validated().sound, std::optional<QString>(expected));
    }
};

QTEST_GUILESS_MAIN(TestCreatureCheck)
#include "tst_creaturecheck.moc"
