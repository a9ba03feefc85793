#include "Desktop.h"
#include "support/FakeClaude.h"
#include "support/PrivatePulse.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <cstring>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace bopling;

namespace {

const QString kProgram = QStringLiteral(BOPLING_BINARY_DIR "/bopling");
const QString kDemoTrack = QStringLiteral(BOPLING_BINARY_DIR "/demo/bopling-demo.wav");
const QString kClient = QStringLiteral("Bopling");

// One line of the state log, with the page's statistics taken apart.
struct StateLine
{
    QString audio;
    bool hasPage = false; // the page answered the statistics call
    int ticks = 0;
    int events = 0;
    bool asleep = false;
    QString scene;
    bool unlocked = false;
};

// Bopling started as a user would, with a home of its own and the private
// sound server; its state log and output are kept for the checks.
class Program
{
public:
    Program(PrivatePulse &pulse, const QHash<QString, QString> &variables,
            const QByteArray &settingsJson = {})
    {
        QProcessEnvironment env = pulse.environment();
        for (const char *name : {"QX_DEBUG", "QX_TEST_AUDIO", "QX_LOG"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
        // The creature runner's folders, and its sweep, stay out of the shared /tmp.
        env.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
        QDir(home.path()).mkpath(QStringLiteral("tmp"));
        // Its own runtime folder: one Bopling runs per session, and each run
        // here is a session of its own.
        // It starts over the lock and socket a killed Bopling leaves behind.
        const QString runtime = home.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        files::write(runtime + QStringLiteral("/bopling.lock"), {});
        sockaddr_un stale{AF_UNIX, {}};
        std::strncpy(stale.sun_path, qPrintable(runtime + "/bopling.socket"),
                     sizeof stale.sun_path - 1);
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::bind(socket, reinterpret_cast<sockaddr *>(&stale), sizeof stale);
        ::close(socket);
        // A claude to find, so that the menu offers the creature window.
        fakeclaude::writeFile(home.filePath(".local/bin/claude"), "#!/bin/sh\n", true);
        // "@log" stands for the state log in this run's home.
        for (auto it = variables.begin(); it != variables.end(); ++it)
            env.insert(it.key(), it.value() == QLatin1String("@log") ? logPath() : it.value());
        // "@fifo" stands for a FIFO at the settings path.
        if (!settingsJson.isEmpty()) {
            QDir(home.path()).mkpath(QStringLiteral("config/Bopling"));
            QFile file(home.filePath(QStringLiteral("config/Bopling/settings.json")));
            if (settingsJson == "@fifo")
                ::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600);
            else if (file.open(QIODevice::WriteOnly))
                file.write(settingsJson);
        }
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(kProgram, {});
    }

    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QString logPath() const { return home.filePath(QStringLiteral("state.log")); }

    QList<StateLine> lines() const
    {
        QList<StateLine> result;
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray &text : file.readAll().split('\n')) {
            if (text.isEmpty())
                continue;
            const QJsonObject object = QJsonDocument::fromJson(text).object();
            const QJsonObject page = object["js"].toObject();
            StateLine line{
                object["audio"].toString(), !page.isEmpty(),          page["ticks"].toInt(),      0,
                page["asleep"].toBool(),    page["scene"].toString(), object["unlocked"].toBool()};
            for (const QJsonValue count : page["events"].toObject())
                line.events += count.toInt();
            result.append(line);
        }
        return result;
    }

    // Waits for a state log line written after the first `after` lines that
    // satisfies `accept`.
    template <typename Accept>
    std::optional<StateLine> waitForLine(int timeoutMs, Accept accept, qsizetype after = 0)
    {
        std::optional<StateLine> found;
        [[maybe_unused]] const bool done = QTest::qWaitFor(
            [&] {
                const QList<StateLine> all = lines();
                for (qsizetype i = after; i < all.size(); ++i) {
                    if (accept(all[i])) {
                        found = all[i];
                        return true;
                    }
                }
                return process.state() == QProcess::NotRunning;
            },
            timeoutMs);
        return found;
    }

