// The creature library on disk: free names, replacing, listing, the built-in creature.

#include "creatures/CreatureLibrary.h"
#include "settings/Resources.h"
#include "support/CreatureSamples.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

namespace {

QString tobblePath()
{
    return resourcePath(QStringLiteral("web/creatures/tobble.json"));
}

// Writes `bytes` to `path`, dated `secondsAgo` seconds back.
void writeFile(const QString &path, const QByteArray &bytes, int secondsAgo = 0)
{
    files::write(path, bytes);
    QFile file(path);
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

class TestCreatureLibrary : public QObject
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

    void emptyWithoutFolder()
    {
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(library().all().isEmpty());
        QVERIFY(!library().find(QStringLiteral("Rex")));
        library().remove(QStringLiteral("Rex")); // never fails
        QCOMPARE(library().save(samples::creature()), QStringLiteral("Rex"));
        QVERIFY(QFileInfo(folder + QStringLiteral("/rex.json")).isFile());
    }

    void choosesFreeNames_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("file");
        const auto row = [](const char *row, const QStringList &existing, const char *name,
                            const char *stored, const char *file) {
            QTest::newRow(row) << existing << QString(name) << QString(stored) << QString(file);
        };
        row("taken in other case", {"rex"}, "Rex", "Rex 2", "rex-2.json");
        row("Tobble is reserved", {}, "Tobble", "Tobble 2", "tobble-2.json");
        row("long name cut to 12", {"Captain Barker"}, "Captain Barker", "Captain Bark 2",
            "captain-bark-2.json");
        row("no letters", {}, "!!!", "!!!", "creature.json");
        row("slug taken", {"Mr Whiskers"}, "Mr-Whiskers", "Mr-Whiskers 2", "mr-whiskers-2.json");
    }
    void choosesFreeNames()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(QString, stored);
        QFETCH(QString, file);
        for (const QString &other : existing)
            QCOMPARE(library().save(samples::creature(other)), other);
        QCOMPARE(library().save(samples::creature(name)), stored);
        QCOMPARE(library().find(stored), samples::creature(stored));
        QVERIFY2(filesInFolder().contains(file), qPrintable(filesInFolder().join(' ')));
        QCOMPARE(filesInFolder().size(), existing.size() + 1);
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

    void replaces_data()
    {
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("files");
        const auto row = [](const char *row, const char *name, const char *stored,
                            const QStringList &files) {
            QTest::newRow(row) << QString(name) << QString(stored) << files;
        };
        row("same slug, new case", "REX", "REX", {"max.json", "rex.json"});
        row("renamed", "Bo", "Bo", {"bo.json", "max.json"});
        row("renamed to a taken name", "max", "max 2", {"max-2.json", "max.json"});
    }
    void replaces()
    {
        QFETCH(QString, newName);
        QFETCH(QString, stored);
        QFETCH(QStringList, files);
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

    void listsOldestFirstAndSkipsTheRest()
    {
        writeFile(folder + "/b.json", samples::creature("Second").encode(), 200);
        writeFile(folder + "/a.json", samples::creature("Third").encode(), 100);
        writeFile(folder + "/c.json", samples::creature("First").encode(), 300);
        // Skipped: other extensions, damaged or oversized JSON, folders.
        writeFile(folder + "/notes.txt", samples::creature("Notes").encode());
        writeFile(folder + "/upper.JSON", samples::creature("Upper").encode());
        writeFile(folder + "/rex.json", samples::creature("Rex").encode().left(40));
        writeFile(folder + "/empty.json", QByteArray());
        writeFile(folder + "/big.json", samples::creature("Big").encode() +
                                            QByteArray(CreatureLibrary::kMaxFileBytes, ' '));
        QDir().mkpath(folder + "/dir.json");
        QCOMPARE(namesOf(library().all()), (QStringList{"First", "Second", "Third"}));
    }

    void damagedFilesAreNeverOverwritten()
    {
        // A file that cannot be read still holds its name on disk.
        const QByteArray damaged = samples::creature("Rex").encode().left(40);
        writeFile(folder + "/rex.json", damaged);
        QCOMPARE(library().save(samples::creature("Rex")), QStringLiteral("Rex 2"));
        library().save(samples::creature("Max"));
        QCOMPARE(library().replace("Max", samples::creature("Rex")), QStringLiteral("Rex 3"));
        QCOMPARE(files::read(folder + "/rex.json"), damaged);
        QCOMPARE(library().all().size(), 2);
    }

    void saveFailureIsThrown()
    {
        // The folder cannot be created where a file stands.
        writeFile(root.filePath("data/Bopling"), "not a folder");
        const QString failure = samples::messageOf<CreatureLibrary::Error>(
            [&] { library().save(samples::creature()); });
        QVERIFY2(failure.contains(folder), qPrintable(failure));
        // No data folder named by the system: nothing is listed, saving says why.
        const CreatureLibrary noFolder(QString(), tobblePath());
        QVERIFY(noFolder.all().isEmpty());
        QCOMPARE(
            samples::messageOf<CreatureLibrary::Error>([&] { noFolder.save(samples::creature()); }),
            "There is no data folder for this user to keep creatures in.");
    }

    // A write cut short (a file size limit here, a full disk for users) fails, and the
    // creature already stored stays whole and listed.
    void shortWriteFailsAndKeepsTheOldCreature()
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
        QCOMPARE(filesInFolder(), QStringList{"old.json"});
        QCOMPARE(files::read(folder + "/old.json"), before);
        QCOMPARE(namesOf(library().all()), QStringList{"Old"});
    }

    void refusesCreaturesTooBigToReadBack()
    {
        Creature huge = samples::creature();
        huge.frames.insert("jump", QStringList(40000, QString(40, u'a')));
        QVERIFY_THROWS_EXCEPTION(CreatureLibrary::Error, library().save(huge));
        QVERIFY(filesInFolder().isEmpty());
    }

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
    }

    void builtInMissingOrDamaged()
    {
        QVERIFY(!CreatureLibrary(folder, root.filePath("none.json")).builtIn());
        writeFile(root.filePath("bad.json"), "{\"name\":\"Tobble\"");
        const CreatureLibrary damaged(folder, root.filePath("bad.json"));
        QVERIFY(!damaged.builtIn());
        QVERIFY(!damaged.find("Tobble"));
    }
};

QTEST_GUILESS_MAIN(TestCreatureLibrary)
#include "tst_creaturelibrary.moc"
