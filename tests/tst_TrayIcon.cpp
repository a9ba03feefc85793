#include "app/Alerts.h"
#include "app/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <utility>

using namespace bopling;

class TrayIconTest : public QObject
{
    Q_OBJECT

private slots:
    // The end-to-end tests show the items and their actions; what they do not see is
    // the menu rebuilt from the model on every opening, its old submenus gone.
    void menuIsRebuiltOnEveryOpening()
    {
        TrayIcon tray{QIcon()};
        QString title = QStringLiteral("Pause");
        tray.buildMenu = [&] {
            return QList<MenuItem>{
                MenuItem::command(title, MenuAction::togglePause),
                MenuItem::withSubmenu(QStringLiteral("Corner"), {MenuItem::label(title)})};
        };
        emit tray.menu()->aboutToShow();
        title = QStringLiteral("Resume");
        emit tray.menu()->aboutToShow();
        const QList<QMenu *> submenus = tray.menu()->findChildren<QMenu *>();
        QCOMPARE(tray.menu()->actions().value(0)->text(), title);
        QVERIFY(submenus.size() == 1 && submenus[0]->actions().value(0)->text() == title);
    }

    // The real alert: Return takes the default, Escape cancels.
    void removalAnswer()
    {
        for (const auto &[key, removed] :
             {std::pair{Qt::Key_Return, true}, std::pair{Qt::Key_Escape, false}}) {
            QStringList shown;
            QTimer answer;
            connect(&answer, &QTimer::timeout, this, [&] {
                auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!alert)
                    return;
                shown << alert->text() << alert->defaultButton()->text();
                QTest::keyClick(alert, key);
            });
            answer.start(50);
            QCOMPARE(confirmRemoval(QStringLiteral("Rex")), removed);
            QCOMPARE(shown.mid(0, 2), (QStringList{"Remove Rex?", "Remove"}));
        }
    }
};

QTEST_MAIN(TrayIconTest)
#include "tst_TrayIcon.moc"