    // Sends `signal` and waits for the exit; the milliseconds it took, or -1.
    qint64 stop(int signal, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(timeoutMs))
            return -1;
        return clock.elapsed();
    }

    QString output() { return QString::fromLocal8Bit(process.readAll()); }

    QTemporaryDir home;
    QProcess process;
};

// What the command prints.
QString run(const QString &program, const QStringList &arguments)
{
    return QString::fromLocal8Bit(desktop::run(program, arguments));
}

// What xdotool prints for these arguments.
QString xdotool(const QStringList &arguments)
{
    return run("xdotool", arguments);
}

// The visible windows of the program.
int boplingWindows()
{
    return int(xdotool({"search", "--onlyvisible", "--class", "bopling"})
                   .split(u'\n', Qt::SkipEmptyParts)
                   .size());
}

// Sends this input and waits for a menu of the program to open.
bool menuOpens(const QStringList &input)
{
    const int before = boplingWindows();
    xdotool(input);
    return QTest::qWaitFor([&] { return boplingWindows() > before; }, 5000);
}

// The first visible window with this name, waiting for one up to `ms`; or none.
QString windowId(const QString &name, int ms = 0)
{
    QString window;
    (void)QTest::qWaitFor(
        [&] {
            window = xdotool({"search", "--onlyvisible", "--name", name}).section(u'\n', 0, 0);
            return !window.isEmpty();
        },
        ms);
    return window;
}

// The window's own area on the screen, without the window manager's frame
// (xdotool counts the frame's offset twice).
QRect geometryOf(const QString &window)
{
    QMap<QString, int> geometry;
    for (const QString &line : run("xwininfo", {"-id", window}).split(u'\n'))
        geometry.insert(line.section(u':', 0, 0).trimmed(), line.section(u':', 1).toInt());
    return window.isEmpty()
               ? QRect()
               : QRect(geometry["Absolute upper-left X"], geometry["Absolute upper-left Y"],
                       geometry["Width"], geometry["Height"]);
}

// What xprop prints for this property of the window (or of the root window).
QString xprop(const QString &window, const QString &property)
{
    return run("xprop", window.isEmpty() ? QStringList{"-root", property}
                                         : QStringList{"-id", window, property});
}

// `upper` is stacked above `lower` by the window manager.
bool stackedAbove(const QString &upper, const QString &lower)
{
    const QString order = xprop({}, "_NET_CLIENT_LIST_STACKING");
    const auto at = [&](const QString &id) {
        return order.indexOf(
            QRegularExpression("0x0*" + QString::number(id.toULong(), 16) + "\\b"));
    };
    return at(lower) >= 0 && at(upper) > at(lower);
}

// A visible window of the program other than `panel` (its menu, say), or none.
QRect otherWindow(const QString &panel)
{
    for (const QString &window : xdotool({"search", "--onlyvisible", "--class", "bopling"})
                                     .split(u'\n', Qt::SkipEmptyParts)) {
        const QRect area = geometryOf(window);
        if (window != panel && area.width() > 8 && area.height() > 8)
            return area;
    }
    return {};
}

// xdotool's arguments that move the pointer to the centre of `area`.
QStringList pointAt(const QRect &area)
{
    return {"mousemove", QString::number(area.center().x()), QString::number(area.center().y())};
}

} // namespace

