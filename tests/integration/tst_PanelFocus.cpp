#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <optional>

namespace {

// Runs `program` while the event loop turns: its output.
QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 15000);
    return process.readAllStandardOutput();
}

bool inSway()
{
    return qEnvironmentVariableIsSet("SWAYSOCK");
}

// The process of the focused window in sway's tree below `node`; 0 if none.
qint64 focusedIn(const QJsonObject &node)
{
    if (node[QLatin1String("focused")].toBool())
        return node[QLatin1String("pid")].toInteger();
    for (const char *children : {"nodes", "floating_nodes"})
        for (const QJsonValue child : node[QLatin1String(children)].toArray())
            if (const qint64 pid = focusedIn(child.toObject()))
                return pid;
    return 0;
}

// The process whose window has the keyboard: sway's focused view, or under an
// X11 window manager the owner of the X input focus (xdotool asks for its
// _NET_WM_PID). 0 when nothing has it.
qint64 focusedPid()
{
    if (inSway())
        return focusedIn(
            QJsonDocument::fromJson(run(QStringLiteral("swaymsg"), {"-r", "-t", "get_tree"}))
                .object());
    const QByteArray window = run(QStringLiteral("xdotool"), {"getwindowfocus"}).trimmed();
    return run(QStringLiteral("xdotool"), {"getwindowpid", QString::fromLatin1(window)})
        .trimmed()
        .toLongLong();
}

// The geometry of the panel of process `pid` while it is mapped.
std::optional<QRect> panelOf(qint64 pid)
{
    static const QRegularExpression geometry(
        QStringLiteral("Position: (\\d+),(\\d+).*\\n.*Geometry: (\\d+)x(\\d+)"));
    const QRegularExpressionMatch match = geometry.match(QString::fromLocal8Bit(
        run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(pid),
                                        "--name", "^Bopling$", "getwindowgeometry", "%@"})));
    if (!match.hasMatch())
        return std::nullopt;
    return QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                 match.captured(4).toInt());
}

// A left click at `point` by the user's hands (sway's own cursor when it runs).
void click(QPoint point)
{
    if (inSway()) {
        run(QStringLiteral("swaymsg"),
            {"seat", "-", "cursor", "set", QString::number(point.x()), QString::number(point.y())});
        run(QStringLiteral("swaymsg"), {"seat", "-", "cursor", "press", "button1"});
        run(QStringLiteral("swaymsg"), {"seat", "-", "cursor", "release", "button1"});
    } else {
        run(QStringLiteral("xdotool"),
            {"mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1"});
    }
}

// Puts this process's window in or out of full screen through the window manager.
void setFullScreen(QWidget &window, bool on)
{
    if (inSway()) {
        const QString criteria = QStringLiteral("[pid=%1]").arg(QCoreApplication::applicationPid());
        run(QStringLiteral("swaymsg"), {criteria, "fullscreen", on ? "enable" : "disable"});
    } else {
        window.setWindowState(on ? Qt::WindowFullScreen : Qt::WindowNoState);
    }
}

} // namespace

