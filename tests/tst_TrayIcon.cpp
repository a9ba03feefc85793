#include "app/Alerts.h"
#include "app/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
            return QList<MenuItem>{
                MenuItem::label(paused ? QStringLiteral("Paused") : QStringLiteral("Listening")),
                MenuItem::separatorItem(),
                MenuItem::command(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"),
                                  MenuAction::togglePause),
                MenuItem::command(QStringLiteral("Quit Bopling"), MenuAction::quit)};
        };
        QList<MenuItem> chosen;
        tray.onAction = [&](const MenuItem &item) { chosen.append(item); };

        emit tray.menu()->aboutToShow();
        QList<QAction *> actions = tray.menu()->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0]->text(), QStringLiteral("Listening"));
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), QStringLiteral("Pause"));
        QVERIFY(actions[2]->isEnabled());

        actions[2]->trigger();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen[0].action, MenuAction::togglePause);

        paused = true;
        emit tray.menu()->aboutToShow();
        actions = tray.menu()->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0]->text(), QStringLiteral("Paused"));
        QCOMPARE(actions[2]->text(), QStringLiteral("Resume"));
        actions[3]->trigger();
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
        // Submenus of earlier openings do not pile up.
        tray.rebuild();
        QCOMPARE(tray.menu()->findChildren<QMenu *>().size(), 1);
    }

    // The real alert: Return takes the default, Escape cancels.
    void removalAnswer_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("removed");
        QTest::newRow("Return") << int(Qt::Key_Return) << true;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
    }

    void removalAnswer()
    {
        QFETCH(int, key);
        QFETCH(bool, removed);
        QStringList shown;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!alert)
                return;
            shown << alert->text() << alert->informativeText() << alert->defaultButton()->text();
            QTest::keyClick(alert, Qt::Key(key));
        });
        answer.start(50);
        QCOMPARE(confirmRemoval(QStringLiteral("Rex")), removed);
        QCOMPARE(shown, QStringList({"Remove Rex?",
                                     "The creature's sprites are deleted from this computer. You "
                                     "can make it again from a photo.",
                                     "Remove"}));
    }
};

QTEST_MAIN(TrayIconTest)
#include "tst_TrayIcon.moc"
