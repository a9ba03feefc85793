// Creatures: the check and its messages, the JSON form, drawing, and the library on disk (free
// names, replacing, listing, the built-in creature).

#include "creatures/Creature.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/Move.h"
#include "settings/Resources.h"
#include "support/CreatureSamples.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace bopling;
using samples::withFrame;

namespace {

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

// The sample's 10x8 frame (or `fill` pixels high) with row `y` replaced.
QStringList rowsWith(int y, const QString &row, int fill = 2)
{
    QStringList rows = samples::frame(10, 8, fill);
    rows[y] = row;
    return rows;
}

QString parserError(const QByteArray &json)
{
    QJsonParseError error{};
    QJsonDocument::fromJson(json, &error);
    return error.errorString();
}

QString tobblePath()
{
    return resourcePath(QStringLiteral("web/creatures/tobble.json"));
}

// Writes `bytes` to `path`, dated `secondsAgo` seconds back.
void writeFile(const QString &path, const QByteArray &bytes, int secondsAgo = 0)
{
    QFile file(files::write(path, bytes));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                             QFileDevice::FileModificationTime));
}

QStringList namesOf(const QList<Creature> &creatures)
{
    QStringList names;
    for (const Creature &c : creatures)
        names.append(c.name);
    return names;
}

} // namespace

