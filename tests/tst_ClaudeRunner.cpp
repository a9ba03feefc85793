// The Claude runner against fake `claude` programs written by the tests: what
// the CLI is given, how its answers and failures read, the time limit, stale
// runs, and that no process or temporary folder outlives a run.

#include "creatures/ClaudeRunner.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/Move.h"
#include "support/CreatureSamples.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bopling;
using namespace std::chrono_literals;

namespace {

const QString kNotSignedIn = QStringLiteral(
    "Claude Code is not signed in. Open a terminal, run claude once, sign in, then try again.");
const QString kBusy = QStringLiteral("Claude is busy or you hit a usage limit. Try again in a bit.");
const QString kTooLong =
    QStringLiteral("Claude took longer than 4 minutes, so I stopped it. Try again.");

// The fake CLI: notes what it was given in $FAKE_DIR, runs the row's extra
// lines, then prints $FAKE_DIR/out and $FAKE_DIR/err.
const QByteArray kRecordingClaude = R"(#!/bin/bash
echo $$ > "$FAKE_DIR/pid"
printf '%s\0' "$@" > "$FAKE_DIR/args"
pwd > "$FAKE_DIR/cwd"
printf '%s' "$PATH" > "$FAKE_DIR/path"
readlink /proc/self/fd/0 > "$FAKE_DIR/stdin"
stat -c %a . photo.jpg > "$FAKE_DIR/modes"
cp photo.jpg "$FAKE_DIR/photo.jpg"
)";
const QByteArray kAnswer = R"(
cat "$FAKE_DIR/out" 2>/dev/null
cat "$FAKE_DIR/err" >&2 2>/dev/null
)";
// Sleeps past any limit of these tests, noting the sleeper.
const QByteArray kSleep = "sleep 60 & echo $! > \"$FAKE_DIR/sleeper\"; wait\n";

