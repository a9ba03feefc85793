#include "settings/Settings.h"
#include "settings/SystemLog.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace bopling;

namespace {

// Every simple getter by its key, and the positions on screen 1, so rows can name them.
QVariantMap readings(const Settings &s)
{
    const auto optional = [](const auto &value) { return value ? QVariant(*value) : QVariant(); };
    const auto screen = [&](Layout layout) {
        const std::optional<quint32> screen = s.savedScreen(layout);
        return screen ? QVariant(qint64(*screen)) : QVariant();
    };
    return {{"screen.corner", screen(Layout::corner)},
            {"screen.strip", screen(Layout::strip)},
            {"position.corner", optional(s.savedPosition(Layout::corner, 1))},
            {"position.strip", optional(s.savedPosition(Layout::strip, 1))},
            {"layout", layoutName(s.layout())},
            {"corner", cornerName(s.corner())},
            {"scene", sceneName(s.scene())},
            {"cornerSize", s.cornerSize()},
            {"stripSize", s.stripSize()},
            {"intensity", s.intensity()},
            {"warriorCount", s.warriorCount()},
            {"warriors", s.warriors()},
            {"beatPulse", s.beatPulse()},
            {"monsters", s.monsters()},
            {"fadeOnHover", s.fadeOnHover()},
            {"paused", s.paused()},
            {"tobble", s.tobble()},
            {"familiars", s.familiars()}};
}

const QVariantMap kDefaults{{"layout", "corner"},    {"corner", "bottomRight"},
                            {"scene", "campfire"},   {"cornerSize", 1},
                            {"stripSize", 0},        {"intensity", 1},
                            {"warriorCount", -1},    {"warriors", true},
                            {"beatPulse", true},     {"monsters", true},
                            {"fadeOnHover", true},   {"paused", false},
                            {"tobble", true},        {"familiars", QStringList{"Tobble"}},
                            {"screen.corner", {}},   {"screen.strip", {}},
                            {"position.corner", {}}, {"position.strip", {}}};

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

QVariantMap defaultsWith(const QVariantMap &changes)
{
    QVariantMap readings = kDefaults;
    readings.insert(changes);
    return readings;
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QStringList logLines;

    QString file() const { return dir->filePath("Bopling/settings.json"); }
    QString earlier() const { return dir->filePath("Dotscope/settings.json"); }

    std::unique_ptr<Settings> storeWith(const QByteArray &json)
    {
        return std::make_unique<Settings>(files::write(file(), json));
    }

    QJsonObject onDisk() const { return object(files::read(file())); }

    QStringList damagedCopies() const
    {
        return QDir(dir->filePath("Bopling"))
            .entryList({"settings.json.damaged-*"}, QDir::AllEntries | QDir::System, QDir::Name);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        setSystemLogSink([this](const QString &line) { logLines.append(line); });
    }
    void cleanupTestCase() { setSystemLogSink({}); }
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        logLines.clear();
    }

