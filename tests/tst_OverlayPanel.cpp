#include "overlay/OverlayPanel.h"
#include "overlay/PlacementActions.h"
#include "settings/Settings.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

using namespace bopling;

namespace {

xcb_connection_t *connection()
{
    return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char *name)
{
    auto *reply = xcb_intern_atom_reply(
        connection(), xcb_intern_atom(connection(), 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

QList<xcb_atom_t> property32(WId window, const char *name, xcb_atom_t type)
{
    QList<xcb_atom_t> values;
    auto *reply = xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, xcb_window_t(window), atom(name), type, 0, 64), nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
            values.append(data[i]);
    }
    std::free(reply);
    return values;
}

} // namespace

// The panel as the window manager sees it (Xvfb + openbox).
class OverlayPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X11 display (run under scripts/test-env)");
    }

    void windowManagerKeepsItOnEveryDesktopAndOutOfLists()
    {
        OverlayPanel panel;
        panel.setFrame({10, 10, 320, 240});
        panel.orderFrontRegardless();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));

        QList<xcb_atom_t> states;
        QTRY_VERIFY((states = property32(panel.winId(), "_NET_WM_STATE", XCB_ATOM_ATOM))
                        .contains(atom("_NET_WM_STATE_SKIP_TASKBAR")));
        // On every desktop: openbox goes by the desktop number alone.
        QVERIFY(states.contains(atom("_NET_WM_STATE_SKIP_PAGER")) &&
                states.contains(atom("_NET_WM_STATE_ABOVE")));
        QCOMPARE(property32(panel.winId(), "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL),
                 QList<xcb_atom_t>{0xFFFFFFFF});
        // Showing the panel does not make it the active window.
        QVERIFY(!panel.isActiveWindow() && QGuiApplication::focusWindow() != panel.windowHandle());
    }

    // A saved position with a fraction: the panel keeps its preset size, and placing it again
    // sends no new configuration.
    void fractionalPositionKeepsThePresetSize()
    {
        QTemporaryDir dir;
        Settings settings(dir.filePath("settings.json"));
        settings.savePosition(Layout::corner, 7, 100.5, 50.5);
        OverlayPanel panel;
        int configurations = 0;
        const QList<ScreenInfo> screens{{7, {0, 0, 1280, 1024}, {0, 0, 1280, 1024}}};
        PlacementActions actions(settings, {[&] { return screens; }, [&] { return panel.frame(); },
                                            [&](const Frame &frame) { panel.setFrame(frame); },
                                            [&] { ++configurations; }});
        actions.applyPlacement();
        QCOMPARE(panel.size(), QSize(640, 480));
        actions.applyPlacement();
        QCOMPARE(configurations, 1);
    }
};

QTEST_MAIN(OverlayPanelTest)
#include "tst_OverlayPanel.moc"
