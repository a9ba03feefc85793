#include "Desktop.h"
#include "app/StatusMenu.h"
#include "overlay/Placement.h"
#include "settings/Settings.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

using namespace bopling;
using namespace bopling::desktop;

namespace {

QString at(QPoint p)
{
    return QStringLiteral("%1 %2").arg(p.x()).arg(p.y());
}

// Brings the pointer to `p` the way a hand does, ending in a motion the
// desktop reports ("mousemove" alone warps it, which reports none).
void moveTo(QPoint p)
{
    xdotool(QStringLiteral("mousemove %1 mousemove_relative 1 0").arg(at(p - QPoint(1, 0))));
}

// A window below the panel that counts the clicks reaching it.
class Below final : public QWidget
{
public:
    Below() : QWidget(nullptr, Qt::FramelessWindowHint) {}
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

// Bopling in debug mode playing the demo track (no sound server needed, and
// the menu keeps its items), with its settings and state log in `home`.
class Program
{
public:
    explicit Program(const QString &home) : home(home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
        env.insert(QStringLiteral("QX_DEBUG"), QStringLiteral("1"));
        env.insert(QStringLiteral("QX_TEST_AUDIO"),
                   QStringLiteral(BOPLING_BINARY_DIR "/demo/bopling-demo.wav"));
        env.insert(QStringLiteral("QX_LOG"), home + QStringLiteral("/state.log"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(BOPLING_BINARY_DIR "/bopling"), {});
    }
    ~Program()
    {
        process.terminate();
        process.waitForFinished(5000);
    }

    // The panel's geometry, while it is mapped.
    std::optional<QRect> panel() { return panelOf(process.processId(), &window); }

    // The opacity property of the panel as xprop shows it; -1 when it has none.
    qint64 opacity() const
    {
        const QByteArray out =
            run(QStringLiteral("xprop"), {"-id", window, "_NET_WM_WINDOW_OPACITY"});
        return out.contains('=') ? out.split('=').last().trimmed().toLongLong() : -1;
    }

    // The grab and unlocked fields of the next state log line: "true,false"...
    QString nextState() const
    {
        const QString path = home + QStringLiteral("/state.log");
        const qint64 seen = QFileInfo(path).size();
        (void)QTest::qWaitFor([&] { return QFileInfo(path).size() > seen; }, 5000);
        QFile log(path);
        log.open(QIODevice::ReadOnly);
        log.seek(seen);
        static const QRegularExpression fields(QStringLiteral(R"("grab":(\w+),"unlocked":(\w+))"));
        const QRegularExpressionMatch match = fields.match(QString::fromUtf8(log.readAll()));
        return match.captured(1) + QLatin1Char(',') + match.captured(2);
    }

    std::optional<QPointF> savedPosition() const
    {
        return Settings(home + QStringLiteral("/Bopling/settings.json"))
            .savedPosition(Layout::corner, screenNumber(qApp->primaryScreen()->name()));
    }

    // How long after the pointer moves from `from`, where it rested, onto the
    // panel at `to` the panel starts to fade: the second slowest of five
    // arrivals, as a loaded machine may hold up one.
    qint64 fadeStartMs(QPoint from, QPoint to)
    {
        QProcess spy;
        spy.start(QStringLiteral("xprop"), {"-spy", "-id", window, "_NET_WM_WINDOW_OPACITY"});
        std::vector<qint64> delays;
        for (int arrival = 0; arrival < 5; ++arrival) {
            xdotool(QStringLiteral("mousemove %1").arg(at(from)));
            QTest::qWait(1500);
            spy.readAll();
            QElapsedTimer clock;
            clock.start();
            xdotool(QStringLiteral("mousemove_relative -- %1").arg(at(to - from)));
            // The opacity changes only once the fade starts; two seconds at most.
            (void)QTest::qWaitFor([&] { return spy.canReadLine(); }, 2000);
            delays.push_back(clock.elapsed());
        }
        xdotool(QStringLiteral("mousemove %1").arg(at(from)));
        std::sort(delays.begin(), delays.end());
        return delays[delays.size() - 2];
    }

    const QString home;
    QProcess process;
    QString window;
};

// Opens the tray menu (trayer shows the icon at the top left) and clicks the
// item whose title starts with `title`, where this process, with the same
// style, fonts and screen, lays out a menu of the same items.
void choose(const char *title)
{
    QMenu model;
    QAction *wanted = nullptr;
    StatusMenuState state;
    state.statusText = QStringLiteral("Test audio");
    for (const MenuItem &item : buildStatusMenu(state)) {
        QAction *action = item.separator ? model.addSeparator() : model.addAction(item.title);
        if (!wanted && !item.separator && item.title.startsWith(QLatin1String(title)))
            wanted = action;
    }
    model.popup({12, 12});
    const QPoint item = model.mapToGlobal(model.actionGeometry(wanted).center());
    model.close();
    xdotool(QStringLiteral("mousemove 12 12 click 1"));
    QTest::qWait(700);
    xdotool(QStringLiteral("mousemove %1 click 1").arg(at(item)));
}

// A drag with the left button from `from` by `by` in ten steps.
void dragBy(QPoint from, QPoint by)
{
    xdotool(QStringLiteral("mousemove %1 mousedown 1").arg(at(from)));
    for (int step = 1; step <= 10; ++step)
        xdotool(QStringLiteral("mousemove %1 sleep 0.02").arg(at(from + by * step / 10)));
    xdotool(QStringLiteral("mouseup 1"));
}

} // namespace

// Moving, fading and full-screen hiding of the panel in the real program
// under Xvfb and openbox with its default bindings (Alt + drag moves
// windows), trayer holding the menu.
class PanelMoveTest : public QObject
{
    Q_OBJECT

private:
    QProcess trayer;
    Below below;

