#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"
#include "app/SceneGraphBackend.h"
#include "app/SingleInstance.h"
#include "render/WebHost.h"

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = bopling::LaunchOptions::answerCommandLine(argc, argv))
        return *status;
    // A second start (autostart and the application menu, say) opens the
    // running Bopling's menu instead of a second panel and capture, and never
    // gets as far as sweeping the running one's creature folders.
    bopling::SingleInstance instance;
    if (instance.anotherIsRunning())
        return instance.handOver();
    // X11, and XWayland on Wayland desktops: the panel's window manager hints,
    // click-through and the desktop queries are X11's.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The page's scheme must be known before the application object exists.
    bopling::WebHost::registerScheme();
    const bool software = bopling::chooseSceneGraphBackend(argc, argv);
    bopling::addEngineSwitches(software);

    QApplication app(argc, argv);
    bopling::applicationCreated();
    // The web engine describes its set-up on every start; users have no use for it.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QApplication::setApplicationName(QStringLiteral("Bopling"));
    QApplication::setDesktopFileName(QStringLiteral("bopling"));
    // No main window: closing the creature window must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    bopling::AppDelegate delegate;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &bopling::AppDelegate::applicationWillTerminate);
    if (!delegate.applicationDidFinishLaunching())
        return 1;
    instance.listen([&delegate] { delegate.openMenuBesidePanel(); });
    return app.exec();
}
