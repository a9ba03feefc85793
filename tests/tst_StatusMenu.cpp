#include "app/StatusMenu.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

Q_DECLARE_METATYPE(bopling::StatusMenuState)

namespace {

// The items as the debug listing shows them, with each item's tag after "#"
// when it is not 0 and "(off)" after a disabled item that has a submenu or an
// action.
QStringList describe(const QList<MenuItem> &items, const QString &indent = QString())
{
    QStringList lines;
    for (const MenuItem &item : items) {
        QString line = indent + menuListing({item}).section(QLatin1Char('\n'), 0, 0);
        if (item.tag != 0)
            line += QStringLiteral(" #%1").arg(item.tag);
        if (!item.enabled && (item.action != MenuAction::none || !item.submenu.isEmpty()))
            line += QStringLiteral(" (off)");
        lines << line << describe(item.submenu, indent + QStringLiteral("  "));
    }
    return lines;
}

// The listing of `count` top-level items from the one titled `from`, or else
// the first whose title starts with it.
QStringList section(const QList<MenuItem> &items, const QString &from, int count)
{
    const auto titled = [&](auto matches) {
        return std::find_if(items.begin(), items.end(),
                            [&](const MenuItem &item) { return matches(item.title); });
    };
    auto first = titled([&](const QString &title) { return title == from; });
    if (first == items.end())
        first = titled([&](const QString &title) { return title.startsWith(from); });
    return describe(items.mid(first - items.begin(), count));
}

} // namespace

class StatusMenuTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // The menu for `state` with the settings read from a file holding `json`.
    QList<MenuItem> menuFor(StatusMenuState state, const QByteArray &json)
    {
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        QFile::remove(path);
        if (!json.isEmpty()) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
                qFatal("cannot write %s", qPrintable(path));
        }
        state.readSettings(Settings(path));
        return buildStatusMenu(state);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // A fresh install: every row in order, the defaults marked.
    void freshInstallListsEveryRow()
    {
        StatusMenuState state;
        state.statusText = QStringLiteral("Listening to system audio");
        QCOMPARE(menuListing(menuFor(state, {})).split(QLatin1Char('\n')),
                 QStringList({
                     "    Listening to system audio",
                     "----",
                     "[x] Campfire: the party fights around the fire",
                     "[ ] Walk: the party walks the land, tempo sets the pace",
                     "----",
                     "[x] Corner panel",
                     "[ ] Bottom strip",
                     "----",
                     "> Corner",
                     "  [ ] Top left",
                     "  [ ] Top right",
                     "  [ ] Bottom left",
                     "  [x] Bottom right",
                     "> Panel size",
                     "  [ ] Tiny",
                     "  [ ] Small",
                     "  [x] Medium",
                     "  [ ] Large",
                     "> Intensity",
                     "  [ ] Calm",
                     "  [x] Normal",
                     "  [ ] Wild",
                     "[ ] New creature from photo…",
                     "> Familiars (up to 3)",
                     "  [x] Tobble",
                     "[x] Warriors",
                     "> Number of warriors",
                     "  [x] Auto",
                     "  [ ] 0 (none)",
                     "  [ ] 1",
                     "  [ ] 2",
                     "  [ ] 3",
                     "  [ ] 4",
                     "  [ ] 5",
                     "  [ ] 6",
                     "  [ ] 7",
                     "  [ ] 8",
                     "[x] Monsters",
                     "[x] Beat pulse",
                     "[x] Fade on hover",
                     "----",
                     "[ ] Move... (or hold Alt over it)",
                     "[ ] Snap to preset position",
                     "----",
                     "[ ] Pause",
                     "[ ] Quit Bopling",
                 }));
    }

    void rowsFollowTheState_data()
    {
        QTest::addColumn<StatusMenuState>("state");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("expected");

        StatusMenuState plain;
        plain.statusText = QStringLiteral("Status");
        StatusMenuState quiet = plain;
        quiet.silentSeconds = 12;
        QTest::newRow("12 s of silence")
            << quiet << QByteArray() << "Status" << 2 << QStringList{"    Status", "----"};
        quiet.silentSeconds = 12.5;
        QTest::newRow("over 12 s of silence")
            << quiet << QByteArray() << "Status" << 3
            << QStringList{"    Status", "[ ] If nothing reacts: open Sound Settings...", "----"};
        StatusMenuState failing = plain;
        failing.lastError = QStringLiteral("capture lost (-6)");
        QTest::newRow("capture error")
            << failing << QByteArray() << "Status" << 3
            << QStringList{"    Status", "[ ] If nothing reacts: open Sound Settings...", "----"};
        StatusMenuState gaveUp = failing;
        gaveUp.gaveUp = true;
        QTest::newRow("tap gave up")
            << gaveUp << QByteArray() << "Status" << 4
            << QStringList{"    Status", "[ ] Open Sound Settings...", "[ ] Retry", "----"};

        QTest::newRow("strip, height never set")
            << plain << QByteArray(R"({"layout":"strip"})") << "Corner" << 2
            << QStringList{"> Corner (off)",       "  [ ] Top left",        "  [ ] Top right #1",
                           "  [ ] Bottom left #2", "  [x] Bottom right #3", "> Strip height",
                           "  [ ] Tiny #2",        "  [x] Short",           "  [ ] Tall #1"};
        QTest::newRow("unknown corner, size out of range")
            << plain << QByteArray(R"({"corner":"middle","cornerSize":7,"intensity":"wild"})")
            << "Corner" << 3
            << QStringList{"> Corner",
                           "  [ ] Top left",
                           "  [ ] Top right #1",
                           "  [ ] Bottom left #2",
                           "  [x] Bottom right #3",
                           "> Panel size",
                           "  [x] Tiny #3",
                           "  [ ] Small",
                           "  [ ] Medium #1",
                           "  [ ] Large #2",
                           "> Intensity",
                           "  [ ] Calm",
                           "  [x] Normal #1",
                           "  [ ] Wild #2"};

        StatusMenuState library = plain;
        library.creatures = QStringList{"Rex", "Mo", "Pip"};
        QTest::newRow("three familiars chosen")
            << library << QByteArray(R"({"familiars":["Mo","Tobble","Rex"]})") << "New" << 4
            << QStringList{"[ ] New creature from photo…",
                           "> Familiars (up to 3)",
                           "  [x] Tobble",
                           "  [x] Rex",
                           "  [x] Mo",
                           "      Pip",
                           "> Edit a creature",
                           "  [ ] Edit Rex…",
                           "  [ ] Edit Mo…",
                           "  [ ] Edit Pip…",
                           "> Remove a creature",
                           "  [ ] Remove Rex…",
                           "  [ ] Remove Mo…",
                           "  [ ] Remove Pip…"};
        QTest::newRow("two familiars chosen")
            << library << QByteArray(R"({"familiars":["Pip"],"tobble":false})") << "Familiars" << 1
            << QStringList{"> Familiars (up to 3)", "  [ ] Tobble", "  [ ] Rex", "  [ ] Mo",
                           "  [x] Pip"};
        StatusMenuState missing = plain;
        missing.claudeMissing = true;
        QTest::newRow("CLI missing, empty library")
            << missing << QByteArray(R"({"familiars":[]})") << "New" << 3
            << QStringList{"[ ] New creature from photo… (needs Claude Code)",
                           "> Familiars (up to 3)", "  [ ] Tobble", "[x] Warriors"};

        QTest::newRow("warriors off, count above 8")
            << plain << QByteArray(R"({"warriors":false,"warriorCount":12,"monsters":false})")
            << "Warriors" << 3
            << QStringList{"[ ] Warriors",   "> Number of warriors", "  [ ] Auto #-1",
                           "  [ ] 0 (none)", "  [ ] 1 #1",           "  [ ] 2 #2",
                           "  [ ] 3 #3",     "  [ ] 4 #4",           "  [ ] 5 #5",
                           "  [ ] 6 #6",     "  [ ] 7 #7",           "  [x] 8 #8",
                           "[ ] Monsters"};

        StatusMenuState unlocked = plain;
        unlocked.unlocked = true;
        QTest::newRow("unlocked, walking, paused, no pulse, no fade")
            << unlocked
            << QByteArray(R"({"scene":"walk","paused":true,"beatPulse":false,"fadeOnHover":false})")
            << "Campfire" << 25
            << QStringList{"[ ] Campfire: the party fights around the fire",
                           "[x] Walk: the party walks the land, tempo sets the pace #1",
                           "----",
                           "[x] Corner panel",
                           "[ ] Bottom strip #1",
                           "----",
                           "> Corner",
                           "  [ ] Top left",
                           "  [ ] Top right #1",
                           "  [ ] Bottom left #2",
                           "  [x] Bottom right #3",
                           "> Panel size",
                           "  [ ] Tiny #3",
                           "  [ ] Small",
                           "  [x] Medium #1",
                           "  [ ] Large #2",
                           "> Intensity",
                           "  [ ] Calm",
                           "  [x] Normal #1",
                           "  [ ] Wild #2",
                           "[ ] New creature from photo…",
                           "> Familiars (up to 3)",
                           "  [x] Tobble",
                           "[x] Warriors",
                           "> Number of warriors",
                           "  [x] Auto #-1",
                           "  [ ] 0 (none)",
                           "  [ ] 1 #1",
                           "  [ ] 2 #2",
                           "  [ ] 3 #3",
                           "  [ ] 4 #4",
                           "  [ ] 5 #5",
                           "  [ ] 6 #6",
                           "  [ ] 7 #7",
                           "  [ ] 8 #8",
                           "[x] Monsters",
                           "[ ] Beat pulse",
                           "[ ] Fade on hover",
                           "----",
                           "    Moving: click elsewhere or press Esc to lock",
                           "[ ] Snap to preset position",
                           "----",
                           "[ ] Resume",
                           "[ ] Quit Bopling"};
    }

    void rowsFollowTheState()
    {
        QFETCH(StatusMenuState, state);
        QFETCH(QByteArray, settings);
        QFETCH(QString, from);
        QFETCH(int, count);
        QFETCH(QStringList, expected);
        QCOMPARE(section(menuFor(state, settings), from, count), expected);
    }

    // Creature items carry the creature's name, whatever their title.
    void creatureItemsCarryTheirName()
    {
        StatusMenuState state;
        state.creatures = QStringList{"Mr Whiskers"};
        const QList<MenuItem> items = menuFor(state, {});
        for (const QString &title :
             {QStringLiteral("Familiars (up to 3)"), QStringLiteral("Edit a creature"),
              QStringLiteral("Remove a creature")}) {
            const auto parent = std::find_if(items.begin(), items.end(), [&](const MenuItem &item) {
                return item.title == title;
            });
            QVERIFY(parent != items.end());
            QCOMPARE(parent->submenu.last().representedObject, QStringLiteral("Mr Whiskers"));
        }
    }

    void familiarToggles_data()
    {
        QTest::addColumn<QStringList>("familiars");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("added") << QStringList{"Tobble"} << "Rex" << QStringList{"Tobble", "Rex"};
        QTest::newRow("first occurrence removed")
            << QStringList{"Rex", "Mo", "Rex"} << "Rex" << QStringList{"Mo", "Rex"};
        QTest::newRow("full stays")
            << QStringList{"A", "B", "C"} << "D" << QStringList{"A", "B", "C"};
    }

    void familiarToggles()
    {
        QFETCH(QStringList, familiars);
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        QCOMPARE(toggledFamiliar(familiars, name), expected);
    }
};

QTEST_GUILESS_MAIN(StatusMenuTest)
#include "tst_StatusMenu.moc"
