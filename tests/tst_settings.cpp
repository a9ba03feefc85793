// Reading rules, clamps and writes of the settings store, each on a private store file.

#include "settings/Settings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

using namespace bopling;

namespace {

// Every simple getter by its key, so rows and comparisons can name keys.
QVariantMap readings(const Settings &s)
{
    return {{"layout", layoutName(s.layout())},
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
                            {"tobble", true},      {"familiars", QStringList{"Tobble"}}};

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    QString file() const { return dir->filePath("settings.json"); }

    // A store opened on a file holding `json` (a JSON object's text).
    std::unique_ptr<Settings> storeWith(const QByteArray &json)
    {
        QFile f(file());
        if (!f.open(QIODevice::WriteOnly) || f.write(json) != json.size())
            qFatal("cannot write the test store");
        f.close();
        return std::make_unique<Settings>(file());
    }

    QJsonObject onDisk() const
    {
        QFile f(file());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void emptyStoreReadsDefaults()
    {
        const Settings s(file());
        QCOMPARE(readings(s), kDefaults);
        for (Layout layout : {Layout::corner, Layout::strip}) {
            QVERIFY(!s.savedScreen(layout));
            QVERIFY(!s.savedPosition(layout, 0));
            QVERIFY(!s.savedPosition(layout, 1));
        }
    }

    void storedValueReads_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("stored"); // JSON text of the value
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char *key, const char *stored, const QVariant &expected) {
            QTest::addRow("%s %s", key, stored) << QString(key) << QByteArray(stored) << expected;
        };
        row("cornerSize", "7", 3);
        row("cornerSize", "-2", 0);
        row("cornerSize", "\"2\"", 1);
        row("cornerSize", "2.5", 1);
        row("cornerSize", "true", 1);
        row("cornerSize", "1e30", 3);
        row("stripSize", "5", 2);
        row("stripSize", "\"x\"", 0);
        row("intensity", "9", 2);
        row("intensity", "-1", 0);
        row("intensity", "[2]", 1);
        row("warriorCount", "20", 8);
        row("warriorCount", "-5", -1);
        row("warriorCount", "0", 0);
        row("warriorCount", "2.0", 2);
        row("warriorCount", "null", -1);

        row("warriors", "false", false);
        row("warriors", "0", true);
        row("warriors", "\"false\"", true);
        row("beatPulse", "false", false);
        row("monsters", "{}", true);
        row("fadeOnHover", "false", false);
        row("paused", "true", true);
        row("paused", "1", false);
        row("tobble", "false", false);
        row("tobble", "\"no\"", true);

        row("layout", "\"strip\"", "strip");
        row("layout", "\"Strip\"", "corner");
        row("layout", "1", "corner");
        row("corner", "\"topLeft\"", "topLeft");
        row("corner", "\"topRight\"", "topRight");
        row("corner", "\"bottomLeft\"", "bottomLeft");
        row("corner", "\"topleft\"", "bottomRight");
        row("corner", "0", "bottomRight");
        row("scene", "\"walk\"", "walk");
        row("scene", "\"Walk\"", "campfire");
    }

