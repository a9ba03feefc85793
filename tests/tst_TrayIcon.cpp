#include "app/Alerts.h"
#include "app/TrayIcon.h"
#include "support/Files.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

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

    // A link no browser can open shows its address to copy; one that opens shows nothing.
    void linkWithoutBrowser()
    {
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
        const QString opener = bin.filePath(QStringLiteral("xdg-open"));
        const QUrl url(QStringLiteral("https://example.org/claude-code"));
        for (const char *status : {"3", "0"}) {
            QFile::remove(opener);
            files::write(opener, "#!/bin/sh\necho \"$1\" > \"$0.url\"\nexit " + QByteArray(status));
            QFile::setPermissions(opener, QFile::ReadOwner | QFile::ExeOwner);
            openLink(url);
            QTRY_COMPARE(files::read(opener + ".url").trimmed(), url.toString().toUtf8());
            QFile::remove(opener + ".url");
            // The message follows the opener's exit.
            QMessageBox *message = nullptr;
            QCOMPARE(QTest::qWaitFor(
                         [&] {
                             message =
                                 qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                             return message;
                         },
                         *status == '0' ? 500 : 5000),
                     *status != '0');
            if (!message)
                continue;
            QCOMPARE(message->informativeText(), url.toString());
            message->defaultButton()->click();
            QCOMPARE(QGuiApplication::clipboard()->text(), url.toString());
            QTRY_VERIFY(!QApplication::activeModalWidget());
        }
        qputenv("PATH", path);
    }
};

QTEST_MAIN(TrayIconTest)
#include "tst_TrayIcon.moc"