    // A stored file reads clamped, or as the default where a value is of the wrong kind; a
    // malformed positions entry hides every entry. Keys not in `changes` keep their default.
    void storedValueReads_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QVariantMap>("changes");
        const auto row = [](const char *stored, const QVariantMap &changes) {
            QTest::newRow(stored) << QByteArray(stored) << changes;
        };
        row(R"({"cornerSize": 7})", {{"cornerSize", 3}});
        row(R"({"cornerSize": "2"})", {});
        row(R"({"cornerSize": 2.5})", {});
        row(R"({"cornerSize": 9223372036854775808})", {});
        row(R"({"warriorCount": 20})", {{"warriorCount", 8}});
        row(R"({"warriorCount": 2.0})", {{"warriorCount", 2}});
        row(R"({"warriorCount": 1e30})", {});
        row(R"({"warriors": "false"})", {});
        row(R"({"layout": "Strip"})", {});
        row(R"({"screen.strip": 4294967295})", {{"screen.strip", qint64(4294967295)}});
        row(R"({"screen.strip": 4294967296, "screen.corner": -1})", {});
        row(R"({"familiars": ["A", "B", "C", "D", "E"]})",
            {{"familiars", QStringList{"A", "B", "C"}}});
        row(R"({"familiars": [], "tobble": true})", {{"familiars", QStringList{}}});
        row(R"({"familiars": ["A", 3], "tobble": false})",
            {{"familiars", QStringList{}}, {"tobble", false}});
        row(R"({"positions": {"corner.1": [10, 20.5]}})", {{"position.corner", QPointF(10, 20.5)}});
        row(R"({"positions": {"corner.1": [10, 20.5], "strip.1": [1, "2"]}})", {});
        row(R"({"positions": [[10, 20.5]]})", {});
    }

    void storedValueReads()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QVariantMap, changes);
        QCOMPARE(readings(*storeWith(stored)), defaultsWith(changes));
    }

    // Writers store what they are given under their key names; the clamp belongs to reading.
    // Every write is on disk when the setter returns and survives a reload.
    void writesSurviveReloadUnclamped()
    {
        {
            Settings s(file());
            s.setLayout(Layout::strip);
            s.setCornerSize(7);
            s.setIntensity(-4);
            s.setWarriors(false);
            s.setTobble(false);
            QCOMPARE(onDisk(), object(R"({"layout": "strip", "cornerSize": 7, "intensity": -4,
                "warriors": false, "tobble": false, "migratedFromDotscope": true})"));
        }
        QCOMPARE(readings(Settings(file())), defaultsWith({{"layout", "strip"},
                                                           {"cornerSize", 3},
                                                           {"intensity", 0},
                                                           {"warriors", false},
                                                           {"tobble", false},
                                                           {"familiars", QStringList{}}}));
    }

    // A save replaces a malformed dictionary and skips a coordinate JSON cannot hold (it would
    // come back as null and spoil every saved position); a later save on a screen replaces its
    // entry.
    void savePositionKeepsTheDictionaryReadable()
    {
        const auto s = storeWith(R"({"positions": {"corner.1": [10, 20], "strip.4": {"x": 1}}})");
        s->savePosition(Layout::strip, 7, 3.25, -4);
        QCOMPARE(onDisk().value("positions").toObject(),
                 (QJsonObject{{"strip.7", QJsonArray{3.25, -4}}}));
        s->savePosition(Layout::corner, 2, std::numeric_limits<double>::quiet_NaN(), 0);
        s->savePosition(Layout::corner, 3, 0, std::numeric_limits<double>::infinity());
        s->savePosition(Layout::strip, 4294967295u, 1, 2);
        s->savePosition(Layout::strip, 7, 5, 6);
        const Settings reloaded(file());
        QCOMPARE(reloaded.savedPosition(Layout::strip, 7), QPointF(5, 6));
        QCOMPARE(reloaded.savedPosition(Layout::strip, 4294967295u), QPointF(1, 2));
        QCOMPARE(reloaded.savedScreen(Layout::strip), quint32(7));
        QVERIFY(!reloaded.savedScreen(Layout::corner));
    }

    // Threads other than the main one may read and write; no update may be lost.
    void concurrentWritersLoseNothing()
    {
        Settings s(file());
        std::vector<std::thread> writers;
        for (quint32 t = 0; t < 4; ++t)
            writers.emplace_back([&s, t] {
                for (quint32 i = 0; i < 10; ++i, (void)s.familiars())
                    s.savePosition(Layout::corner, t * 100 + i, t, i);
            });
        for (std::thread &w : writers)
            w.join();
        const Settings reloaded(file());
        for (quint32 t = 0; t < 4; ++t)
            for (quint32 i = 0; i < 10; ++i)
                QCOMPARE(reloaded.savedPosition(Layout::corner, t * 100 + i), QPointF(t, i));
    }

    // A damaged file, or anything but a regular file of a sane size (never opened or read to
    // its end), is reported and kept aside as it is; the store goes on with a file of its own.
    void damagedFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content"); // "@" + what to plant instead of a file
        QTest::newRow("cut short") << QByteArray("{\"cornerSize\": 2, \"layout\": \"str");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("2 MiB") << QByteArray(2 << 20, ' ') + "{}";
        QTest::newRow("link to /dev/zero") << QByteArray("@zero");
        QTest::newRow("folder") << QByteArray("@folder");
    }
    void damagedFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QDir().mkpath(dir->filePath("Bopling"));
        if (content == "@zero")
            QFile::link("/dev/zero", file());
        else if (content == "@folder")
            QDir().mkpath(file());
        else
            files::write(file(), content);
        Settings s(file());
        QCOMPARE(s.cornerSize(), 1);
        const QStringList copies = damagedCopies();
        QCOMPARE(copies.size(), 1);
        const QString copy = dir->filePath("Bopling/" + copies.first());
        QCOMPARE(QFileInfo(copy).isSymLink(), content == "@zero");
        QCOMPARE(QFileInfo(copy).isDir(), content == "@folder");
        if (!content.startsWith('@'))
            QCOMPARE(files::read(copy), content);
        QCOMPARE(logLines.size(), 1);
        QVERIFY2(logLines.first().startsWith("Bopling: ") && logLines.first().contains(copy),
                 qPrintable(logLines.first()));

        // The store goes on as a new one beside the kept copy.
        s.setCornerSize(2);
        QCOMPARE(Settings(file()).cornerSize(), 2);
        // A second damaged file, most likely in the same second, never replaces the first copy.
        files::write(file(), content.startsWith('@') ? "" : content);
        const Settings again(file());
        QCOMPARE(damagedCopies().size(), 2);
    }

    void writeToAnImpossiblePathKeepsValueInMemory()
    {
        // A plain file where the settings folder should be: nothing can be written below it.
        files::write(dir->filePath("Bopling"), "not a folder");
        Settings s(file());
        QCOMPARE(logLines.size(), 1); // the migration flag could not be written
        s.setCornerSize(3);
        s.setFamiliars({"A"});
        QVERIFY(s.cornerSize() == 3 && s.familiars() == QStringList{"A"});
        QCOMPARE(logLines.size(), 3);
        for (const QString &line : std::as_const(logLines))
            QVERIFY2(line.startsWith("Bopling: could not save settings"), qPrintable(line));
        QCOMPARE(files::read(dir->filePath("Bopling")), QByteArray("not a folder"));
    }

    void writeOnAFullDiskLeavesThePreviousFile()
    {
        const QByteArray before =
            files::read(files::write(file(), R"({"cornerSize": 2, "migratedFromDotscope": true})"));
        Settings s(file());
        QVERIFY(logLines.isEmpty());
        {
            const FileSizeLimit full(8);
            s.setStripSize(1);
        }
        QCOMPARE(logLines.size(), 1);
        QCOMPARE(s.stripSize(), 1);
        QCOMPARE(files::read(file()), before);
        QCOMPARE(QDir(dir->filePath("Bopling")).entryList(QDir::Files),
                 QStringList{"settings.json"});

        // Once the disk has room again the next write carries everything.
        s.setIntensity(0);
        const Settings reloaded(file());
        QCOMPARE(QList({reloaded.stripSize(), reloaded.intensity(), reloaded.cornerSize()}),
                 QList({1, 0, 2}));
    }

    // Nothing is held back from the file: a change made by hand or by a second store shows at
    // the next read and survives an unrelated write. A file found damaged keeps the values in
    // use until it has stayed so for a while; then it is kept aside and they are written back.
    void everyReadAndWriteSeesTheFileAsItIsNow()
    {
        Settings s(file());
        files::write(file(), R"({"cornerSize": 2, "migratedFromDotscope": true})");
        s.setIntensity(0);
        QCOMPARE(
            onDisk(),
            (QJsonObject{{"cornerSize", 2}, {"intensity", 0}, {"migratedFromDotscope", true}}));
        Settings(file()).setScene(Scene::walk);
        QCOMPARE(s.scene(), Scene::walk);
        files::write(file(), "{\"scene\": ");
        QCOMPARE(s.scene(), Scene::walk);
        QVERIFY(damagedCopies().isEmpty());
        QTest::qWait(Settings::kSettleTime.count() + 100);
        QCOMPARE(s.scene(), Scene::walk);
        QCOMPARE(damagedCopies().size(), 1);
        QCOMPARE(logLines.size(), 1);
        QCOMPARE(onDisk().value("scene"), QJsonValue("walk"));
    }

    // An editor or script rewriting the file in place leaves it empty or half written for a
    // moment, again and again: nothing is set aside, and every read sees the values.
    void inPlaceRewritesLoseNothing()
    {
        const QByteArray content = R"({"cornerSize": 2, "familiars": ["A", "B"], "paused": true})";
        Settings s(files::write(file(), content));
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            while (!stop.load()) {
                const int fd = ::open(QFile::encodeName(file()).constData(), O_WRONLY | O_TRUNC);
                (void)!::write(fd, content.constData(), 20);
                (void)!::write(fd, content.constData() + 20, size_t(content.size() - 20));
                ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        QElapsedTimer clock;
        clock.start();
        int wrong = 0;
        while (clock.elapsed() < 5000) {
            wrong += s.cornerSize() != 2 || s.familiars() != QStringList{"A", "B"} || !s.paused();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        stop.store(true);
        writer.join();
        QCOMPARE(wrong, 0);
        QCOMPARE(damagedCopies(), QStringList());
        QCOMPARE(logLines, QStringList());
    }

    // The migration copies, once, every key this store lacks (unknown ones too) and none it
    // holds (a bad value too); the earlier edition's file stays as it was.
    void migrationCopiesOnceAndKeepsCurrentValues()
    {
        const QByteArray earlierJson =
            R"({"layout": "strip", "cornerSize": 3, "corner": "topLeft", "old": [1, "x"]})";
        files::write(earlier(), earlierJson);
        QVERIFY(Settings(files::write(file(), R"({"cornerSize": 0, "corner": 17})"), earlier())
                    .migratedFromDotscope());
        QCOMPARE(onDisk(), (QJsonObject{{"layout", "strip"},
                                        {"cornerSize", 0},
                                        {"corner", 17},
                                        {"old", QJsonArray{1, "x"}},
                                        {"migratedFromDotscope", true}}));
        QCOMPARE(files::read(earlier()), earlierJson);

        // A second start copies nothing, even after the earlier settings changed.
        files::write(earlier(), R"({"scene": "walk", "layout": "corner"})");
        const Settings again(file(), earlier());
        QCOMPARE(again.scene(), Scene::campfire);
        QCOMPARE(again.layout(), Layout::strip);
        QVERIFY(logLines.isEmpty());
    }

    void migrationFromADamagedEarlierFileSetsTheFlag()
    {
        files::write(earlier(), "{\"scene\": ");
        QVERIFY(Settings(file(), earlier()).migratedFromDotscope());
        QCOMPARE(onDisk(), (QJsonObject{{"migratedFromDotscope", true}}));
        QCOMPARE(logLines.size(), 1);
        // The earlier edition's file is not ours: it stays as it was.
        QCOMPARE(files::read(earlier()), QByteArray("{\"scene\": "));
        QVERIFY(damagedCopies().isEmpty());
    }

    // The shared store lives on the standard path and migrates inside its creation. This runs last:
    // it points the home folder at the test's own folder before the shared store exists.
    void sharedStoreOnStandardPath()
    {
        static QTemporaryDir home;
        qputenv("HOME", home.path().toUtf8());
        const QString standard = Settings::standardFilePath();
        QVERIFY2(standard.startsWith(home.path()), qPrintable(standard));
        QVERIFY(Settings::earlierEditionFilePath().endsWith("/Dotscope/settings.json"));
        files::write(Settings::earlierEditionFilePath(), R"({"intensity": 2})");

        QCOMPARE(Settings::shared().intensity(), 2);
        QCOMPARE(object(files::read(standard)).value("migratedFromDotscope"), QJsonValue(true));
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
