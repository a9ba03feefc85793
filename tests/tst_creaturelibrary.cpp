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
};
QTEST_GUILESS_MAIN(TestCreatureLibrary)
#include "tst_creaturelibrary.moc"