    bool clickGoesThrough(QPoint point)
    {
        const int before = below.presses;
        xdotool(QStringLiteral("mousemove %1 click 1").arg(at(point)));
        QTest::qWait(150);
        return below.presses > before;
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X11 display (run under scripts/test-env)");
        trayer.start(QStringLiteral("trayer"),
                     {"--edge", "top", "--align", "left", "--widthtype", "request", "--height",
                      "24", "--SetDockType", "true", "--SetPartialStrut", "true"});
        QVERIFY2(trayer.waitForStarted(), "trayer is missing (scripts/install-deps)");
        below.setGeometry(200, 200, 1240, 700);
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below));
    }

    void cleanupTestCase()
    {
        // A failure between keydown and keyup would leave Alt held for the next test.
        xdotool(QStringLiteral("keyup alt"));
        trayer.kill();
        trayer.waitForFinished();
    }

    void unlockDragLockRestartAltGrabSnapFadeAndFullScreen()
    {
        QTemporaryDir home;
        auto bopling = std::make_unique<Program>(home.path());
        const QRect corner(784, 404, 640, 480);
        QVERIFY(QTest::qWaitFor([&] { return bopling->panel() == corner; }, 30000));
        QCOMPARE(bopling->nextState(), QStringLiteral("false,false"));
        QVERIFY(clickGoesThrough(corner.center()));

        // "Move...": the panel takes clicks, and a click on
        // it keeps it unlocked: a drag by (−200, +100), y upwards, is stored.
        choose("Move...");
        QCOMPARE(bopling->nextState(), QStringLiteral("true,true"));
        QVERIFY(!clickGoesThrough(corner.center()));
        dragBy(corner.center(), {-200, -100});
        QTRY_COMPARE(bopling->panel(), std::optional(QRect(584, 304, 640, 480)));
        QTRY_COMPARE(bopling->savedPosition(), std::optional(QPointF(584, 116)));

        // A tap on Escape, however short, locks it.
        const QPoint centre(904, 544);
        xdotool(QStringLiteral("keydown Escape sleep 0.01 keyup Escape"));
        QTRY_VERIFY_WITH_TIMEOUT(clickGoesThrough(centre), 1000);

        // A click on the tray icon opens the menu and leaves it unlocked; the
        // click elsewhere that closes the menu locks it.
        choose("Move...");
        QCOMPARE(bopling->nextState(), QStringLiteral("true,true"));
        xdotool(QStringLiteral("mousemove 12 12 click 1"));
        QCOMPARE(bopling->nextState(), QStringLiteral("true,true"));
        xdotool(QStringLiteral("mousemove 1300 300 click 1"));
        QTRY_VERIFY_WITH_TIMEOUT(clickGoesThrough(centre), 1000);

        // A restart puts it back there. The first one ends before: a start
        // while it runs would only open its menu.
        bopling.reset();
        bopling = std::make_unique<Program>(home.path());
        QVERIFY(
            QTest::qWaitFor([&] { return bopling->panel() == QRect(584, 304, 640, 480); }, 30000));

        // Alt with the pointer outside does nothing; over the panel it grabs,
        // and openbox's own Alt + drag moves it, which is stored as well.
        xdotool(QStringLiteral("mousemove 300 250 keydown alt"));
        QCOMPARE(bopling->nextState(), QStringLiteral("false,false"));
        moveTo(centre);
        QCOMPARE(bopling->nextState(), QStringLiteral("true,false"));
        // Left past the top edge, it comes back below the tray, as from a drag by hand.
        dragBy(centre, {50, -400});
        xdotool(QStringLiteral("keyup alt"));
        QTRY_COMPARE(bopling->panel(), std::optional(QRect(634, 24, 640, 480)));
        QTRY_COMPARE(bopling->savedPosition(), std::optional(QPointF(634, 396)));

        // Snapping returns it to its corner for good.
        choose("Snap");
        QTRY_COMPARE(bopling->panel(), std::optional(corner));
        QVERIFY(!bopling->savedPosition());

        // Let go of, it fades under the pointer (Qt hands the opacity over as
        // a fraction of 0xFFFFFFFF).
        moveTo({1000, 600});
        QTRY_COMPARE(bopling->opacity(), qRound64(0.12 * 0xFFFFFFFF));
        moveTo({300, 250});
        QTRY_COMPARE(bopling->opacity(), 0xFFFFFFFF);

        // Coming from a pointer at rest 784 px away, the fade starts within
        // a grab period or so (the bound leaves room for a loaded machine).
        const qint64 fadeStart = bopling->fadeStartMs({0, 0}, {1000, 600});
        QVERIFY2(fadeStart <= 150, QByteArray::number(fadeStart));

        // Without the fade, a pointer resting on the panel still notices Alt.
        choose("Fade on hover");
        moveTo({1000, 600});
        // The state line must not catch the check that has not seen Alt yet.
        xdotool(QStringLiteral("sleep 0.3 keydown alt sleep 0.2"));
        QCOMPARE(bopling->nextState(), QStringLiteral("true,false"));
        xdotool(QStringLiteral("keyup alt"));

        // The active window goes full screen: the panel leaves, and comes back
        // as it was when the window leaves full screen.
        below.showFullScreen();
        xdotool(QStringLiteral("windowactivate --sync %1").arg(below.winId()));
        QTRY_VERIFY_WITH_TIMEOUT(!bopling->panel(), 1500);
        below.showNormal();
        below.setGeometry(200, 200, 1240, 700);
        QTRY_COMPARE_WITH_TIMEOUT(bopling->panel(), std::optional(corner), 1500);
        QVERIFY(clickGoesThrough(corner.center()));

        // Again while one of Bopling's own windows is open (here, without Claude
        // Code, the message about its page): the panel steps down below it and
        // comes back as the same window, still on every desktop.
        const QString panel = bopling->window;
        const auto panelState = [&] {
            return run(QStringLiteral("xprop"), {"-id", panel, "_NET_WM_STATE", "_NET_WM_DESKTOP"});
        };
        choose("New creature from photo");
        QTRY_VERIFY_WITH_TIMEOUT(!panelState().contains("_NET_WM_STATE_ABOVE"), 5000);
        below.showFullScreen();
        xdotool(QStringLiteral("windowactivate --sync %1").arg(below.winId()));
        QTRY_VERIFY_WITH_TIMEOUT(
            run(QStringLiteral("xwininfo"), {"-id", panel}).contains("IsUnMapped"), 1500);
        below.showNormal();
        QTRY_VERIFY_WITH_TIMEOUT(panelState().contains("= 4294967295"), 1500);
        QVERIFY(panelState().contains("_NET_WM_STATE_SKIP_TASKBAR"));
    }
};

QTEST_MAIN(PanelMoveTest)
#include "tst_PanelMove.moc"