// The panel never takes the keyboard from the window that has it: not when
// Bopling starts, not when it is clicked, not when it comes back after a
// full-screen window; and it is in its corner.
// Runs under openbox (scripts/test-env) and under sway with XWayland
// (scripts/wayland-session), where the compositor's own tree says who has
// the focus.
class PanelFocusTest : public QObject
{
    Q_OBJECT

private slots:
    void typingWindowKeepsTheKeyboard()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X11 display (run under scripts/test-env)");
        const qint64 self = QCoreApplication::applicationPid();
        QWidget typing;
        typing.setWindowTitle(QStringLiteral("Typing here"));
        typing.resize(800, 600);
        typing.show();
        typing.activateWindow();
        QVERIFY(QTest::qWaitFor([&] { return focusedPid() == self; }, 10000));

        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.insert(QStringLiteral("QX_DEBUG"), QStringLiteral("1"));
        env.insert(QStringLiteral("QX_TEST_AUDIO"),
                   QStringLiteral(BOPLING_BINARY_DIR "/demo/bopling-demo.wav"));
        QProcess bopling;
        bopling.setProcessEnvironment(env);
        bopling.start(QStringLiteral(BOPLING_BINARY_DIR "/bopling"), {});
        const qint64 panel = bopling.processId();
        // In its corner of the 1440 x 900 screen, also where the compositor would centre it.
        const QRect corner(784, 404, 640, 480);
        QVERIFY(QTest::qWaitFor([&] { return panelOf(panel) == corner; }, 60000));
        // What window managers read to decide about the focus: no input, no
        // offer to take the focus when asked. openbox manages the panel and
        // keeps it on top; sway is left out of it (no WM_STATE).
        const QString window = QString::fromLatin1(
            run(QStringLiteral("xdotool"),
                {"search", "--onlyvisible", "--pid", QString::number(panel), "--name", "^Bopling$"})
                .trimmed());
        const QByteArray hints =
            run(QStringLiteral("xprop"), {"-id", window, "WM_HINTS", "WM_PROTOCOLS", "WM_STATE"});
        QVERIFY2(hints.contains("input or input focus: False") && !hints.contains("WM_TAKE_FOCUS"),
                 hints);
        QVERIFY2(hints.contains("window state: Normal") != inSway(), hints);
        // A window manager hands the focus over as it maps a window: by now it would have.
        QTest::qWait(1500);
        QCOMPARE(focusedPid(), self);
        click(corner.center());
        QTest::qWait(1000);
        QCOMPARE(focusedPid(), self);

        setFullScreen(typing, true);
        QVERIFY2(QTest::qWaitFor([&] { return !panelOf(panel); }, 15000),
                 "the panel stays over a full-screen window");
        setFullScreen(typing, false);
        QVERIFY(QTest::qWaitFor([&] { return panelOf(panel) == corner; }, 15000));
        QTest::qWait(1500);
        QCOMPARE(focusedPid(), self);

        if (inSway()) {
            // A native Wayland window, which XWayland does not see: sway is asked.
            QProcess terminal;
            terminal.start(QStringLiteral("foot"), {});
            QVERIFY2(terminal.waitForStarted(), "foot is missing (scripts/install-deps)");
            QVERIFY(QTest::qWaitFor([&] { return focusedPid() == terminal.processId(); }, 10000));
            // Floating, as a video player's window may be.
            run(QStringLiteral("swaymsg"), {"floating", "enable"});
            run(QStringLiteral("swaymsg"), {"fullscreen", "enable"});
            QVERIFY2(QTest::qWaitFor([&] { return !panelOf(panel); }, 15000),
                     "the panel stays over a native full-screen window");
            run(QStringLiteral("swaymsg"), {"fullscreen", "disable"});
            QVERIFY(QTest::qWaitFor([&] { return panelOf(panel) == corner; }, 15000));
            QTest::qWait(1500);
            QCOMPARE(focusedPid(), terminal.processId());
            // Full screen on a second monitor leaves the panel where it is.
            run(QStringLiteral("swaymsg"), {"create_output"});
            run(QStringLiteral("swaymsg"),
                {"output", "HEADLESS-2", "mode", "1440x900", "position", "1440", "0"});
            run(QStringLiteral("swaymsg"), {"move", "container", "to", "output", "HEADLESS-2"});
            run(QStringLiteral("swaymsg"), {"focus", "output", "HEADLESS-2"});
            run(QStringLiteral("swaymsg"), {"fullscreen", "enable"});
            QTest::qWait(3000);
            QCOMPARE(panelOf(panel), std::optional(corner));
            terminal.kill();
            terminal.waitForFinished();
        }
        if (const QByteArray shot = qgetenv("BOPLING_SCREENSHOT"); !shot.isEmpty() && inSway())
            run(QStringLiteral("grim"), {QString::fromLocal8Bit(shot)});
        bopling.terminate();
        QVERIFY(bopling.waitForFinished(10000));
    }
};

QTEST_MAIN(PanelFocusTest)
#include "tst_PanelFocus.moc"