// The program end to end: Xvfb with openbox, a private PulseAudio, the real
// page in the light host.
class ProgramTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivatePulse> pulse;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X11 display (run under scripts/test-env)");
        QVERIFY2(QFile::exists(kProgram), qPrintable(kProgram));
        QVERIFY2(QFile::exists(kDemoTrack), qPrintable(kDemoTrack));
        pulse = std::make_unique<PrivatePulse>();
        QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
    }

    void listensReactsToMusicAndStopsCleanly()
    {
        Program bopling(*pulse, {{"QX_DEBUG", "1"}, {"QX_LOG", "@log"}});
        const auto fail = [&] { return qPrintable(bopling.output()); };

        // Up and listening, one recording stream on the server, the page answering.
        const auto listening = bopling.waitForLine(30000, [](const StateLine &line) {
            return line.hasPage && line.audio == QLatin1String("Listening to system audio");
        });
        QVERIFY2(listening, fail());
        QCOMPARE(pulse->countSourceOutputs(kClient), 1);
        // Xvfb's OpenGL is a software rasterizer, so the program loads none.
        QFile maps(QStringLiteral("/proc/%1/maps").arg(bopling.process.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QVERIFY2(!maps.readAll().contains("_dri.so"), "an OpenGL driver is loaded");

        // Music in the default sink: ticks with events reach the page.
        QProcess player; // as a music player would
        player.setProcessEnvironment(pulse->environment());
        player.start(QStringLiteral("paplay"), {kDemoTrack});
        QVERIFY(player.waitForStarted());
        const auto dancing = bopling.waitForLine(
            20000,
            [&](const StateLine &line) {
                return line.events >= listening->events + 5 && line.ticks > listening->ticks + 5 &&
                       !line.asleep && line.audio == QLatin1String("Listening to system audio");
            },
            bopling.lines().size());
        QVERIFY2(dancing, fail());
        player.kill();
        player.waitForFinished();

        // SIGTERM ends it through the way out: in time, with a normal exit,
        // without leaving its recording stream on the server, and with the
        // folders of interrupted creature runs removed.
        const QString leftover = bopling.home.filePath(
            "tmp/bopling-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        QVERIFY(QDir().mkpath(leftover + "/photo"));
        const qint64 took = bopling.stop(SIGTERM, 2000);
        QVERIFY2(took >= 0, "still running 2 s after SIGTERM");
        QCOMPARE(bopling.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bopling.process.exitCode(), 0);
        QCOMPARE(pulse->countSourceOutputs(kClient), 0);
        QVERIFY(!QFileInfo::exists(leftover));
        qInfo("SIGTERM to exit: %lld ms", took);
    }

    // The light host, without the web engine (the web host's run is the package test's).
    void pausedLaunchSendsOneSilentTick()
    {
        Program bopling(*pulse, {{"QX_DEBUG", "1"}, {"QX_LOG", "@log"}}, R"({"paused": true})");
        const auto fail = [&] { return qPrintable(bopling.output()); };
        const auto first = bopling.waitForLine(
            30000, [](const StateLine &line) { return line.hasPage && line.ticks > 0; });
        QVERIFY2(first, fail());
        QFile maps(QStringLiteral("/proc/%1/maps").arg(bopling.process.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QVERIFY(!maps.readAll().contains("libQt6WebEngineCore"));
        const qsizetype seen = bopling.lines().size();
        const auto next = bopling.waitForLine(
            10000, [](const StateLine &) { return true; }, seen + 1);
        QVERIFY2(next, fail());
        for (const StateLine &line : bopling.lines()) {
            QCOMPARE(line.audio, QStringLiteral("Paused"));
            if (line.hasPage) {
                QCOMPARE(line.ticks, 1);
                QCOMPARE(line.events, 0);
            }
        }
        QCOMPARE(pulse->countSourceOutputs(kClient), 0);
        QVERIFY(bopling.stop(SIGINT, 5000) >= 0);
        QCOMPARE(bopling.process.exitCode(), 0);
    }

    void testAudioNeedsDebugMode()
    {
        // Without debug mode the file is ignored (and so is the log): the
        // program listens to the system.
        Program normal(*pulse, {{"QX_TEST_AUDIO", kDemoTrack}, {"QX_LOG", "@log"}});
        QVERIFY2(QTest::qWaitFor([&] { return pulse->countSourceOutputs(kClient) == 1; }, 30000),
                 qPrintable(normal.output()));
        QTest::qWait(2500);
        QVERIFY(!QFile::exists(normal.logPath()));
        QVERIFY(normal.stop(SIGINT, 5000) >= 0);
        QCOMPARE(normal.process.exitCode(), 0);
        QCOMPARE(pulse->countSourceOutputs(kClient), 0);

        // In debug mode the file plays and the system is not recorded. A FIFO at the
        // settings path holds nothing up: the defaults are used and the terminal says why.
        Program debug(*pulse,
                      {{"QX_DEBUG", "1"}, {"QX_TEST_AUDIO", kDemoTrack}, {"QX_LOG", "@log"}},
                      "@fifo");
        const auto playing = debug.waitForLine(30000, [](const StateLine &line) {
            return line.hasPage && line.events > 0 && line.audio == QLatin1String("Test audio");
        });
        const QString output = debug.output();
        QVERIFY2(playing, qPrintable(output));
        QVERIFY2(output.contains("was damaged (it is not a regular file)"), qPrintable(output));
        QCOMPARE(pulse->countSourceOutputs(kClient), 0);
        QVERIFY(debug.stop(SIGTERM, 5000) >= 0);
    }

    // A sound server that takes the connection and never answers holds the capture's build:
    // SIGTERM still ends the program promptly and normally.
    void exitsPromptlyWhileTheSoundServerHangs()
    {
        QTemporaryDir dir;
        const QByteArray path = dir.filePath(QStringLiteral("hanging")).toLocal8Bit();
        const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{AF_UNIX, {}};
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        QVERIFY(::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                ::listen(server, 8) == 0);
        Program bopling(*pulse, {{"PULSE_SERVER", QString::fromLocal8Bit("unix:" + path)}});
        pollfd connection{server, POLLIN, 0};
        QVERIFY(QTest::qWaitFor([&] { return ::poll(&connection, 1, 0) == 1; }, 30000));
        const qint64 took = bopling.stop(SIGTERM, 2500);
        ::close(server);
        QVERIFY2(took >= 0, "still running 2.5 s after SIGTERM");
        QCOMPARE(bopling.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bopling.process.exitCode(), 0);
        qInfo("SIGTERM to exit with a hanging sound server: %lld ms", took);
    }

    // The real menu: without a tray the program says where the menu will
    // be; trayer starts later, the icon docks, a click opens the menu and
    // the keyboard chooses "Walk", which reaches the settings file and the page.
    void menuOpensFromALateTray()
    {
        for (const char *tool : {"trayer", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("needs trayer and xdotool (scripts/install-deps)");
        }
        Program bopling(*pulse,
                        {{"QX_DEBUG", "1"}, {"QX_TEST_AUDIO", kDemoTrack}, {"QX_LOG", "@log"}});
        const auto ready = bopling.waitForLine(
            30000, [](const StateLine &line) { return line.hasPage && line.ticks > 0; });
        const QString output = bopling.output();
        QVERIFY2(ready, qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("the menu appears in the tray once one runs")),
                 qPrintable(output));

        QProcess trayer;
        trayer.start(QStringLiteral("trayer"),
                     {"--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                      "32", "--SetDockType", "true", "--transparent", "false"});
        // The tray's window grows from 2 points wide once the icon docks, so
        // its centre is the icon's.
        QRect tray;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         tray = geometryOf(windowId(QStringLiteral("^panel$")));
                         return tray.width() > 8;
                     },
                     15000),
                 "the icon did not dock in trayer");
        const QStringList icon = pointAt(tray);
        QVERIFY2(menuOpens(icon + QStringList{"click", "1"}), "no menu opened");
        // The status line is disabled: the first two enabled rows are the scenes.
        xdotool({"key", "Down", "Down", "Return"});
        const auto walking = bopling.waitForLine(
            10000, [](const StateLine &line) { return line.scene == QLatin1String("walk"); });
        QVERIFY2(walking, qPrintable(bopling.output()));
        QFile settings(bopling.home.filePath(QStringLiteral("config/Bopling/settings.json")));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(settings.readAll())["scene"].toString(),
                 QStringLiteral("walk"));

        // "Move..." (fourth from the bottom) unlocks the panel, and a
        // right-click on it opens the same menu at the pointer.
        QVERIFY(menuOpens(icon + QStringList{"click", "1"}));
        xdotool({"key", "Up", "Up", "Up", "Up", "Return"});
        QVERIFY2(bopling.waitForLine(10000, [](const StateLine &line) { return line.unlocked; }),
                 "the panel was not unlocked");
        QVERIFY2(menuOpens(pointAt(geometryOf(windowId(QStringLiteral("^Bopling$")))) +
                           QStringList{"click", "3"}),
                 "no menu on the panel");
        const qsizetype seen = bopling.lines().size();
        xdotool({"key", "Down", "Return"});
        QVERIFY2(bopling.waitForLine(
                     10000, [](const StateLine &line) { return line.scene == "campfire"; }, seen),
                 qPrintable(bopling.output()));
        QVERIFY(bopling.stop(SIGTERM, 5000) >= 0);
        trayer.kill();
        trayer.waitForFinished();
    }

    // Started again, Bopling hands over to the running one, which opens its
    // menu beside its panel. The creature window opened from it, and its
    // file chooser, show above the panel.
    void secondStartOpensTheMenuAndOwnWindowsStayInView()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs xdotool (scripts/install-deps)");
        Program bopling(*pulse,
                        {{"QX_DEBUG", "1"}, {"QX_TEST_AUDIO", kDemoTrack}, {"QX_LOG", "@log"}});
        QVERIFY2(bopling.waitForLine(
                     30000, [](const StateLine &line) { return line.hasPage && line.ticks > 0; }),
                 qPrintable(bopling.output()));
        const QString panel = windowId(QStringLiteral("^Bopling$"));
        const QRect panelArea = geometryOf(panel);
        // Far from the panel, where a menu opened at the pointer would show.
        xdotool({"mousemove", "5", "5"});

        QProcess again;
        again.setProcessEnvironment(bopling.process.processEnvironment());
        again.start(kProgram, {});
        QVERIFY(again.waitForFinished(10000) && again.exitStatus() == QProcess::NormalExit);
        QCOMPARE(again.exitCode(), 0);
        QRect menu;
        QVERIFY(QTest::qWaitFor([&] { return (menu = otherWindow(panel)).isValid(); }, 5000));
        QVERIFY(menu.adjusted(-1, -1, 1, 1).intersects(panelArea) && !menu.intersects(panelArea));

        // The tenth enabled row: "New creature from photo…".
        xdotool({"key", "Down", "Down", "Down", "Down", "Down", "Down", "Down", "Down", "Down", "Down",
                 "Return"});
        const QString window = windowId(QStringLiteral("^New creature from photo$"), 5000);
        QVERIFY2(!window.isEmpty(), "no creature window");
        QVERIFY(QTest::qWaitFor([&] { return stackedAbove(window, panel); }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return xdotool({"getactivewindow"}).trimmed() == window; },
                                5000));
        // "Choose photo…" has the focus; the chooser takes a typed path.
        xdotool({"key", "space"});
        const QString chooser = windowId(QStringLiteral("^Pick a photo"), 5000);
        QVERIFY2(!chooser.isEmpty(), "no file chooser");
        QVERIFY(QTest::qWaitFor([&] { return stackedAbove(chooser, panel); }, 5000));
        xdotool({"key", "Escape"});
        QVERIFY(QTest::qWaitFor([&] { return windowId("^Pick a photo").isEmpty(); }, 5000));

        // Closed, the panel floats again.
        xdotool({"key", "alt+F4"});
        QVERIFY(QTest::qWaitFor(
            [&] { return xprop(panel, "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"); }, 5000));
        QVERIFY(bopling.stop(SIGTERM, 5000) >= 0);
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "tst_Program.moc"
