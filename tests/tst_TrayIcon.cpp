#include "app/TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QTest>

using namespace bopling;

// The tray menu is the menu model, rebuilt each time it opens.
class TrayIconTest : public QObject
{
    Q_OBJECT

private slots:
    void menuIsRebuiltFromTheModelOnEveryOpening()
    {
        TrayIcon tray{QIcon()};
        bool paused = false;
        tray.buildMenu = [&] {
            StatusMenuState state;
            state.statusText = paused ? QStringLiteral("Paused") : QStringLiteral("Listening");
            state.paused = paused;
            return buildStatusMenu(state);
        };
        QList<MenuItem> chosen;
        tray.onAction = [&](const MenuItem &item) { chosen.append(item); };

        emit tray.menu()->aboutToShow();
        QList<QAction *> actions = tray.menu()->actions();
        QCOMPARE(actions.size(), 10);
        QCOMPARE(actions[0]->text(), QStringLiteral("Listening"));
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[8]->text(), QStringLiteral("Pause"));
        QVERIFY(actions[8]->isEnabled());

        actions[8]->trigger();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen[0].action, MenuAction::togglePause);

        paused = true;
        emit tray.menu()->aboutToShow();
        actions = tray.menu()->actions();
        QCOMPARE(actions.size(), 10);
        QCOMPARE(actions[0]->text(), QStringLiteral("Paused"));
        QCOMPARE(actions[8]->text(), QStringLiteral("Resume"));
        actions[9]->trigger();
        QCOMPARE(chosen.last().action, MenuAction::quit);
    }

    void submenusAndCheckMarksAreKept()
    {
        TrayIcon tray{QIcon()};
        tray.buildMenu = [] {
            MenuItem corner;
            corner.title = QStringLiteral("Corner");
            corner.enabled = false;
            MenuItem topLeft = MenuItem::command(QStringLiteral("Top left"), MenuAction::quit, 0);
            MenuItem bottomRight =
                MenuItem::command(QStringLiteral("Bottom right"), MenuAction::quit, 3);
            bottomRight.checked = true;
            corner.submenu = {topLeft, bottomRight};
            return QList<MenuItem>{corner};
        };
        int tag = -1;
        tray.onAction = [&](const MenuItem &item) { tag = item.tag; };
        tray.rebuild();
        QMenu *sub = tray.menu()->actions().value(0)->menu();
        QVERIFY(sub);
        QVERIFY(!sub->isEnabled());
        QCOMPARE(sub->actions().size(), 2);
        QVERIFY(!sub->actions()[0]->isChecked());
        QVERIFY(sub->actions()[1]->isChecked());
        sub->actions()[1]->trigger();
        QCOMPARE(tag, 3);
    }
};

QTEST_MAIN(TrayIconTest)
#include "tst_TrayIcon.moc"
