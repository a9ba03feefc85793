// The creature library on disk: free names, replacing, listing, the built-in creature.

#include "creatures/CreatureLibrary.h"
#include "settings/Resources.h"
#include "support/CreatureSamples.h"

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

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList namesOf(const QList<Creature> &creatures)
{
    QStringList names;
    for (const Creature &c : creatures)
        names.append(c.name);
    return names;
}

void setModified(const QString &path, int secondsAgo)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                             QFileDevice::FileModificationTime));
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

    void standardFolder()
    {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QCOMPARE(CreatureLibrary::standardFolder(), data + QStringLiteral("/Bopling/creatures"));
        QCOMPARE(CreatureLibrary().folder(), CreatureLibrary::standardFolder());
    }

    void fileSlug_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("slug");
        QTest::newRow("space") << "Mr Whiskers"
                               << "mr-whiskers";
        QTest::newRow("number") << "Rex 2"
                                << "rex-2";
        QTest::newRow("letters of any script") << "Émile Straße"
                                               << "émile-straße";
        QTest::newRow("one dash per character") << "a.:b"
                                                << "a--b";
        QTest::newRow("combining mark stays with its letter") << "Cafe\u0301"
                                                              << "cafe\u0301";
        QTest::newRow("emoji is one character") << "Rex🐱"
                                                << "rex-";
        QTest::newRow("path") << "../../x"
                              << "------x";
        QTest::newRow("empty") << ""
                               << "creature";
    }
    void fileSlug()
    {
        QFETCH(QString, name);
        QFETCH(QString, slug);
        QCOMPARE(CreatureLibrary::fileSlug(name), slug);
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
        QTest::newRow("free") << QStringList{} << "Rex"
                              << "Rex"
                              << "rex.json";
        QTest::newRow("taken in other case") << QStringList{"rex"} << "Rex"
                                             << "Rex 2"
                                             << "rex-2.json";
        QTest::newRow("second alternative") << QStringList{"Rex", "Rex 2"} << "Rex"
                                            << "Rex 3"
                                            << "rex-3.json";
        QTest::newRow("Tobble is reserved") << QStringList{} << "Tobble"
                                            << "Tobble 2"
                                            << "tobble-2.json";
        QTest::newRow("in any case") << QStringList{} << "TOBBLE"
                                     << "TOBBLE 2"
                                     << "tobble-2.json";
        QTest::newRow("long name cut to 12") << QStringList{"Captain Barker"} << "Captain Barker"
                                             << "Captain Bark 2"
                                             << "captain-bark-2.json";
        QTest::newRow("slug taken") << QStringList{"Mr Whiskers"} << "Mr-Whiskers"
                                    << "Mr-Whiskers 2"
                                    << "mr-whiskers-2.json";
        QTest::newRow("no letters") << QStringList{} << "!!!"
                                    << "!!!"
                                    << "creature.json";
        QTest::newRow("cut by characters")
            << QStringList{"Ca\u0301ptain Barker"} << "Ca\u0301ptain Barker"
            << "Ca\u0301ptain Bark 2"
            << "ca\u0301ptain-bark-2.json";
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
        const std::optional<Creature> saved = library().find(stored);
        QVERIFY(saved);
        QCOMPARE(*saved, samples::creature(stored));
        QVERIFY2(filesInFolder().contains(file), qPrintable(filesInFolder().join(' ')));
        QCOMPARE(filesInFolder().size(), existing.size() + 1);
    }

    void namesStayInsideTheFolder()
    {
        QCOMPARE(library().save(samples::creature(QStringLiteral("../../x"))),
                 QStringLiteral("../../x"));
        QCOMPARE(filesInFolder(), QStringList{QStringLiteral("------x.json")});
        QVERIFY(library().find(QStringLiteral("../../x")));
        library().remove(QStringLiteral("../../x"));
        QVERIFY(filesInFolder().isEmpty());
        QCOMPARE(QDir(root.path()).entryList(QDir::Files), QStringList());
    }

    void replaces_data()
    {
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("same name") << "Rex"
                                   << "Rex" << QStringList{"max.json", "rex.json"};
        QTest::newRow("same slug, new case") << "REX"
                                             << "REX" << QStringList{"max.json", "rex.json"};
        QTest::newRow("renamed") << "Bo"
                                 << "Bo" << QStringList{"bo.json", "max.json"};
        QTest::newRow("renamed to a taken name")
            << "max"
            << "max 2" << QStringList{"max-2.json", "max.json"};
        QTest::newRow("renamed to Tobble")
            << "Tobble"
            << "Tobble 2" << QStringList{"max.json", "tobble-2.json"};
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
        const std::optional<Creature> found = library().find(stored);
        QVERIFY(found);
        QCOMPARE(found->sound, std::optional<QString>("EDITED"));
        QCOMPARE(library().all().size(), 2);
    }

    void listsOldestFirstAndSkipsTheRest()
    {
        QDir().mkpath(folder);
        writeFile(folder + "/b.json", samples::creature("Second").encode());
        writeFile(folder + "/a.json", samples::creature("Third").encode());
        writeFile(folder + "/c.json", samples::creature("First").encode());
        setModified(folder + "/b.json", 200);
        setModified(folder + "/a.json", 100);
        setModified(folder + "/c.json", 300);
        // Skipped: other extensions, damaged or oversized JSON, folders.
        writeFile(folder + "/notes.txt", samples::creature("Notes").encode());
        writeFile(folder + "/upper.JSON", samples::creature("Upper").encode());
        writeFile(folder + "/rex.json", samples::creature("Rex").encode().left(40));
        writeFile(folder + "/empty.json", QByteArray());
        QByteArray big = samples::creature("Big").encode();
        big.append(QByteArray(CreatureLibrary::kMaxFileBytes, ' '));
        writeFile(folder + "/big.json", big);
        QDir().mkpath(folder + "/dir.json");
        QCOMPARE(namesOf(library().all()), (QStringList{"First", "Second", "Third"}));
    }

    void damagedFilesAreNeverOverwritten()
    {
        // A file that cannot be read still holds its name on disk.
        QDir().mkpath(folder);
        const QByteArray damaged = samples::creature("Rex").encode().left(40);
        writeFile(folder + "/rex.json", damaged);
        QCOMPARE(library().save(samples::creature("Rex")), QStringLiteral("Rex 2"));
        library().save(samples::creature("Max"));
        QCOMPARE(library().replace("Max", samples::creature("Rex")), QStringLiteral("Rex 3"));
        QCOMPARE(readFile(folder + "/rex.json"), damaged);
        QCOMPARE(namesOf(library().all()).size(), 2);
    }

    void removes()
    {
        library().save(samples::creature("Rex"));
        library().save(samples::creature("Max"));
        library().remove("Rex");
        library().remove("Rex"); // again: nothing to delete, no failure
        QCOMPARE(namesOf(library().all()), QStringList{"Max"});
    }

    void saveFailureIsThrown()
    {
        // The folder cannot be created where a file stands.
        QDir().mkpath(root.filePath("data"));
        writeFile(root.filePath("data/Bopling"), "not a folder");
        try {
            library().save(samples::creature());
            QFAIL("saved into a folder that cannot exist");
        } catch (const CreatureLibrary::Error &error) {
            QVERIFY(error.message().contains(folder));
        }
        const CreatureLibrary noFolder(QString(), tobblePath());
        QVERIFY(noFolder.all().isEmpty());
        QVERIFY_THROWS_EXCEPTION(CreatureLibrary::Error, noFolder.save(samples::creature()));
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
        QVERIFY(tobble);
        QCOMPARE(tobble->name, QStringLiteral("Tobble"));
        QCOMPARE(*tobble, *CreatureLibrary().builtIn());
        QVERIFY(!library().find("tobble"));
        QVERIFY(!library().find("TOBBLE"));
        QVERIFY(!namesOf(library().all()).contains("Tobble"));
        // The shipped creature passes the check.
        QVERIFY(tobble->validated().frames.size() >= 6);
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
