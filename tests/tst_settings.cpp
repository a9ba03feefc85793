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

    QString file() const { return dir->filePath("settings.json"); }

    std::unique_ptr<Settings> storeWith(const QByteArray &json)
    {
        return std::make_unique<Settings>(files::write(file(), json));
    }

    QJsonObject onDisk() const { return object(files::read(file())); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { dir = std::make_unique<QTemporaryDir>(); }

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
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
