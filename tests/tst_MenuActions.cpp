#include "app/MenuActions.h"
#include "creatures/CreatureLibrary.h"
#include "settings/Settings.h"
#include "support/CreatureSamples.h"
#include "support/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

namespace {

// The menu's actions over a settings file and a creature folder holding Rex
// and Mo, with every call-back recorded; each push to the page as the
// settings file held it then.
struct Harness
{
    QTemporaryDir dir;
    Settings settings;
    CreatureLibrary library{
        dir.filePath(QStringLiteral("creatures")),
        QStringLiteral(BOPLING_SOURCE_DIR "/resources/web/creatures/tobble.json")};
    QList<QJsonObject> pushed;
    bool confirm = true;
    QStringList asked;
    bool claudeMissing = false;
    QList<QUrl> opened;
    int newWindows = 0;
    QStringList edited;
    MenuActions actions{
        settings,
        library,
        {[this] { pushed << QJsonDocument::fromJson(files::read(settings.filePath())).object(); },
         [this](const QString &name) {
             asked << name;
             return confirm;
         },
         [this] { return claudeMissing; }, [this] { ++newWindows; },
         [this](const Creature &creature) { edited << creature.name; },
         [this](const QUrl &url) { opened << url; }}};

    explicit Harness(const QByteArray &before = "{}")
        : settings(files::write(dir.filePath("settings.json"), before))
    {
        library.save(samples::creature(QStringLiteral("Rex")));
        library.save(samples::creature(QStringLiteral("Mo")));
    }
};

MenuItem item(MenuAction action, int tag = 0, const QString &name = QString())
{
    MenuItem chosen = MenuItem::command(QStringLiteral("item"), action, tag);
    chosen.representedObject = name;
    return chosen;
}

// The one push to the page after choosing `chosen`, as the settings file held it then.
QJsonObject pushedAfter(const MenuItem &chosen, const QByteArray &before = "{}")
{
    Harness h(before);
    return h.actions.perform(chosen) && h.pushed.size() == 1 ? h.pushed[0] : QJsonObject();
}

} // namespace

class MenuActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // A number of warriors turns them on, the lowest too; "Auto" and "0 (none)" leave them
    // off. Familiars are added and let go.
    void choicesReachTheFileBeforeThePage()
    {
        for (const int count : {-1, 0, 1, 8}) {
            const QJsonObject warriors =
                pushedAfter(item(MenuAction::setWarriorCount, count), R"({"warriors":false})");
            QCOMPARE(warriors["warriors"].toBool(), count >= 1);
            QCOMPARE(warriors["warriorCount"].toInt(), count);
        }
        QCOMPARE(pushedAfter(item(MenuAction::toggleFamiliar, 0, "Rex"))["familiars"],
                 (QJsonArray{"Tobble", "Rex"}));
        QCOMPARE(pushedAfter(item(MenuAction::toggleFamiliar, 0, "Tobble"))["familiars"],
                 QJsonArray());
    }

    void removalAsksFirst()
    {
        for (const bool confirm : {true, false}) {
            Harness h(R"({"familiars":["Rex","Tobble","Mo"]})");
            h.confirm = confirm;
            h.actions.perform(item(MenuAction::removeCreature, 0, QStringLiteral("Rex")));

            QCOMPARE(h.asked, QStringList{"Rex"});
            QCOMPARE(h.library.find(QStringLiteral("Rex")).has_value(), !confirm);
            const QStringList kept =
                confirm ? QStringList{"Tobble", "Mo"} : QStringList{"Rex", "Tobble", "Mo"};
            QCOMPARE(h.settings.familiars(), kept);
            // The page gets the familiars without Rex, or nothing.
            QCOMPARE(h.pushed.size(), confirm ? 1 : 0);
            if (confirm)
                QCOMPARE(h.pushed[0]["familiars"].toVariant().toStringList(), kept);
        }
    }

    void creatureWindowOrDocumentation()
    {
        Harness h;
        h.claudeMissing = true;
        h.actions.perform(item(MenuAction::newCreature));
        QCOMPARE(h.newWindows, 0);
        QCOMPARE(h.opened, QList<QUrl>{MenuActions::kClaudeCodeOverview});

        h.actions.perform(item(MenuAction::editCreature, 0, QStringLiteral("Rex")));
        h.actions.perform(item(MenuAction::editCreature, 0, QStringLiteral("Gone")));
        h.actions.perform(item(MenuAction::editCreature));
        QCOMPARE(h.edited, QStringList{"Rex"});
    }
};

QTEST_GUILESS_MAIN(MenuActionsTest)
#include "tst_MenuActions.moc"
