#include "settings/Settings.h"
#include "support/Files.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>
#include <thread>
#include <vector>

using namespace bopling;

namespace {

// Every simple getter by its key, so rows and comparisons can name keys.
QVariantMap readings(const Settings &s)
{
    const auto screen = [&s](Layout layout) {
        const std::optional<quint32> screen = s.savedScreen(layout);
        return screen ? QVariant(qint64(*screen)) : QVariant();
    };
    return {{"screen.corner", screen(Layout::corner)},
            {"screen.strip", screen(Layout::strip)},
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

const QVariantMap kDefaults{{"layout", "corner"},  {"corner", "bottomRight"},
                            {"scene", "campfire"}, {"cornerSize", 1},
                            {"stripSize", 0},      {"intensity", 1},
                            {"warriorCount", -1},  {"warriors", true},
                            {"beatPulse", true},   {"monsters", true},
                            {"fadeOnHover", true}, {"paused", false},
                            {"tobble", true},      {"familiars", QStringList{"Tobble"}},
                            {"screen.corner", {}}, {"screen.strip", {}}};

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

    QString file() const { return dir->filePath("settings.json"); }

    std::unique_ptr<Settings> storeWith(const QByteArray &json)
    {
        files::write(file(), json);
        return std::make_unique<Settings>(file());
    }

    QJsonObject onDisk() const { return object(files::read(file())); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    // One stored key: clamped or read as its default; every other key keeps its default.
    void storedValueReads_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("stored"); // JSON text of the value
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char *key, const char *stored, const QVariant &expected) {
            QTest::addRow("%s %s", key, stored) << QString(key) << QByteArray(stored) << expected;
        };
        row("cornerSize", "7", 3);
        row("cornerSize", "\"2\"", 1);
        row("cornerSize", "2.5", 1);
        row("cornerSize", "9223372036854775808", 1);
        row("warriorCount", "20", 8);
        row("warriorCount", "2.0", 2);
        row("warriorCount", "1e30", -1);
        row("warriors", "\"false\"", true);
        row("layout", "\"Strip\"", "corner");
        row("screen.strip", "4294967295", qint64(4294967295));
        row("screen.strip", "4294967296", {});
        row("screen.corner", "-1", {});
    }

    void storedValueReads()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, stored);
        QFETCH(QVariant, expected);
        const auto s = storeWith("{\"" + key.toUtf8() + "\": " + stored + "}");
        QCOMPARE(readings(*s), defaultsWith({{key, expected}}));
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

    void familiarsRead_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, const char *stored, const QStringList &expected) {
            QTest::newRow(name) << QByteArray(stored) << expected;
        };
        row("absent", "{}", {"Tobble"});
        row("five names", R"({"familiars": ["A", "B", "C", "D", "E"]})", {"A", "B", "C"});
        row("empty list wins over tobble", R"({"familiars": [], "tobble": true})", {});
        row("not all strings", R"({"familiars": ["A", 3], "tobble": false})", {});
    }

    void familiarsRead()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, expected);
        QCOMPARE(storeWith(stored)->familiars(), expected);
    }

    // The dictionary reads all or nothing: one malformed entry hides every entry.
    void positionsRead_data()
    {
        QTest::addColumn<QByteArray>("positions");
        QTest::addColumn<bool>("goodEntryReads");
        const auto row = [](const char *name, const char *positions, bool goodEntryReads) {
            QTest::newRow(name) << QByteArray(positions) << goodEntryReads;
        };
        row("well formed", R"({"corner.1": [10, 20.5]})", true);
        row("an array with text", R"({"corner.1": [10, 20.5], "strip.1": [1, "2"]})", false);
        row("not a dictionary", R"([[10, 20.5]])", false);
    }

    void positionsRead()
    {
        QFETCH(QByteArray, positions);
        QFETCH(bool, goodEntryReads);
        const auto s = storeWith("{\"positions\": " + positions + "}");
        const std::optional<QPointF> good = s->savedPosition(Layout::corner, 1);
        QCOMPARE(good.has_value(), goodEntryReads);
        if (good)
            QCOMPARE(*good, QPointF(10, 20.5));
        QVERIFY(!s->savedPosition(Layout::strip, 1));
    }

    void malformedPositionsReplacedOnSave()
    {
        const auto s = storeWith(R"({"positions": {"corner.1": [10, 20], "strip.4": {"x": 1}}})");
        s->savePosition(Layout::strip, 7, 3.25, -4);
        QCOMPARE(onDisk().value("positions").toObject(),
                 (QJsonObject{{"strip.7", QJsonArray{3.25, -4}}}));
        QCOMPARE(s->savedScreen(Layout::strip), quint32(7));

        // A later save on the same screen replaces the entry; other screens keep theirs.
        s->savePosition(Layout::strip, 4294967295u, 1, 2);
        s->savePosition(Layout::strip, 7, 5, 6);
        const Settings reloaded(file());
        QCOMPARE(reloaded.savedPosition(Layout::strip, 7), QPointF(5, 6));
        QCOMPARE(reloaded.savedPosition(Layout::strip, 4294967295u), QPointF(1, 2));
        QCOMPARE(reloaded.savedScreen(Layout::strip), quint32(7));
    }

    // A coordinate JSON cannot hold would come back as null and spoil every saved position.
    void savePositionIgnoresNonFiniteOffsets()
    {
        Settings s(file());
        s.savePosition(Layout::corner, 1, 10, 20);
        s.savePosition(Layout::corner, 2, std::numeric_limits<double>::quiet_NaN(), 0);
        s.savePosition(Layout::strip, 3, 0, std::numeric_limits<double>::infinity());
        const Settings reloaded(file());
        QCOMPARE(reloaded.savedPosition(Layout::corner, 1), QPointF(10, 20));
        QVERIFY(!reloaded.savedPosition(Layout::corner, 2));
        QCOMPARE(reloaded.savedScreen(Layout::corner), quint32(1));
        QVERIFY(!reloaded.savedScreen(Layout::strip));
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
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
