#include "app/StatusMenu.h"

#include <QTest>

using namespace bopling;

Q_DECLARE_METATYPE(bopling::StatusMenuState)

namespace {

QString entry(const QString &title, MenuAction action, bool enabled)
{
    return QStringLiteral("%1|%2|%3")
        .arg(title)
        .arg(int(action))
        .arg(QLatin1String(enabled ? "on" : "off"));
}

// The menu as "title|action|on/off" lines, separators as "----".
QStringList describe(const QList<MenuItem> &items)
{
    QStringList lines;
    for (const MenuItem &item : items)
        lines << (item.separator ? QStringLiteral("----")
                                 : entry(item.title, item.action, item.enabled) +
                                       QLatin1String(item.checked ? "|checked" : ""));
    return lines;
}

// An item as it should be: enabled exactly when it does something.
QString line(const QString &title, MenuAction action)
{
    return entry(title, action, action != MenuAction::none);
}

} // namespace

class StatusMenuTest : public QObject
{
    Q_OBJECT

private slots:
    void itemsFollowTheState_data()
    {
        QTest::addColumn<StatusMenuState>("state");
        QTest::addColumn<QStringList>("expected");

        const QString pause = line(QStringLiteral("Pause"), MenuAction::togglePause);
        const QString resume = line(QStringLiteral("Resume"), MenuAction::togglePause);
        const QString quit = line(QStringLiteral("Quit Bopling"), MenuAction::quit);
        const QString hint = line(QStringLiteral("If nothing reacts: open Sound Settings..."),
                                  MenuAction::openPrivacy);
        const QString settings =
            line(QStringLiteral("Open Sound Settings..."), MenuAction::openPrivacy);
        const QString retry = line(QStringLiteral("Retry"), MenuAction::retryTap);
        const QString creature =
            line(QStringLiteral("New creature from photo…"), MenuAction::newCreature);
        // The panel's items between the status part and pause/quit.
        const QString fade = line(QStringLiteral("Fade on hover"), MenuAction::toggleFade);
        const QString snap =
            line(QStringLiteral("Snap to preset position"), MenuAction::snapToPreset);
        const QStringList panel{
            "----",
            creature,
            fade + "|checked",
            "----",
            line(QStringLiteral("Move... (or hold Alt over it)"), MenuAction::startMove),
            snap,
            "----"};

        StatusMenuState listening;
        listening.statusText = QStringLiteral("Listening to system audio");
        const QString status = line(listening.statusText, MenuAction::none);
        QTest::newRow("listening")
            << listening << QStringList{status} + panel + QStringList{pause, quit};

        StatusMenuState paused = listening;
        paused.paused = true;
        QTest::newRow("paused") << paused
                                << QStringList{status} + panel + QStringList{resume, quit};

        StatusMenuState moving = listening;
        moving.unlocked = true;
        moving.fadeOnHover = false;
        const QString locking =
            line(QStringLiteral("Moving: click elsewhere or press Esc to lock"), MenuAction::none);
        QTest::newRow("unlocked, no fade")
            << moving << QStringList{status,  "----", creature, fade,  "----",
                                     locking, snap,   "----",   pause, quit};

        StatusMenuState quiet = listening;
        quiet.silentSeconds = 13;
        QTest::newRow("13 s of silence")
            << quiet << QStringList{status, hint} + panel + QStringList{pause, quit};
        quiet.silentSeconds = 12;
        QTest::newRow("12 s of silence")
            << quiet << QStringList{status} + panel + QStringList{pause, quit};

        StatusMenuState failing = listening;
        failing.lastError = QStringLiteral("no output device");
        QTest::newRow("an error") << failing
                                  << QStringList{status, hint} + panel + QStringList{pause, quit};

        StatusMenuState gaveUp = failing;
        gaveUp.gaveUp = true;
        QTest::newRow("given up") << gaveUp
                                  << QStringList{status, settings, retry} + panel +
                                         QStringList{pause, quit};
    }

    void itemsFollowTheState()
    {
        QFETCH(StatusMenuState, state);
        QFETCH(QStringList, expected);
        QCOMPARE(describe(buildStatusMenu(state)), expected);
    }
};

QTEST_GUILESS_MAIN(StatusMenuTest)
#include "tst_StatusMenu.moc"
