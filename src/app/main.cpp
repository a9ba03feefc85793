#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"
#include "app/RendererChoice.h"
#include "app/SingleInstance.h"
#include "render/RendererHost.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = bopling::LaunchOptions::answerCommandLine(argc, argv))
        return *status;
    QString wrongArgument;
    const auto wanted = bopling::RendererChoice::fromArguments(argc, argv, &wrongArgument);
    const bool x11Panel = bopling::LaunchOptions::x11PanelAsked(argc, argv, &wrongArgument);
    if (!wrongArgument.isEmpty()) {
        std::fprintf(stderr, "bopling: %s\n", qPrintable(wrongArgument));
        return 2;
    }
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
    const bopling::RendererChoice renderer(wanted.value_or(bopling::RendererChoice::Kind::light),
                                           argc, argv);

    QApplication app(argc, argv);
    renderer.applicationCreated();
    QApplication::setApplicationName(QStringLiteral("Bopling"));
    QApplication::setDesktopFileName(QStringLiteral("bopling"));
    // No main window: closing the creature window must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    bopling::AppDelegate delegate;
    delegate.x11PanelOnly = x11Panel;
    delegate.makeRendererHost = [&renderer](const QString &webFolder) {
        return renderer.makeHost(webFolder);
    };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &bopling::AppDelegate::applicationWillTerminate);
    if (!delegate.applicationDidFinishLaunching())
        return 1;
    instance.listen([&delegate] { delegate.openMenuBesidePanel(); });
    return app.exec();
}
