#include "app/StateLog.h"
#include "app/StatusLine.h"
#include "app/StatusMenu.h"
#include "support/Files.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

namespace {

// An item on one line: its line of the debug listing, its tag after "#" when
// not 0, "(off)" when disabled though it has an action or a submenu, then its
// submenu's items after ": ".
QString describe(const MenuItem &item)
{
    QString text = menuListing({item}).section(u'\n', 0, 0).trimmed();
    if (item.tag != 0)
        text += QStringLiteral(" #%1").arg(item.tag);
    if (!item.enabled && (item.action != MenuAction::none || !item.submenu.isEmpty()))
        text += QStringLiteral(" (off)");
    QStringList submenu;
    for (const MenuItem &entry : item.submenu)
        submenu << describe(entry);
    return submenu.isEmpty() ? text : text + QStringLiteral(": ") + submenu.join(u", ");
}

} // namespace

class StatusMenuTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // The menu's top-level items at `rows`, described, for `state` with the
    // settings read from a file holding `json`.
    QStringList rows(StatusMenuState state, const QByteArray &json, const QList<int> &rows)
    {
        state.readSettings(Settings(files::write(dir.filePath("settings.json"), json)));
        const QList<MenuItem> menu = buildStatusMenu(state);
        QStringList lines;
        for (int row : rows)
            lines << describe(menu.value(row));
        return lines;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void rowsFollowTheState()
    {
        StatusMenuState quiet;
        quiet.silentSeconds = 12.5;
        QCOMPARE(rows(quiet, "{}", {1, 2}),
                 (QStringList{"[ ] If nothing reacts: open Sound Settings...", "----"}));
        StatusMenuState gaveUp;
        gaveUp.lastError = QStringLiteral("capture lost (-6)");
        gaveUp.gaveUp = true;
        QCOMPARE(rows(gaveUp, "{}", {1, 2, 3}),
                 (QStringList{"[ ] Open Sound Settings...", "[ ] Retry", "----"}));

        QCOMPARE(rows({}, R"({"layout":"strip"})", {7, 8, 10, 11, 21, 24}),
                 (QStringList{"[ ] Corner panel", "[x] Bottom strip #1",
                              "> Corner (off): [ ] Top left, [ ] Top right #1, "
                              "[ ] Bottom left #2, [x] Bottom right #3",
                              "> Strip height: [ ] Tiny #2, [x] Short, [ ] Tall #1",
                              "[ ] Move... (or hold Alt over it)", "[ ] Pause"}));
        StatusMenuState moving;
        moving.unlocked = true;
        QCOMPARE(
            rows(moving, R"({"paused":true,"warriors":false,"warriorCount":0})", {15, 16, 21, 24}),
            (QStringList{"[ ] Warriors",
                         "> Number of warriors: [ ] Auto #-1, [x] 0 (none), [ ] 1 #1, "
                         "[ ] 2 #2, [ ] 3 #3, [ ] 4 #4, [ ] 5 #5, [ ] 6 #6, [ ] 7 #7, [ ] 8 #8",
                         "Moving: click elsewhere or press Esc to lock", "[ ] Resume"}));

        // Three familiars chosen: only they can be clicked. Creature items carry the name.
        StatusMenuState library;
        library.creatures = QStringList{"Rex", "Mo", "Mr Pip"};
        QCOMPARE(rows(library, R"({"familiars":["Mo","Tobble","Rex"]})", {14, 15, 16}),
                 (QStringList{"> Familiars (up to 3): [x] Tobble, [x] Rex, [x] Mo, Mr Pip",
                              "> Edit a creature: [ ] Edit Rex…, [ ] Edit Mo…, [ ] Edit Mr Pip…",
                              "> Remove a creature: [ ] Remove Rex…, [ ] Remove Mo…, "
                              "[ ] Remove Mr Pip…"}));
        for (int row : {14, 15, 16})
            QCOMPARE(buildStatusMenu(library)[row].submenu.last().representedObject, "Mr Pip");

        StatusMenuState missing;
        missing.claudeMissing = true;
        QCOMPARE(rows(missing, R"({"familiars":[]})", {13, 14}),
                 (QStringList{"[ ] New creature from photo… (needs Claude Code)",
                              "> Familiars (up to 3): [ ] Tobble"}));

        // A panel that never sees the pointer says so on the fade row, and only it.
        const auto fadeTip = [](const StatusMenuState &state) {
            for (const MenuItem &item : buildStatusMenu(state))
                if (item.action == MenuAction::toggleFade)
                    return item.toolTip;
            return QStringLiteral("no fade row");
        };
        StatusMenuState layer;
        layer.fadeUnavailable = true;
        QVERIFY(fadeTip(layer).startsWith(QLatin1String("Not available on this panel")));
        QCOMPARE(fadeTip({}), QString());

        // "Listen to": everything, what plays now, and the choice that does not play.
        StatusMenuState listening;
        listening.playing = {{"Firefox", "firefox", false}, {"mpv", {}, false}};
        QCOMPARE(rows(listening, R"({"listenTo":"Spotify","songTitles":false})", {4, 5}),
                 (QStringList{"> Listen to: [ ] Everything, [ ] Firefox, [ ] mpv, "
                              "[x] Spotify (not playing)",
                              "[ ] Show song titles"}));
        listening.playing[1].chosen = true;
        QCOMPARE(rows(listening, R"({"listenTo":"MPV"})", {4, 5}),
                 (QStringList{"> Listen to: [ ] Everything, [ ] Firefox, [x] mpv",
                              "[x] Show song titles"}));
        QCOMPARE(buildStatusMenu(listening)[4].submenu[1].icon, "firefox");
    }

    void statusLineFirstRuleThatAppliesWins()
    {
        StatusInputs in;
        in.paused = in.testAudio = in.building = in.running = in.gaveUp = true;
        in.lastError = "capture lost (-6)";
        in.silentSeconds = 30;
        QCOMPARE(statusText(in), "Paused");
        in.paused = false;
        QCOMPARE(statusText(in), "Test audio");
        in.testAudio = false; // building while running is not connecting
        QCOMPARE(statusText(in), "Check the sound server, then choose Retry");
        in.gaveUp = false;
        QCOMPARE(statusText(in), "Cannot listen: capture lost (-6)");
        in.lastError.reset();
        in.silentSeconds = 12.01;
        QCOMPARE(statusText(in), "No sound heard");
        in.listeningTo = "Spotify"; // one application may well be quiet
        QCOMPARE(statusText(in), "Listening to Spotify");
        in.song = "Song 2 - Blur";
        QCOMPARE(statusText(in), "Listening to Spotify: Song 2 - Blur");
    }

    // The state log is appended to its own file, never through a link planted at its path.
    void stateLogNeverFollowsALink()
    {
        QTemporaryDir dir;
        QVERIFY(appendStateLine(dir.filePath("log"), "a\n") &&
                appendStateLine(dir.filePath("log"), "b\n"));
        QCOMPARE(files::read(dir.filePath("log")), "a\nb\n");
        QVERIFY(QFile::link(dir.filePath("log"), dir.filePath("link")));
        QVERIFY(!appendStateLine(dir.filePath("link"), "c\n"));
        QCOMPARE(files::read(dir.filePath("log")), "a\nb\n");
    }
};

QTEST_GUILESS_MAIN(StatusMenuTest)
#include "tst_StatusMenu.moc"
