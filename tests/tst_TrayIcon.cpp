#include "app/Alerts.h"
#include "app/TrayIcon.h"
#include "support/Files.h"

#include "integration/Desktop.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <utility>

using namespace bopling;

namespace {

// The part of a D-Bus tray that items talk to. It answers from a thread of
// its own, as the item asks it and waits.
class NotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }

signals:
    void registered(const QString &service);

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString &item) { emit registered(item); }
};

} // namespace

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

    // A D-Bus tray that starts after the icon is shown gets the item; as a
    // host does, it reads the menu, submenus too, clicks in it and on the icon.
    void laterDBusTrayShowsTheMenu()
    {
        QDBusConnection host =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("host"));
        if (!host.isConnected())
            QSKIP("needs a session D-Bus (run under scripts/test-env)");
        QPixmap square(16, 16);
        square.fill(Qt::darkGreen);
        TrayIcon tray{QIcon(square)};
        tray.buildMenu = [] {
            return QList<MenuItem>{MenuItem::withSubmenu(
                QStringLiteral("Corner"),
                {MenuItem::command(QStringLiteral("Top left"), MenuAction::setCorner, 0)})};
        };
        QList<MenuItem> chosen;
        tray.onAction = [&](const MenuItem &item) { chosen << item; };
        bool openedElsewhere = false;
        tray.openElsewhere = [&] { openedElsewhere = true; };
        QVERIFY(!tray.show());

        QThread thread;
        thread.start();
        NotifierWatcher watcher;
        watcher.moveToThread(&thread);
        const auto stop = qScopeGuard([&] {
            host.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            thread.quit();
            thread.wait();
        });
        QStringList items;
        connect(&watcher, &NotifierWatcher::registered, this, [&](QString item) { items << item; });
        host.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportScriptableSlots |
                                QDBusConnection::ExportAllProperties);
        QVERIFY(host.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        QTRY_COMPARE_WITH_TIMEOUT(items.size(), 1, 10000);
        const auto call = [&](const char *path, const char *method, const QStringList &arguments) {
            return QString::fromUtf8(
                desktop::run(QStringLiteral("gdbus"),
                             QStringList{"call", "--session", "--dest", items[0], "--object-path",
                                         path, "--method", method, "--"} +
                                 arguments));
        };
        const QString layout =
            call("/MenuBar", "com.canonical.dbusmenu.GetLayout", {"0", "-1", "@as []"});
        static const QRegularExpression topLeft(
            QStringLiteral("\\((\\d+), \\{[^}]*'label': <'Top left'>"));
        const QRegularExpressionMatch found = topLeft.match(layout);
        QVERIFY2(found.hasMatch(), qPrintable(layout));
        call("/MenuBar", "com.canonical.dbusmenu.Event",
             {found.captured(1), "clicked", "<0>", "0"});
        QTRY_COMPARE(chosen.size(), 1);
        QCOMPARE(chosen[0].title, QStringLiteral("Top left"));
        // The host's position of a left click is not the X server's pointer.
        call("/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", {"5", "5"});
        QTRY_VERIFY(openedElsewhere);
        QVERIFY(!tray.menu()->isVisible());
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