QByteArray png(int width, int height, bool transparentLeft)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(200, 0, 0));
    for (int y = 0; transparentLeft && y < height; ++y)
        for (int x = 0; x < width / 2; ++x)
            image.setPixel(x, y, 0);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray answer(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray prose(const Creature &creature)
{
    return answer({{"result", "Here you go: " + QString::fromUtf8(creature.encode())}});
}

QByteArray toolError(const QString &result)
{
    return answer({{"is_error", true}, {"result", result}});
}

// Neither running nor waiting to be reaped by us.
bool gone(const QString &pidFile)
{
    QFile file(pidFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const pid_t pid = file.readAll().trimmed().toInt();
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    // A grandchild handed to init may linger as a zombie until init reaps it;
    // a zombie of our own would be a child nobody reaped.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 && fields[0] == "Z" && fields[1].toInt() != ::getpid();
}

} // namespace

class TestClaudeRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString fake;

    QString at(const QString &relative) const { return root.filePath(relative); }

    void write(const QString &path, const QByteArray &bytes, bool executable = false)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        if (executable)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }

    QStringList leftovers() const
    {
        return QDir(at("tmp")).entryList({"bopling-*"}, QDir::AllEntries | QDir::Hidden);
    }

    QString recorded(const QString &name) const
    {
        QFile file(fake + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // run() and the outcome it delivers on this thread.
    ClaudeRunner::Outcome runAndWait(ClaudeRunner &runner, const QByteArray &photo,
                                     const QString &note, const QString &model)
    {
        std::optional<ClaudeRunner::Outcome> outcome;
        bool onMainThread = false;
        runner.run(photo, note, model, [&](const ClaudeRunner::Outcome &delivered) {
            outcome = delivered;
            onMainThread = QThread::currentThread() == thread();
        });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 30000); }();
        [&] { QVERIFY(onMainThread); }();
        return outcome.value_or(ClaudeRunner::Outcome{});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        fake = at("fake");
        for (const char *dir : {"bin", "home", "tmp", "fake"})
            QVERIFY(QDir().mkpath(at(dir)));
        // Runs and the sweep use this folder, never the shared /tmp.
        qputenv("TMPDIR", at("tmp").toLocal8Bit());
        qputenv("HOME", at("home").toLocal8Bit());
        qputenv("FAKE_DIR", fake.toLocal8Bit());
        qputenv("PATH", (at("bin") + ":/usr/bin:/bin").toLocal8Bit());
        for (const char *installed : {"/usr/local/bin/claude", "/opt/homebrew/bin/claude"}) {
            if (QFileInfo::exists(installed))
                QSKIP("a real claude is installed on this machine");
        }
    }

    void init()
    {
        QDir(fake).removeRecursively();
        QDir().mkpath(fake);
        QFile::remove(at("bin/claude"));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("extra"); // lines the fake runs before answering
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("limit"); // ms
        QTest::addColumn<QString>("message"); // empty: the sample creature
        const auto row = [](const char *name, const QByteArray &out, const QByteArray &err,
                            const QString &message, const QByteArray &extra = {},
                            const QString &model = "sonnet", int limit = 20000) {
            QTest::newRow(name) << extra << out << err << model << limit << message;
        };
        const Creature rex = samples::creature();
        Creature noSleep = rex;
        noSleep.frames.remove("sleep");
        const QString e350(350, u'e');
        const QByteArray megabyte = "head -c 1048576 /dev/zero | tr '\\0' ' '\n"
                                    "head -c 1048576 /dev/zero | tr '\\0' x >&2\n";

        row("creature in prose", prose(rex), "", {});
        row("is_error false", answer({{"is_error", false}, {"result", "Hi " + QString::fromUtf8(rex.encode())}}), "",
            {});
        row("is_error not a boolean", answer({{"is_error", "true"}, {"result", QString::fromUtf8(rex.encode())}}),
            "", {});
        row("a megabyte on both pipes", prose(rex), "", {}, megabyte);
        row("invalid API key", toolError("Invalid API key · Please run /login"), "", kNotSignedIn);
        row("overloaded", toolError("Overloaded"), "", kBusy);
        row("sign-in reported before a limit", toolError("Rate limit; 401"), "", kNotSignedIn);
        row("other tool error", toolError("boom"), "", "Claude Code reported an error: boom");
        row("long tool error", toolError(e350), "",
            "Claude Code reported an error: " + e350.left(300));
        row("401 on standard error", "oops", "Error: 401 Unauthorized\n", kNotSignedIn);
        row("no JSON, tail of standard error", "oops", "A" + e350.toUtf8(),
            "Claude Code did not answer. " + e350.left(300));
        row("no JSON, empty standard error", "B" + e350.toUtf8(), "",
            "Claude Code did not answer. " + e350.left(300));
        row("standard error not UTF-8", "usage limit reached", "\xff\xfe", kBusy);
        row("JSON but no object", "[1]", "", "Claude Code did not answer. [1]");
        row("reply without a creature", answer({{"result", "no idea"}}), "",
            "Claude's reply did not contain a creature.");
        row("creature refused by the check", prose(noSleep), "",
            "The creature is missing the \"sleep\" frame.");
        row("time limit, Best quality", "", "",
            "Claude took longer than 4 minutes, so I stopped it. Try again, or pick the faster "
            "Standard quality.",
            kSleep, "opus", 1000);
        row("time limit, Standard quality", "", "", kTooLong, kSleep, "sonnet", 1000);
        row("time limit, SIGTERM ignored", "", "", kTooLong, "trap '' TERM\n" + kSleep, "sonnet",
            1000);
    }
    void answers()
    {
        QFETCH(QByteArray, extra);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QString, model);
        QFETCH(int, limit);
        QFETCH(QString, message);
        write(at("bin/claude"), kRecordingClaude + extra + kAnswer, true);
        write(fake + "/out", out);
        write(fake + "/err", err);

        ClaudeRunner runner{std::chrono::milliseconds(limit), 500ms};
        const ClaudeRunner::Outcome outcome = runAndWait(runner, png(40, 30, false), "", model);
        QCOMPARE(outcome.message, message);
        if (message.isEmpty())
            QCOMPARE(outcome.creature.value_or(Creature()), samples::creature().validated());
        QVERIFY(!outcome.creature || message.isEmpty());
        QCOMPARE(leftovers(), QStringList());
        QVERIFY(gone(fake + "/pid"));
        if (!extra.isEmpty() && extra.contains("sleep"))
            QTRY_VERIFY_WITH_TIMEOUT(gone(fake + "/sleeper"), 5000);
    }

    void givesTheCliPhotoPromptAndArguments_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("noteLine");
        QTest::newRow("no note") << "" << "";
        QTest::newRow("blank note") << " \t\n " << "";
        QTest::newRow("note") << "  bigger ears\n"
                              << "The user asks for these changes to the creature: bigger ears";
    }
    void givesTheCliPhotoPromptAndArguments()
    {
        QFETCH(QString, note);
        QFETCH(QString, noteLine);
        write(at("bin/claude"), kRecordingClaude + kAnswer, true);
        write(fake + "/out", prose(samples::creature()));
        ClaudeRunner runner;
        QVERIFY(runAndWait(runner, png(4000, 1000, true), note, "opus").creature);

        QStringList args = recorded("args").split(QChar(0));
        QCOMPARE(args.takeLast(), QString());
        QCOMPARE(args.size(), 15);
        const QString prompt = args[1];
        args[1] = "PROMPT";
        QCOMPARE(args, (QStringList{"-p", "PROMPT", "--output-format", "json", "--model", "opus",
                                    "--tools", "Read", "--no-session-persistence",
                                    "--setting-sources", "project", "--strict-mcp-config",
                                    "--disable-slash-commands", "--system-prompt",
                                    "You design small pixel-art game sprites from photos. Reply "
                                    "with exactly one JSON object and nothing else."}));

        // The template's placeholder lines, filled.
        QFile templateFile(QStringLiteral(BOPLING_SOURCE_DIR "/resources/web/creatures/prompt.txt"));
        QVERIFY(templateFile.open(QIODevice::ReadOnly));
        const QStringList templateLines = QString::fromUtf8(templateFile.readAll()).split('\n');
        const QStringList lines = prompt.split('\n');
        QCOMPARE(lines.size(), templateLines.size());
        QVERIFY(!prompt.contains("{{"));
        QVERIFY(prompt.contains("./photo.jpg"));
        const Creature example = Creature::decode(lines[templateLines.indexOf("{{EXAMPLE}}")].toUtf8());
        const Creature tobble = CreatureLibrary().builtIn().value();
        QCOMPARE(example.name, tobble.name);
        QCOMPARE(example.palette, tobble.palette);
        QStringList required = requiredFrames();
        required.sort();
        QCOMPARE(example.frames.keys(), required);
        QCOMPARE(example.attacks, (QStringList{"pounce", "zoomies", "blast"}));
        QCOMPARE(example.sound.value_or(QString()), QString("WOOF!"));
        QCOMPARE(lines[templateLines.indexOf("{{NOTE}}")], noteLine);

        // Where and how it ran.
        QVERIFY(QRegularExpression("^" + QRegularExpression::escape(QDir(at("tmp")).canonicalPath()) +
                                   "/bopling-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\n$")
                    .match(recorded("cwd"))
                    .hasMatch());
        QCOMPARE(recorded("modes"), QString("700\n600\n"));
        QCOMPARE(recorded("stdin"), QString("/dev/null\n"));
        QCOMPARE(recorded("path"), at("home") + "/.local/bin:/opt/homebrew/bin:/usr/local/bin:"
                                                "/usr/bin:/bin:" + at("bin") + ":/usr/bin:/bin");

        // The photo: JPEG, 1568 wide, the transparent half white.
        QImageReader reader(fake + "/photo.jpg");
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage sent = reader.read();
        QCOMPARE(sent.size(), QSize(1568, 392));
        QVERIFY(qGray(sent.pixel(100, 200)) > 245);
        QVERIFY(qRed(sent.pixel(1400, 200)) > 180 && qGreen(sent.pixel(1400, 200)) < 40);
    }

    void failsBeforeStarting_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QByteArray>("photo");
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("message");
        const QByteArray picture = png(20, 20, false);
        QTest::newRow("no CLI") << false << picture << qint64(0)
                                << "Claude Code was not found on this computer. Install it and "
                                   "sign in, then try again.";
        QTest::newRow("not a picture") << true << QByteArray("GIF89a nonsense") << qint64(0)
                                       << "That file could not be read as a picture.";
        QTest::newRow("stale run") << true << picture << qint64(7) << "Cancelled.";
    }
    void failsBeforeStarting()
    {
        QFETCH(bool, installed);
        QFETCH(QByteArray, photo);
        QFETCH(qint64, id);
        QFETCH(QString, message);
        if (installed)
            write(at("bin/claude"), kRecordingClaude + kAnswer, true);
        ClaudeRunner runner;
        QCOMPARE(samples::messageOf<ClaudeRunner::Failure>(
                     [&] { runner.runSync(id, photo, QString(), "sonnet"); }),
                 message);
        QVERIFY(!QFile::exists(fake + "/pid"));
        QCOMPARE(leftovers(), QStringList());
    }

    // The first run's process is asked to stop and only the second run delivers.
    void onlyTheNewestRunDelivers()
    {
        write(at("bin/claude"), kRecordingClaude + "[ -e \"$FAKE_DIR/first\" ] || { touch \"$FAKE_DIR/first\"; " + kSleep + "}\n" + kAnswer, true);
        write(fake + "/out", prose(samples::creature()));
        auto runner = std::make_unique<ClaudeRunner>();
        int calls = 0;
        runner->run(png(20, 20, false), "", "sonnet", [&](const ClaudeRunner::Outcome &) { ++calls; });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + "/sleeper"), 10000);
        const QString firstPid = fake + "/first-pid";
        QFile::copy(fake + "/pid", firstPid);
        const ClaudeRunner::Outcome second = runAndWait(*runner, png(20, 20, false), "", "sonnet");
        QVERIFY(second.creature);
        QTRY_VERIFY_WITH_TIMEOUT(gone(firstPid), 5000);
        runner.reset(); // waits for both runs' threads
        QCoreApplication::processEvents();
        QCOMPARE(calls, 0);
        QCOMPARE(leftovers(), QStringList());
    }

    // The way out: a process that ignores SIGTERM is killed after the grace
    // period, nothing is delivered, nothing is left.
    void cancelEndsTheRun()
    {
        write(at("bin/claude"), kRecordingClaude + "trap '' TERM\n" + kSleep + kAnswer, true);
        ClaudeRunner runner{20s, 500ms};
        bool delivered = false;
        runner.run(png(20, 20, false), "", "sonnet",
                   [&](const ClaudeRunner::Outcome &) { delivered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + "/sleeper"), 10000);
        ClaudeRunner::cancelAll();
        QTRY_VERIFY_WITH_TIMEOUT(gone(fake + "/pid") && gone(fake + "/sleeper"), 5000);
        QTRY_COMPARE(leftovers(), QStringList());
        QTest::qWait(200);
        QVERIFY(!delivered);
    }

    void findsClaudeInOrder_data()
    {
        QTest::addColumn<QStringList>("files"); // "x:" executable, "f:" plain file, "d:" folder
        QTest::addColumn<QString>("expected");
        QTest::newRow("PATH") << QStringList{"x:bin/claude"} << "bin/claude";
        QTest::newRow("bun before PATH") << QStringList{"x:bin/claude", "x:home/.bun/bin/claude"}
                                         << "home/.bun/bin/claude";
        QTest::newRow("npm before bun")
            << QStringList{"x:home/.bun/bin/claude", "x:home/.npm-global/bin/claude"}
            << "home/.npm-global/bin/claude";
        QTest::newRow(".claude/local before npm")
            << QStringList{"x:home/.npm-global/bin/claude", "x:home/.claude/local/claude"}
            << "home/.claude/local/claude";
        QTest::newRow(".local/bin first")
            << QStringList{"x:home/.claude/local/claude", "x:home/.local/bin/claude"}
            << "home/.local/bin/claude";
        QTest::newRow("not executable, folder skipped")
            << QStringList{"f:home/.local/bin/claude", "d:home/.claude/local/claude",
                           "x:home/.bun/bin/claude"}
            << "home/.bun/bin/claude";
    }
    void findsClaudeInOrder()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        for (const QString &file : files) {
            if (file.startsWith("d:"))
                QVERIFY(QDir().mkpath(at(file.mid(2))));
            else
                write(at(file.mid(2)), "#!/bin/sh\n", file.startsWith("x:"));
        }
        QCOMPARE(ClaudeRunner::findClaude(), std::optional(at(expected)));
        QDir(at("home")).removeRecursively();
        QDir().mkpath(at("home"));
    }

    // The login shell's set-up is the last resort: a greeting before the path
    // does not matter, a hanging set-up is stopped.
    void asksTheLoginShell_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<bool>("found");
        QTest::newRow("greeting, then the path") << QByteArray(
            "echo 'Welcome back!'\nPATH=\"$HOME/hidden:$PATH\"\n") << true;
        QTest::newRow("hangs, ignoring SIGTERM") << QByteArray("trap '' TERM\nsleep 60\n") << false;
    }
    void asksTheLoginShell()
    {
        QFETCH(QByteArray, profile);
        QFETCH(bool, found);
        const struct passwd *account = ::getpwuid(::getuid());
        const QString shell = QFileInfo(account && *account->pw_shell
                                            ? QString(account->pw_shell)
                                            : qEnvironmentVariable("SHELL", "/bin/sh"))
                                  .fileName();
        if (!QStringList{"bash", "sh", "dash", "zsh"}.contains(shell))
            QSKIP("the login shell's set-up files are unknown to this test");
        for (const char *file : {"home/.profile", "home/.bash_profile", "home/.zprofile"})
            write(at(file), profile);
        write(at("home/hidden/claude"), "#!/bin/sh\n", true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ClaudeRunner::findClaude(),
                 found ? std::optional(at("home/hidden/claude")) : std::nullopt);
        QVERIFY(clock.elapsed() < 20000);
        QDir(at("home")).removeRecursively();
        QDir().mkpath(at("home"));
    }

    // The lookup for the menu runs once per process: a CLI removed later is
    // still what the cache says.
    void looksUpClaudeOnce()
    {
        write(at("bin/claude"), "#!/bin/sh\n", true);
        QVERIFY(!ClaudeRunner::cachedClaudePath());
        ClaudeRunner::lookUpClaude();
        QTRY_VERIFY(ClaudeRunner::cachedClaudePath() == at("bin/claude"));
        QFile::remove(at("bin/claude"));
        ClaudeRunner::lookUpClaude();
        QVERIFY(!QTest::qWaitFor([] { return !ClaudeRunner::cachedClaudePath(); }, 2000));
    }

    void sweepsOnlyItsOwnEntries()
    {
        const auto name = [] {
            return "bopling-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        };
        const QString tmp = at("tmp") + '/';
        const QString ownFolder = tmp + name(), ownFile = tmp + name(), link = tmp + name();
        const QString othersFolder = tmp + name(), notOurs = tmp + "bopling-notes";
        write(ownFolder + "/photo.jpg", "x");
        write(ownFile, "x");
        write(at("outside/keep"), "x");
        QVERIFY(QFile::link(at("outside"), link));
        write(othersFolder + "/photo.jpg", "x");
        write(notOurs + "/keep", "x");
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(QFile::encodeName(othersFolder).constData(), 65534, 65534), 0);

        ClaudeRunner::sweepTemporaryFolders();
        QStringList expected = {QFileInfo(notOurs).fileName()};
        if (root)
            expected.append(QFileInfo(othersFolder).fileName());
        expected.sort();
        QCOMPARE(leftovers(), expected);
        QVERIFY(QFile::exists(at("outside/keep")));
        QDir(othersFolder).removeRecursively();
        QDir(notOurs).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestClaudeRunner)
#include "tst_ClaudeRunner.moc"