    void storedValueReads()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, stored);
        QFETCH(QVariant, expected);
        const auto s = storeWith("{\"" + key.toUtf8() + "\": " + stored + "}");
        QCOMPARE(readings(*s).value(key), expected);
    }

    // A value of the wrong type spoils only its own key.
    void wrongTypeAffectsOnlyItsKey()
    {
        const auto s = storeWith(R"({"cornerSize": "big", "stripSize": 2, "intensity": 0,
                                     "scene": 4, "layout": "strip", "monsters": "no",
                                     "warriors": false})");
        QCOMPARE(s->cornerSize(), 1);
        QCOMPARE(s->stripSize(), 2);
        QCOMPARE(s->intensity(), 0);
        QCOMPARE(s->scene(), Scene::campfire);
        QCOMPARE(s->layout(), Layout::strip);
        QCOMPARE(s->monsters(), true);
        QCOMPARE(s->warriors(), false);
    }

    // Writers store what they are given; the clamp belongs to reading. Every write is on disk
    // when the setter returns and survives a reload.
    void writesSurviveReloadUnclamped()
    {
        {
            Settings s(file());
            s.setLayout(Layout::strip);
            s.setCorner(Corner::topLeft);
            s.setCornerSize(7);
            s.setStripSize(1);
            s.setScene(Scene::walk);
            s.setIntensity(-4);
            s.setWarriors(false);
            s.setWarriorCount(5);
            s.setBeatPulse(false);
            s.setMonsters(false);
            s.setFadeOnHover(false);
            s.setPaused(true);
            s.setTobble(false);
            QCOMPARE(onDisk().value("cornerSize"), QJsonValue(7));
            QCOMPARE(onDisk().value("intensity"), QJsonValue(-4));
        }
        const QVariantMap expected{{"layout", "strip"},    {"corner", "topLeft"},
                                   {"scene", "walk"},      {"cornerSize", 3},
                                   {"stripSize", 1},       {"intensity", 0},
                                   {"warriorCount", 5},    {"warriors", false},
                                   {"beatPulse", false},   {"monsters", false},
                                   {"fadeOnHover", false}, {"paused", true},
                                   {"tobble", false},      {"familiars", QStringList{}}};
        QCOMPARE(readings(Settings(file())), expected);
    }

    void familiarsRead_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("absent, tobble absent") << QByteArray("{}") << QStringList{"Tobble"};
        QTest::newRow("absent, tobble true")
            << QByteArray(R"({"tobble": true})") << QStringList{"Tobble"};
        QTest::newRow("absent, tobble false")
            << QByteArray(R"({"tobble": false})") << QStringList{};
        QTest::newRow("absent, tobble not a Boolean")
            << QByteArray(R"({"tobble": 0})") << QStringList{"Tobble"};
        QTest::newRow("five names") << QByteArray(R"({"familiars": ["A", "B", "C", "D", "E"]})")
                                    << QStringList{"A", "B", "C"};
        QTest::newRow("two names")
            << QByteArray(R"({"familiars": ["B", "Tobble"]})") << QStringList{"B", "Tobble"};
        QTest::newRow("empty list wins over tobble")
            << QByteArray(R"({"familiars": [], "tobble": true})") << QStringList{};
        QTest::newRow("list wins over tobble false")
            << QByteArray(R"({"familiars": ["A"], "tobble": false})") << QStringList{"A"};
        QTest::newRow("not all strings falls back to tobble")
            << QByteArray(R"({"familiars": ["A", 3], "tobble": false})") << QStringList{};
        QTest::newRow("a string is not a list")
            << QByteArray(R"({"familiars": "A"})") << QStringList{"Tobble"};
    }

    void familiarsRead()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, expected);
        QCOMPARE(storeWith(stored)->familiars(), expected);
    }

    void familiarsWriteKeepsThreeAndEndsTobble()
    {
        Settings s(file());
        s.setTobble(false);
        QCOMPARE(s.familiars(), QStringList{});
        s.setFamiliars({"A", "B", "C", "D"});
        QCOMPARE(s.familiars(), (QStringList{"A", "B", "C"}));
        QCOMPARE(onDisk().value("familiars").toArray(), (QJsonArray{"A", "B", "C"}));

        s.setFamiliars({});
        s.setTobble(true);
        QCOMPARE(s.familiars(), QStringList{});
        s.setFamiliars({"Tobble"});
        s.setTobble(false);
        QCOMPARE(s.familiars(), QStringList{"Tobble"});
    }

    void savedScreenRead_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<qint64>("expected"); // -1: absent

        QTest::newRow("zero") << QByteArray("0") << qint64(0);
        QTest::newRow("small") << QByteArray("3") << qint64(3);
        QTest::newRow("largest") << QByteArray("4294967295") << qint64(4294967295);
        QTest::newRow("too large") << QByteArray("4294967296") << qint64(-1);
        QTest::newRow("negative") << QByteArray("-1") << qint64(-1);
        QTest::newRow("fraction") << QByteArray("1.5") << qint64(-1);
        QTest::newRow("text") << QByteArray("\"3\"") << qint64(-1);
    }

    void savedScreenRead()
    {
        QFETCH(QByteArray, stored);
        QFETCH(qint64, expected);
        const auto s = storeWith("{\"screen.strip\": " + stored + "}");
        const std::optional<quint32> screen = s->savedScreen(Layout::strip);
        QCOMPARE(screen.has_value(), expected >= 0);
        if (screen)
            QCOMPARE(qint64(*screen), expected);
        QVERIFY(!s->savedScreen(Layout::corner));
    }

    void positionsRead_data()
    {
        QTest::addColumn<QByteArray>("positions");
        QTest::addColumn<bool>("goodEntryReads");

        QTest::newRow("well formed") << QByteArray(R"({"corner.1": [10, 20.5]})") << true;
        QTest::newRow("a longer array elsewhere")
            << QByteArray(R"({"corner.1": [10, 20.5], "strip.1": [1, 2, 3]})") << true;
        QTest::newRow("an entry that is not an array")
            << QByteArray(R"({"corner.1": [10, 20.5], "strip.1": "1,2"})") << false;
        QTest::newRow("an array with text")
            << QByteArray(R"({"corner.1": [10, 20.5], "strip.1": [1, "2"]})") << false;
        QTest::newRow("not a dictionary") << QByteArray(R"([[10, 20.5]])") << false;
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
        QCOMPARE(s->savedPosition(Layout::strip, 7), QPointF(3.25, -4));
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

    void clearPositionsKeepsTheOtherLayout_data()
    {
        QTest::addColumn<int>("cleared");
        QTest::newRow("corner") << int(Layout::corner);
        QTest::newRow("strip") << int(Layout::strip);
    }

    void clearPositionsKeepsTheOtherLayout()
    {
        QFETCH(int, cleared);
        const Layout gone = Layout(cleared);
        const Layout kept = gone == Layout::corner ? Layout::strip : Layout::corner;
        const auto s = storeWith(R"({"positions": {"corner.1": [1, 1], "corner.22": [2, 2],
                                       "strip.1": [3, 3], "strip.9": [4, 4]},
                                     "screen.corner": 22, "screen.strip": 9})");
        s->clearPositions(gone);

        const Settings reloaded(file());
        for (quint32 display : {1u, 9u, 22u})
            QVERIFY(!reloaded.savedPosition(gone, display));
        QVERIFY(!reloaded.savedScreen(gone));
        QCOMPARE(reloaded.savedScreen(kept), kept == Layout::corner ? 22u : 9u);
        QCOMPARE(reloaded.savedPosition(kept, 1),
                 kept == Layout::corner ? QPointF(1, 1) : QPointF(3, 3));
        QCOMPARE(onDisk().value("positions").toObject().size(), 2);
    }

    // Threads other than the main one may read and write; no update may be lost.
    void concurrentWritersLoseNothing()
    {
        Settings s(file());
        std::vector<std::thread> writers;
        for (quint32 t = 0; t < 4; ++t) {
            writers.emplace_back([&s, t] {
                for (quint32 i = 0; i < 10; ++i) {
                    s.savePosition(Layout::corner, t * 100 + i, t, i);
                    (void)s.familiars();
                }
            });
        }
        for (std::thread &w : writers)
            w.join();
        const Settings reloaded(file());
        for (quint32 t = 0; t < 4; ++t) {
            for (quint32 i = 0; i < 10; ++i)
                QCOMPARE(reloaded.savedPosition(Layout::corner, t * 100 + i), QPointF(t, i));
        }
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
