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
        QVERIFY(actions.size() == 4 && !actions[0]->isEnabled() && actions[1]->isSeparator());

        actions[2]->trigger();
        QCOMPARE(chosen.value(0).action, MenuAction::togglePause);

        paused = true;
        emit tray.menu()->aboutToShow();
        actions = tray.menu()->actions();
        QCOMPARE(actions[0]->text() + actions[2]->text(), QStringLiteral("PausedResume"));
        actions[3]->trigger();
        QCOMPARE(chosen.last().action, MenuAction::quit);
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
        QCOMPARE(shown.value(0), "Remove Rex?");
        QCOMPARE(shown.value(2), "Remove");
    }
};

QTEST_MAIN(TrayIconTest)
#include "tst_TrayIcon.moc"