class TestCreatures : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString folder; // a folder that does not exist until a save creates it

    CreatureLibrary library() const { return CreatureLibrary(folder, tobblePath()); }
    QStringList filesInFolder() const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(root.isValid());
    }

    void init()
    {
        folder = root.filePath(QStringLiteral("data/Bopling/creatures"));
        QDir(root.filePath(QStringLiteral("data"))).removeRecursively();
    }

    void choosesFreeNames()
    {
        // A creature stored first (or none), the name saved, the name it is stored under and
        // its file.
        const QList<QStringList> rows{
            {"rex", "Rex", "Rex 2", "rex-2.json"},
            {"", "Tobble", "Tobble 2", "tobble-2.json"}, // reserved for the built-in creature
            {"Captain Barker", "Captain Barker", "Captain Bark 2", "captain-bark-2.json"},
            {"", "!!!", "!!!", "creature.json"},
            {"Mr Whiskers", "Mr-Whiskers", "Mr-Whiskers 2", "mr-whiskers-2.json"}};
        for (const QStringList &row : rows) {
            init();
            if (!row[0].isEmpty())
                QCOMPARE(library().save(samples::creature(row[0])), row[0]);
            QCOMPARE(library().save(samples::creature(row[1])), row[2]);
            QCOMPARE(library().find(row[2]), samples::creature(row[2]));
            QVERIFY2(filesInFolder().contains(row[3]), qPrintable(filesInFolder().join(' ')));
            QCOMPARE(filesInFolder().size(), row[0].isEmpty() ? 1 : 2);
        }
    }

    // Removing takes only the named creature's file, even for a name made of path parts.
    void namesStayInsideTheFolder()
    {
        library().save(samples::creature("Max"));
        QCOMPARE(library().save(samples::creature("../../x")), QStringLiteral("../../x"));
        QCOMPARE(filesInFolder(), (QStringList{"------x.json", "max.json"}));
        QVERIFY(library().find("../../x"));
        library().remove("../../x");
        QCOMPARE(filesInFolder(), QStringList{"max.json"});
        QCOMPARE(QDir(root.path()).entryList(QDir::Files), QStringList());
    }

    // Replacing "Rex" (beside "Max") with an edited creature: its new name, the files after.
    void replaces()
    {
        const QList<std::tuple<QString, QString, QStringList>> rows{
            {"REX", "REX", {"max.json", "rex.json"}}, // the same file
            {"Bo", "Bo", {"bo.json", "max.json"}},
            {"max", "max 2", {"max-2.json", "max.json"}}};
        for (const auto &[newName, stored, files] : rows) {
            init();
            library().save(samples::creature(QStringLiteral("Rex")));
            library().save(samples::creature(QStringLiteral("Max")));
            Creature edited = samples::creature(newName);
            edited.sound = QStringLiteral("EDITED");
            QCOMPARE(library().replace(QStringLiteral("Rex"), edited), stored);
            QCOMPARE(filesInFolder(), files);
            edited.name = stored;
            QCOMPARE(library().find(stored), edited);
            QCOMPARE(library().all().size(), 2);
        }
    }

    // Skipped: other extensions, damaged or oversized JSON, folders. A file that cannot be
    // read still holds its name on disk, so saving never writes over it.
    void listsOldestFirstAndNeverOverwritesTheRest()
    {
        writeFile(folder + "/b.json", samples::creature("Second").encode(), 200);
        writeFile(folder + "/a.json", samples::creature("Third").encode(), 100);
        writeFile(folder + "/c.json", samples::creature("First").encode(), 300);
        writeFile(folder + "/notes.txt", samples::creature("Notes").encode());
        writeFile(folder + "/upper.JSON", samples::creature("Upper").encode());
        const QByteArray damaged = samples::creature("Rex").encode().left(40);
        writeFile(folder + "/rex.json", damaged);
        writeFile(folder + "/empty.json", QByteArray());
        writeFile(folder + "/big.json", samples::creature("Big").encode() +
                                            QByteArray(CreatureLibrary::kMaxFileBytes, ' '));
        QDir().mkpath(folder + "/dir.json");
        QCOMPARE(namesOf(library().all()), (QStringList{"First", "Second", "Third"}));

        QCOMPARE(library().save(samples::creature("Rex")), QStringLiteral("Rex 2"));
        QCOMPARE(library().save(samples::creature("Big")), QStringLiteral("Big 2"));
        QCOMPARE(library().replace("Big 2", samples::creature("Rex")), QStringLiteral("Rex 3"));
        QCOMPARE(files::read(folder + "/rex.json"), damaged);
        QCOMPARE(namesOf(library().all()),
                 (QStringList{"First", "Second", "Third", "Rex 2", "Rex 3"}));
    }

    // No data folder named by the system: nothing is listed, and saving says why rather
    // than writing at the top of the file system.
    void noDataFolder()
    {
        const CreatureLibrary noFolder(QString(), tobblePath());
        QVERIFY(noFolder.all().isEmpty());
        QCOMPARE(
            samples::messageOf<CreatureLibrary::Error>([&] { noFolder.save(samples::creature()); }),
            "There is no data folder for this user to keep creatures in.");
    }

    // A write cut short (a file size limit here, a full disk for users) or a creature too big
    // to read back fails, and the creature already stored stays whole and listed.
    void failedWritesKeepTheOldCreature()
    {
        library().save(samples::creature(QStringLiteral("Old")));
        const QByteArray before = files::read(folder + "/old.json");
        Creature big = samples::creature(QStringLiteral("New"));
        big.frames.insert("jump", QStringList(100, QString(50, u'a')));
        {
            const FileSizeLimit limit(1024);
            QVERIFY_THROWS_EXCEPTION(CreatureLibrary::Error, library().save(big));
            QVERIFY_THROWS_EXCEPTION(CreatureLibrary::Error, library().replace("Old", big));
        }
        big.frames.insert("jump", QStringList(40000, QString(40, u'a')));
        QVERIFY_THROWS_EXCEPTION(CreatureLibrary::Error, library().save(big));
        QCOMPARE(filesInFolder(), QStringList{"old.json"});
        QCOMPARE(files::read(folder + "/old.json"), before);
        QCOMPARE(namesOf(library().all()), QStringList{"Old"});
    }

    // "Tobble" is the built-in file, never a stored one; missing or damaged, it is not found.
    void findsTheBuiltInCreature()
    {
        if (!QFileInfo::exists(tobblePath()))
            QSKIP("resources/web/creatures/tobble.json is missing");
        library().save(samples::creature("tobble 2"));
        const std::optional<Creature> tobble = library().find("Tobble");
        QVERIFY(tobble && tobble->name == "Tobble");
        QCOMPARE(tobble, CreatureLibrary().builtIn());
        QVERIFY(!library().find("tobble"));
        QVERIFY(!namesOf(library().all()).contains("Tobble"));

        QVERIFY(!CreatureLibrary(folder, root.filePath("none.json")).builtIn());
        writeFile(root.filePath("bad.json"), "{\"name\":\"Tobble\"");
        const CreatureLibrary damaged(folder, root.filePath("bad.json"));
        QVERIFY(!damaged.builtIn() && !damaged.find("Tobble"));
    }

    // Attacks in lower case without repeats, at most four; the sound cut to seven capitals;
    // the name cut by whole characters.
    void cleansNameAttacksAndSound()
    {
        const QList<QPair<QString, QString>> names{
            {"?!.-*", "Buddy"},
            {"Cafe\u0301 Noir", "Cafe\u0301 Noir"}, // a combining mark stays with its letter
            // 14 characters of 3 bytes each are 42 bytes: the last goes.
            {QString(20, QChar(0x732B)), QString(13, QChar(0x732B))}};
        for (const auto &[name, expected] : names)
            QCOMPARE(samples::creature(name).validated().name, expected);

        Creature c = samples::creature();
        c.attacks = {"Fire", "fire", "bark", "zap", "quake", "tornado"};
        c.sound = "straße!"; // full case mapping: ß becomes SS before the cut
        QCOMPARE(c.validated().attacks, (QStringList{"fire", "zap", "quake", "tornado"}));
        QCOMPARE(c.validated().sound, std::optional<QString>("STRASSE"));
        c.attacks.clear();
        c.sound = "123";
        QCOMPARE(c.validated().attacks, defaultAttacks());
        QCOMPARE(c.validated().sound, std::optional<QString>("ROAR!"));
    }

    void refuses_data()
    {
        QTest::addColumn<Creature>("creature");
        QTest::addColumn<QString>("message"); // empty: passes
        QTest::newRow("sixteen colours pass") << withPalette(16) << QString();
        QTest::newRow("seventeen colours")
            << withPalette(17) << "The palette must have 2 to 16 colors (it has 17).";
        for (const QString &key : QStringList{".", "ab"})
            QTest::addRow("key \"%s\"", qPrintable(key))
                << withPalette(2, {{key, "#000000"}})
                << "Palette key \"" + key + "\" must be a single character other than \".\".";
        for (const QString &color : QStringList{"#ggg000", "#abcdeff", "#ABCDEF\n"})
            QTest::addRow("color \"%s\"", qPrintable(QString(color).replace(u'\n', u'~')))
                << withPalette(2, {{"a", color}})
                << "Palette color \"" + color + "\" is not a #rrggbb hex color.";

        Creature twoMissing = samples::creature();
        twoMissing.frames.remove("attack");
        twoMissing.frames.remove("idle2");
        QTest::newRow("first missing in order")
            << twoMissing << "The creature is missing the \"idle2\" frame.";
        Creature small = samples::creature();
        std::ranges::fill(small.frames, samples::frame(7, 20, 3));
        QTest::newRow("7x20 too small") << small << "The frames are too small to draw.";
        QTest::newRow("41x20 too big") << withFrame("run1", samples::frame(41, 20, 3))
                                       << "The frames are too big (41x20; the limit is 40x32).";
        QTest::newRow("40x32 passes") << withFrame("walk1", samples::frame(40, 32, 5)) << QString();
        // Only kept frames count towards the size.
        QTest::newRow("unknown frame does not count")
            << withFrame("jump", samples::frame(50, 50, 3)) << QString();
        QTest::newRow("space in a row")
            << withFrame("idle", rowsWith(7, "aaaa aaaaa"))
            << "Frame \"idle\" uses the letter \" \", which is not in the palette.";
        QTest::newRow("11 pixels") << withFrame("attack", rowsWith(6, "a.........", 1))
                                   << "Frame \"attack\" is almost empty.";
    }
    void refuses()
    {
        QFETCH(Creature, creature);
        QFETCH(QString, message);
        QCOMPARE(samples::messageOf<Creature::Invalid>([&] { (void)creature.validated(); }),
                 message);
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

    // A creature that skipped the check: upper-case hex is read, other colour texts and
    // unknown letters leave their cells empty, and rows longer than the first are cut.
    // Nothing is drawn for a missing or empty frame or an absurd scale.
    void drawsUncheckedCreatures()
    {
        const QRgb pink = qRgba(0xff, 0x00, 0x80, 255);
        Creature c = samples::withFrame("idle", {"AxyA", "A...", "A...A"});
        c.palette = {{"A", "#FF0080"}, {"x", "#12345"}, {"y", "red"}};
        const QImage image = c.frameImage("idle", 1);
        QCOMPARE(image.size(), QSize(6, 5));
        QCOMPARE(image.pixel(1, 1), pink);
        QCOMPARE(image.pixel(2, 1), qRgba(0x12, 0x0d, 0x1c, 255)); // "x": outline beside "A"
        QCOMPARE(image.pixel(1, 3), pink);
        QCOMPARE(image.pixel(5, 3), qRgba(0, 0, 0, 0)); // the fifth "A" lies beyond the first row

        c.frames.insert("skid", {});
        QVERIFY(c.frameImage("crouch", 6).isNull() && c.frameImage("skid", 6).isNull());
        QVERIFY(c.frameImage("idle", 0).isNull() && c.frameImage("idle", 1 << 30).isNull());
    }

    // Unknown keys are ignored; "attacks" and "sound" may be absent or null; the rest
    // round-trips through compact JSON.
    void decodesAndEncodes()
    {
        const QByteArray minimal =
            R"({"name":"Rex","palette":{"a":"#112233"},"frames":{"idle":["a.","aa"]}})";
        QCOMPARE(Creature::decode(minimal.chopped(1) + R"(,"extra":{"x":1}})").name, "Rex");
        for (const QByteArray &json :
             {minimal, minimal.chopped(1) + R"(,"attacks":null,"sound":null})"}) {
            const Creature decoded = Creature::decode(json);
            QVERIFY(decoded.attacks.isEmpty() && !decoded.sound.has_value());
        }
        QCOMPARE(samples::messageOf<Creature::DecodingError>([] { Creature::decode("[]"); }),
                 "the creature JSON is not an object");

        Creature c = samples::creature("Rëx \"the\" / dog");
        const QByteArray json = c.encode();
        QVERIFY(!json.contains('\n') && !json.contains(": "));
        QCOMPARE(Creature::decode(json), c);
        c.sound.reset();
        c.attacks.clear();
        const QJsonObject withoutSound = QJsonDocument::fromJson(c.encode()).object();
        QVERIFY(!withoutSound.contains("sound") && withoutSound.value("attacks").isArray());
        QCOMPARE(Creature::decode(c.encode()), c);
    }

    void fromReply_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("message"); // empty: the sample creature comes out
        const QString notJson = "Claude's reply was not valid creature JSON (";
        const QString object = QString::fromUtf8(samples::creature().encode());
        const QString twice = object + " or " + object;
        const QString deep = "{\"name\":" + QString(3000, u'[') + QString(3000, u']') + "}";
        const QString huge = "{\"name\":\"" + QString(Creature::kMaxJsonBytes, u'x') + "\"}";
        QTest::newRow("prose around") << "Here it is: " + object + " Enjoy!" << QString();
        QTest::newRow("fenced") << "```json\n" + object + "\n```\nHave fun {-:" << QString();
        QTest::newRow("only open")
            << "{ \"name\": " << QString("Claude's reply did not contain a creature.");
        QTest::newRow("two objects") << twice << notJson + parserError(twice.toUtf8()) + " at";
        QTest::newRow("no name") << "{\"hello\": 1}" << notJson + "the key \"name\" is missing).";
        QTest::newRow("palette number") << R"({"name":"x","palette":{"a":1},"frames":{}})"
                                        << notJson + "the palette entry \"a\" is not a string).";
        QTest::newRow("deep nesting") << deep << notJson + parserError(deep.toUtf8()) + " at";
        QTest::newRow("enormous") << huge
                                  << notJson + "the creature JSON is larger than 1048576 bytes).";
    }
    void fromReply()
    {
        QFETCH(QString, reply);
        QFETCH(QString, message);
        // Rows that end in the parser's own words give the start of the message.
        const QString failure =
            samples::messageOf<Creature::Invalid>([&] { Creature::fromReply(reply); });
        if (message.endsWith(u'.') || message.isEmpty())
            QCOMPARE(failure, message);
        else
            QVERIFY2(failure.startsWith(message) && failure.endsWith(")."), qPrintable(failure));
        if (message.isEmpty())
            QCOMPARE(Creature::fromReply(reply), samples::creature());
    }
};

QTEST_GUILESS_MAIN(TestCreatures)
#include "tst_creatures.moc"
