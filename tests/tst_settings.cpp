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

// The getter named after the key, as a variant, so rows can name keys.
QVariant read(const Settings &s, const QString &key)
{
    if (key == "layout")
        return layoutName(s.layout());
    if (key == "corner")
        return cornerName(s.corner());
    if (key == "scene")
        return sceneName(s.scene());
    if (key == "cornerSize")
        return s.cornerSize();
    if (key == "stripSize")
        return s.stripSize();
    if (key == "intensity")
        return s.intensity();
    if (key == "warriorCount")
        return s.warriorCount();
    if (key == "warriors")
        return s.warriors();
    if (key == "beatPulse")
        return s.beatPulse();
    if (key == "monsters")
        return s.monsters();
    if (key == "fadeOnHover")
        return s.fadeOnHover();
    if (key == "paused")
        return s.paused();
    if (key == "tobble")
        return s.tobble();
    return {};
}

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
        QCOMPARE(s.layout(), Layout::corner);
        QCOMPARE(s.corner(), Corner::bottomRight);
        QCOMPARE(s.cornerSize(), 1);
        QCOMPARE(s.stripSize(), 0);
        QCOMPARE(s.scene(), Scene::campfire);
        QCOMPARE(s.intensity(), 1);
        QCOMPARE(s.warriors(), true);
        QCOMPARE(s.warriorCount(), -1);
        QCOMPARE(s.beatPulse(), true);
        QCOMPARE(s.monsters(), true);
        QCOMPARE(s.fadeOnHover(), true);
        QCOMPARE(s.familiars(), QStringList{"Tobble"});
        QCOMPARE(s.tobble(), true);
        QCOMPARE(s.paused(), false);
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

        QTest::newRow("cornerSize in range") << "cornerSize" << QByteArray("2") << QVariant(2);
        QTest::newRow("cornerSize 7") << "cornerSize" << QByteArray("7") << QVariant(3);
        QTest::newRow("cornerSize -2") << "cornerSize" << QByteArray("-2") << QVariant(0);
        QTest::newRow("cornerSize text") << "cornerSize" << QByteArray("\"2\"") << QVariant(1);
        QTest::newRow("cornerSize fraction") << "cornerSize" << QByteArray("2.5") << QVariant(1);
        QTest::newRow("cornerSize bool") << "cornerSize" << QByteArray("true") << QVariant(1);
        QTest::newRow("cornerSize huge") << "cornerSize" << QByteArray("1e30") << QVariant(3);
        QTest::newRow("cornerSize beyond int64")
            << "cornerSize" << QByteArray("-99999999999999999999") << QVariant(0);
        QTest::newRow("stripSize 5") << "stripSize" << QByteArray("5") << QVariant(2);
        QTest::newRow("stripSize text") << "stripSize" << QByteArray("\"x\"") << QVariant(0);
        QTest::newRow("stripSize null") << "stripSize" << QByteArray("null") << QVariant(0);
        QTest::newRow("intensity 9") << "intensity" << QByteArray("9") << QVariant(2);
        QTest::newRow("intensity -1") << "intensity" << QByteArray("-1") << QVariant(0);
        QTest::newRow("intensity array") << "intensity" << QByteArray("[2]") << QVariant(1);
        QTest::newRow("warriorCount 20") << "warriorCount" << QByteArray("20") << QVariant(8);
        QTest::newRow("warriorCount -5") << "warriorCount" << QByteArray("-5") << QVariant(-1);
        QTest::newRow("warriorCount none") << "warriorCount" << QByteArray("0") << QVariant(0);
        QTest::newRow("warriorCount 2.0") << "warriorCount" << QByteArray("2.0") << QVariant(2);
        QTest::newRow("warriorCount text") << "warriorCount" << QByteArray("\"5\"") << QVariant(-1);

        QTest::newRow("warriors false") << "warriors" << QByteArray("false") << QVariant(false);
        QTest::newRow("warriors 0") << "warriors" << QByteArray("0") << QVariant(true);
        QTest::newRow("warriors text") << "warriors" << QByteArray("\"false\"") << QVariant(true);
        QTest::newRow("beatPulse false") << "beatPulse" << QByteArray("false") << QVariant(false);
        QTest::newRow("beatPulse null") << "beatPulse" << QByteArray("null") << QVariant(true);
        QTest::newRow("monsters false") << "monsters" << QByteArray("false") << QVariant(false);
        QTest::newRow("monsters object") << "monsters" << QByteArray("{}") << QVariant(true);
        QTest::newRow("fadeOnHover false")
            << "fadeOnHover" << QByteArray("false") << QVariant(false);
        QTest::newRow("paused true") << "paused" << QByteArray("true") << QVariant(true);
        QTest::newRow("paused 1") << "paused" << QByteArray("1") << QVariant(false);
        QTest::newRow("paused text") << "paused" << QByteArray("\"true\"") << QVariant(false);
        QTest::newRow("tobble false") << "tobble" << QByteArray("false") << QVariant(false);
        QTest::newRow("tobble text") << "tobble" << QByteArray("\"no\"") << QVariant(true);

        QTest::newRow("layout strip") << "layout" << QByteArray("\"strip\"") << QVariant("strip");
        QTest::newRow("layout Strip") << "layout" << QByteArray("\"Strip\"") << QVariant("corner");
        QTest::newRow("layout number") << "layout" << QByteArray("1") << QVariant("corner");
        QTest::newRow("corner topLeft")
            << "corner" << QByteArray("\"topLeft\"") << QVariant("topLeft");
        QTest::newRow("corner topRight")
            << "corner" << QByteArray("\"topRight\"") << QVariant("topRight");
        QTest::newRow("corner bottomLeft")
            << "corner" << QByteArray("\"bottomLeft\"") << QVariant("bottomLeft");
        QTest::newRow("corner lower case")
            << "corner" << QByteArray("\"topleft\"") << QVariant("bottomRight");
        QTest::newRow("corner number") << "corner" << QByteArray("0") << QVariant("bottomRight");
        QTest::newRow("scene walk") << "scene" << QByteArray("\"walk\"") << QVariant("walk");
        QTest::newRow("scene Walk") << "scene" << QByteArray("\"Walk\"") << QVariant("campfire");
    }

    void storedValueReads()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, stored);
        QFETCH(QVariant, expected);
        const auto s = storeWith("{\"" + key.toUtf8() + "\": " + stored + "}");
        QCOMPARE(read(*s, key), expected);
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
            QCOMPARE(s.cornerSize(), 3);
            QCOMPARE(s.intensity(), 0);

            const QJsonObject disk = onDisk();
            QCOMPARE(disk.value("layout"), QJsonValue("strip"));
            QCOMPARE(disk.value("corner"), QJsonValue("topLeft"));
            QCOMPARE(disk.value("scene"), QJsonValue("walk"));
            QCOMPARE(disk.value("cornerSize"), QJsonValue(7));
            QCOMPARE(disk.value("intensity"), QJsonValue(-4));
            QCOMPARE(disk.value("paused"), QJsonValue(true));
        }
        const Settings again(file());
        QCOMPARE(again.layout(), Layout::strip);
        QCOMPARE(again.corner(), Corner::topLeft);
        QCOMPARE(again.cornerSize(), 3);
        QCOMPARE(again.stripSize(), 1);
        QCOMPARE(again.scene(), Scene::walk);
        QCOMPARE(again.intensity(), 0);
        QCOMPARE(again.warriors(), false);
        QCOMPARE(again.warriorCount(), 5);
        QCOMPARE(again.beatPulse(), false);
        QCOMPARE(again.monsters(), false);
        QCOMPARE(again.fadeOnHover(), false);
        QCOMPARE(again.paused(), true);
        QCOMPARE(again.tobble(), false);
        QCOMPARE(again.familiars(), QStringList{});
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
    }

    void savePositionReplacesAndKeepsOthers()
    {
        {
            Settings s(file());
            s.savePosition(Layout::corner, 1, 10, 20);
            s.savePosition(Layout::corner, 4294967295u, 1, 2);
            s.savePosition(Layout::corner, 1, 30, 40);
            s.savePosition(Layout::strip, 2, 5, 6);
        }
        const Settings s(file());
        QCOMPARE(s.savedPosition(Layout::corner, 1), QPointF(30, 40));
        QCOMPARE(s.savedPosition(Layout::corner, 4294967295u), QPointF(1, 2));
        QCOMPARE(s.savedPosition(Layout::strip, 2), QPointF(5, 6));
        QVERIFY(!s.savedPosition(Layout::strip, 1));
        QCOMPARE(s.savedScreen(Layout::corner), quint32(1));
        QCOMPARE(s.savedScreen(Layout::strip), quint32(2));
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
