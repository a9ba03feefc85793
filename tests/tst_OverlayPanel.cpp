#include "overlay/DragView.h"
#include "overlay/OverlayPanel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>
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

// Drives the real pointer through the X server, as a user would. The event
// loop keeps running meanwhile: the window manager's click handling waits for
// this process to answer.
void xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000));
}

void clickAt(QPoint global)
{
    xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

class PressCounter : public QWidget
{
public:
    using QWidget::QWidget;
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

} // namespace

// The panel as the window manager and the pointer see it (Xvfb + openbox).
class OverlayPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X11 display (run under scripts/test-env)");
        // The window manager may still be starting.
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
        QTRY_VERIFY_WITH_TIMEOUT(
            !property32(root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW).isEmpty(), 10000);
    }

    void windowIsAFloatingToolThatNeverTakesFocus()
    {
        OverlayPanel panel;
        const Qt::WindowFlags flags = panel.windowFlags();
        for (const Qt::WindowType flag : {Qt::Tool, Qt::FramelessWindowHint,
                                          Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus})
            QVERIFY2(flags.testFlag(flag), qPrintable(QString::number(int(flag), 16)));
        QVERIFY(panel.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(panel.ignoresMouseEvents());

        // Neither showing the panel nor clicking it makes it the active window.
        panel.setIgnoresMouseEvents(false);
        panel.setFrame({10, 10, 320, 240});
        panel.orderFrontRegardless();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QPoint inside = panel.geometry().center();
        clickAt(inside);
        QTest::qWait(300);
        QVERIFY(!panel.isActiveWindow());
        QVERIFY(QGuiApplication::focusWindow() != panel.windowHandle());
    }

    void windowManagerKeepsItOnEveryDesktopAndOutOfLists()
    {
        OverlayPanel panel;
        panel.setFrame({10, 10, 320, 240});
        panel.orderFrontRegardless();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));

        QTRY_VERIFY(property32(panel.winId(), "_NET_WM_STATE", XCB_ATOM_ATOM)
                        .contains(atom("_NET_WM_STATE_SKIP_TASKBAR")));
        const auto states = property32(panel.winId(), "_NET_WM_STATE", XCB_ATOM_ATOM);
        // Window managers that know the sticky state keep it; the others (openbox)
        // go by the desktop number alone.
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
        if (property32(root, "_NET_SUPPORTED", XCB_ATOM_ATOM)
                .contains(atom("_NET_WM_STATE_STICKY")))
            QVERIFY(states.contains(atom("_NET_WM_STATE_STICKY")));
        QVERIFY(states.contains(atom("_NET_WM_STATE_SKIP_TASKBAR")));
        QVERIFY(states.contains(atom("_NET_WM_STATE_SKIP_PAGER")));
        QVERIFY(states.contains(atom("_NET_WM_STATE_ABOVE")));
        QCOMPARE(property32(panel.winId(), "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL),
                 QList<xcb_atom_t>{0xFFFFFFFF});
    }

    void frameIsMeasuredFromTheBottomOfThePrimaryScreen()
    {
        const QRect primary = QGuiApplication::primaryScreen()->geometry();
        OverlayPanel panel;
        panel.setFrame({784, 16, 640, 480});
        panel.orderFrontRegardless();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(panel.geometry(),
                     QRect(784, primary.y() + primary.height() - 16 - 480, 640, 480));
        QCOMPARE(panel.frame(), (Frame{784, 16, 640, 480}));

        panel.setFrame({0, 0, 360, 270});
        QTRY_COMPARE(panel.frameGeometry().bottomLeft(),
                     QPoint(primary.x(), primary.y() + primary.height() - 1));
    }

    void clicksPassThroughUntilSwitchedAtRunTime()
    {
        PressCounter below(nullptr, Qt::FramelessWindowHint);
        below.setGeometry(50, 50, 400, 400);
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below));

        OverlayPanel panel;
        auto *content = new PressCounter;
        panel.setContentView(content);
        const QRect primary = QGuiApplication::primaryScreen()->geometry();
        panel.setFrame({100, double(primary.height() - 300), 200, 200});
        panel.orderFrontRegardless();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(panel.geometry().topLeft(), QPoint(100, 100));
        const WId native = panel.winId();

        clickAt({200, 200});
        QTRY_COMPARE(below.presses, 1);
        QCOMPARE(content->presses, 0);

        panel.setIgnoresMouseEvents(false);
        QVERIFY(!panel.ignoresMouseEvents());
        QCOMPARE(panel.winId(), native);
        clickAt({201, 201});
        QTRY_COMPARE(content->presses, 1);
        QCOMPARE(below.presses, 1);

        panel.setIgnoresMouseEvents(true);
        clickAt({202, 202});
        QTRY_COMPARE(below.presses, 2);
        QCOMPARE(content->presses, 1);
        QCOMPARE(panel.winId(), native);
    }

    void dragViewStartsHiddenAndReportsTheGrab()
    {
        OverlayPanel panel;
        auto *drag = new DragView;
        panel.setContentView(drag);
        panel.setIgnoresMouseEvents(false);
        const QRect primary = QGuiApplication::primaryScreen()->geometry();
        panel.setFrame({400, double(primary.height() - 500), 200, 200}); // Qt (400, 300)
        panel.orderFrontRegardless();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_COMPARE(panel.geometry().topLeft(), QPoint(400, 300));

        QList<QPointF> grabs;
        int ends = 0;
        drag->onDrag = [&](QPointF, QPointF grab) { grabs.append(grab); };
        drag->onEnd = [&] { ++ends; };
        xdotool({QStringLiteral("mousemove"), QStringLiteral("450"), QStringLiteral("480"),
                 QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
                 QStringLiteral("460"), QStringLiteral("470"), QStringLiteral("mouseup"),
                 QStringLiteral("1")});
        QTRY_COMPARE(ends, 1);
        QVERIFY(!grabs.isEmpty());
        // Pressed 50 right of the panel's left edge and 20 above its bottom edge.
        QCOMPARE(grabs.first(), QPointF(50, 20));
    }
};

QTEST_MAIN(OverlayPanelTest)
#include "tst_OverlayPanel.moc"
