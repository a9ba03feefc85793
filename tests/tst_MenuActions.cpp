#include "app/MenuActions.h"
#include "creatures/CreatureLibrary.h"
#include "render/FamiliarsCall.h"
#include "render/RendererProtocol.h"
#include "settings/Settings.h"
#include "support/CreatureSamples.h"
#include "support/Files.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

Q_DECLARE_METATYPE(bopling::MenuItem)

namespace {

// The path of a settings file in `dir` that holds `json`.
QString settingsFile(const QTemporaryDir &dir, const QByteArray &json)
{
    files::write(dir.filePath(QStringLiteral("settings.json")), json);
    return dir.filePath(QStringLiteral("settings.json"));
}

// The menu's actions over a settings file, a creature folder and a page that
// has reported "ready", with every call-back recorded.
struct Harness
{
    QTemporaryDir dir;
    Settings settings;
    CreatureLibrary library{
        dir.filePath(QStringLiteral("creatures")),
        QStringLiteral(BOPLING_SOURCE_DIR "/resources/web/creatures/tobble.json")};
    QStringList scripts;
    FamiliarsCall familiars{[this](const QString &script) { scripts << script; }, settings,
                            library};
    RendererProtocol protocol{[this](const QString &script) { scripts << script; },
                              [] { return 0.0; }, settings, [] { return QSizeF(320, 200); },
                              &familiars};

    bool confirm = true;
    QStringList asked;
    bool claudeMissing = false;
    QList<QUrl> opened;
    int newWindows = 0;
    QStringList edited;
    MenuActions actions{settings, library, hooks()};

    explicit Harness(const QByteArray &before = "{}") : settings(settingsFile(dir, before))
    {
        library.save(samples::creature(QStringLiteral("Rex")));
        library.save(samples::creature(QStringLiteral("Mo")));
        protocol.pageDidBecomeReady();
        scripts.clear();
    }

    MenuActions::Hooks hooks()
    {
        MenuActions::Hooks h;
        h.pushConfig = [this] { protocol.pushConfig(); };
        h.confirmRemoval = [this](const QString &name) {
            asked << name;
            return confirm;
        };
        h.claudeMissing = [this] { return claudeMissing; };
        h.openNew = [this] { ++newWindows; };
        h.openForEdit = [this](const Creature &creature) { edited << creature.name; };
        h.openUrl = [this](const QUrl &url) { opened << url; };
        return h;
    }

    // The settings as they are on disk.
    QJsonObject onDisk() const
    {
        return QJsonDocument::fromJson(files::read(settings.filePath())).object();
    }
};

MenuItem item(MenuAction action, int tag = 0, const QString &name = QString())
{
    MenuItem chosen = MenuItem::command(QStringLiteral("item"), action, tag);
    chosen.representedObject = name;
    return chosen;
}

} // namespace

class MenuActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void choicesReachTheFileAndThePage_data()
    {
        QTest::addColumn<MenuItem>("chosen");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("sent");

        QTest::newRow("3 warriors turn them on")
            << item(MenuAction::setWarriorCount, 3) << QByteArray(R"({"warriors":false})")
            << QByteArray(R"({"warriors":true,"warriorCount":3})")
            << "warriors:true,warriorCount:3";
        QTest::newRow("familiar added")
            << item(MenuAction::toggleFamiliar, 0, "Rex") << QByteArray("{}")
            << QByteArray(R"({"familiars":["Tobble","Rex"]})") << R"("name":"Rex")";
        QTest::newRow("last familiar let go")
            << item(MenuAction::toggleFamiliar, 0, "Tobble") << QByteArray("{}")
            << QByteArray(R"({"familiars":[]})") << "tobble:false";
    }

    void choicesReachTheFileAndThePage()
    {
        QFETCH(MenuItem, chosen);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, sent);

        Harness h(before);
        QVERIFY(h.actions.perform(chosen));

        const QJsonObject disk = h.onDisk();
        const QJsonObject expected = QJsonDocument::fromJson(after).object();
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(disk.value(it.key()), it.value());
        QVERIFY2(h.scripts.join(u'\n').contains(sent), qPrintable(h.scripts.join(u'\n')));
    }

    void removalAsksFirst()
    {
        for (const bool confirm : {true, false}) {
            Harness h(R"({"familiars":["Rex","Tobble","Mo"]})");
            h.confirm = confirm;

            h.actions.perform(item(MenuAction::removeCreature, 0, QStringLiteral("Rex")));

            QCOMPARE(h.asked, QStringList{"Rex"});
            QCOMPARE(h.library.find(QStringLiteral("Rex")).has_value(), !confirm);
            QCOMPARE(h.settings.familiars(), confirm ? QStringList({"Tobble", "Mo"})
                                                     : QStringList({"Rex", "Tobble", "Mo"}));
            // The page gets the familiars without Rex, or nothing.
            QCOMPARE(h.scripts.size(), confirm ? 2 : 0);
            QCOMPARE(h.scripts.join(u'\n').contains(QLatin1String("\"Mo\"")), confirm);
            QVERIFY(!h.scripts.join(u'\n').contains(QLatin1String("\"Rex\"")));
        }
    }

    void creatureWindowOrDocumentation()
    {
        Harness h;
        h.actions.perform(item(MenuAction::newCreature));
        QCOMPARE(h.newWindows, 1);
        QVERIFY(h.opened.isEmpty());

        h.claudeMissing = true;
        h.actions.perform(item(MenuAction::newCreature));
        QCOMPARE(h.newWindows, 1);
        QCOMPARE(h.opened, QList<QUrl>{MenuActions::kClaudeCodeOverview});

        h.actions.perform(item(MenuAction::editCreature, 0, QStringLiteral("Rex")));
        h.actions.perform(item(MenuAction::editCreature, 0, QStringLiteral("Gone")));
        h.actions.perform(item(MenuAction::editCreature));
        QCOMPARE(h.edited, QStringList{"Rex"});
    }
};

QTEST_GUILESS_MAIN(MenuActionsTest)
#include "tst_MenuActions.moc"
