#include "app/StateLog.h"
#include "app/StatusLine.h"
#include "app/StatusMenu.h"
#include "support/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

Q_DECLARE_METATYPE(bopling::StatusMenuState)
Q_DECLARE_METATYPE(bopling::StatusInputs)

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

    // The menu's top-level items, described, for `state` with the settings
    // read from a file holding `json`.
    QStringList menuFor(StatusMenuState state, const QByteArray &json)
    {
        files::write(dir.filePath(QStringLiteral("settings.json")), json);
        state.readSettings(Settings(dir.filePath(QStringLiteral("settings.json"))));
        QStringList lines;
        for (const MenuItem &item : buildStatusMenu(state))
            lines << describe(item);
        return lines;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Chosen top-level items, each found by its position, for a state and the settings.
    void rowsFollowTheState_data()
    {
        QTest::addColumn<StatusMenuState>("state");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QStringList>("expected");

        StatusMenuState plain;
        plain.statusText = QStringLiteral("Listening");
        StatusMenuState quiet = plain;
        quiet.silentSeconds = 12.5;
        QTest::newRow("over 12 s of silence")
            << quiet << QByteArray("{}") << QList<int>{1, 2}
            << QStringList{"[ ] If nothing reacts: open Sound Settings...", "----"};
        StatusMenuState gaveUp = plain;
        gaveUp.lastError = QStringLiteral("capture lost (-6)");
        gaveUp.gaveUp = true;
        QTest::newRow("tap gave up")
            << gaveUp << QByteArray("{}") << QList<int>{1, 2, 3}
            << QStringList{"[ ] Open Sound Settings...", "[ ] Retry", "----"};

        QTest::newRow("strip, height never set")
            << plain << QByteArray(R"({"layout":"strip"})") << QList<int>{5, 6, 8, 9}
            << QStringList{"[ ] Corner panel", "[x] Bottom strip #1",
                           "> Corner (off): [ ] Top left, [ ] Top right #1, [ ] Bottom left #2, "
                           "[x] Bottom right #3",
                           "> Strip height: [ ] Tiny #2, [x] Short, [ ] Tall #1"};

        StatusMenuState library = plain;
        library.creatures = QStringList{"Rex", "Mo", "Pip"};
        QTest::newRow("three familiars chosen")
            << library << QByteArray(R"({"familiars":["Mo","Tobble","Rex"]})")
            << QList<int>{12, 13, 14}
            << QStringList{"> Familiars (up to 3): [x] Tobble, [x] Rex, [x] Mo, Pip",
                           "> Edit a creature: [ ] Edit Rex…, [ ] Edit Mo…, [ ] Edit Pip…",
                           "> Remove a creature: [ ] Remove Rex…, [ ] Remove Mo…, [ ] Remove Pip…"};
        StatusMenuState missing = plain;
        missing.claudeMissing = true;
        QTest::newRow("CLI missing, no familiar")
            << missing << QByteArray(R"({"familiars":[]})") << QList<int>{11, 12}
            << QStringList{"[ ] New creature from photo… (needs Claude Code)",
                           "> Familiars (up to 3): [ ] Tobble"};
    }

    void rowsFollowTheState()
    {
        QFETCH(StatusMenuState, state);
        QFETCH(QByteArray, settings);
        QFETCH(QList<int>, rows);
        QFETCH(QStringList, expected);
        const QStringList menu = menuFor(state, settings);
        QStringList shown;
        for (int row : rows)
            shown << menu.value(row);
        QCOMPARE(shown, expected);
    }

    // Creature items carry the creature's name, whatever their title.
    void creatureItemsCarryTheirName()
    {
        StatusMenuState state;
        state.creatures = QStringList{"Mr Whiskers"};
        const QList<MenuItem> items = buildStatusMenu(state);
        for (int row : {12, 13, 14})
            QCOMPARE(items[row].submenu.last().representedObject, QStringLiteral("Mr Whiskers"));
    }

    // The status line: the first rule that applies wins.
    void firstRuleThatAppliesWins_data()
    {
        QTest::addColumn<StatusInputs>("in");
        QTest::addColumn<QString>("text");
        StatusInputs all;
        all.paused = all.testAudio = all.building = all.gaveUp = true;
        all.lastError = "capture lost (-6)";
        all.silentSeconds = 30;
        QTest::newRow("paused beats everything") << all << "Paused";
        all.paused = false;
        QTest::newRow("then test audio") << all << "Test audio";
        all.testAudio = false;
        all.running = true;
        QTest::newRow("building while running is not connecting")
            << all << "Check the sound server, then choose Retry";
        all.gaveUp = false;
        QTest::newRow("then the error") << all << "Cannot listen: capture lost (-6)";
        all.lastError.reset();
        all.silentSeconds = 12.01;
        QTest::newRow("just over 12 s") << all << "No sound heard";
    }
    void firstRuleThatAppliesWins()
    {
        QFETCH(StatusInputs, in);
        QFETCH(QString, text);
        QCOMPARE(statusText(in), text);
    }

    // State log lines: valid JSON whatever the page answered.
    void everyLineIsValidJson_data()
    {
        QTest::addColumn<QString>("audio");
        QTest::addColumn<double>("silentSeconds");
        QTest::addColumn<QVariant>("answer");
        QTest::addColumn<QByteArray>("jsField");     // compact JSON of "js"
        QTest::addColumn<QByteArray>("secondsText"); // as written
        using B = QByteArray;
        QTest::newRow("an answer that is not text")
            << "Paused" << 3.0 << QVariant(17) << B("null") << B("3.0");
        QTest::newRow("text that is not JSON is quoted, and a quote in the status")
            << "Cannot listen: \"odd\" error" << 0.0 << QVariant("oops \"}")
            << B("[\"oops \\\"}\"]") << B("0.0");
        QTest::newRow("a broken number") << "x" << qQNaN() << QVariant() << B("null") << B("0");
    }
    void everyLineIsValidJson()
    {
        QFETCH(QString, audio);
        QFETCH(double, silentSeconds);
        QFETCH(QVariant, answer);
        QFETCH(QByteArray, jsField);
        QFETCH(QByteArray, secondsText);
        StateLogEntry entry;
        entry.audio = audio;
        entry.silentSeconds = silentSeconds;
        entry.js = StateLogEntry::pageAnswer(answer);
        const QByteArray line = stateLogLine(entry);
        QVERIFY(line.endsWith("}\n"));
        QVERIFY(line.contains("\"silentSeconds\":" + secondsText + ",\"js\""));

        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
        QCOMPARE(object.value("audio").toString(), audio);
        QCOMPARE(QJsonDocument(QJsonArray{object.value("js")}).toJson(QJsonDocument::Compact),
                 jsField == "null" ? QByteArray("[null]") : jsField);
    }
};

QTEST_GUILESS_MAIN(StatusMenuTest)
#include "tst_StatusMenu.moc"
