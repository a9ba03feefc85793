// The Claude runner against fake `claude` programs written by the tests: what
// the CLI is given, how its answers and failures read, the time limit, stale
// runs, and that no process or temporary folder outlives a run.

#include "creatures/ClaudeRunner.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/Move.h"
#include "support/CreatureSamples.h"
#include "support/FakeClaude.h"

#include <QElapsedTimer>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <pwd.h>
#include <sys/stat.h>

using namespace bopling;
using namespace bopling::fakeclaude;
using namespace std::chrono_literals;

namespace {

const QString kNotSignedIn = QStringLiteral(
    "Claude Code is not signed in. Open a terminal, run claude once, sign in, then try again.");
const QString kTooLong =
    QStringLiteral("Claude took longer than 4 minutes, so I stopped it. Try again.");

// The fake CLI notes what it was given in $FAKE_DIR, runs the row's extra
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
const QByteArray kAnswer = "cat \"$FAKE_DIR/out\" 2>/dev/null\ncat \"$FAKE_DIR/err\" >&2\n";
// Sleeps past any limit of these tests, noting the sleeper.
const QByteArray kSleep = "sleep 60 & echo $! > \"$FAKE_DIR/sleeper\"; wait\n";

QByteArray toolError(const QString &result)
{
    return answer({{"is_error", true}, {"result", result}});
}

} // namespace

class TestClaudeRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString fake;

    QString at(const QString &relative) const { return root.filePath(relative); }

    void installClaude(const QByteArray &script) { QVERIFY(writeFile(at("bin/claude"), script, true)); }

    QStringList leftovers() const
    {
        return QDir(at("tmp")).entryList({"bopling-*"}, QDir::AllEntries | QDir::Hidden);
    }

    QString recorded(const QString &name) const
    {
        QFile file(fake + '/' + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // run() and the outcome it delivers on this thread.
    ClaudeRunner::Outcome runAndWait(ClaudeRunner &runner, const QByteArray &photo,
                                     const QString &note, const QString &model)
    {
        std::optional<ClaudeRunner::Outcome> outcome;
        runner.run(photo, note, model, [&](const ClaudeRunner::Outcome &delivered) {
            if (QThread::currentThread() == thread())
                outcome = delivered;
        });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 30000); }();
        return outcome.value_or(ClaudeRunner::Outcome{});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        fake = at("fake");
        // Runs and the sweep use a folder of their own, never the shared /tmp.
        QVERIFY(QDir().mkpath(at("tmp")));
        qputenv("TMPDIR", at("tmp").toLocal8Bit());
        qputenv("HOME", at("home").toLocal8Bit());
        qputenv("FAKE_DIR", fake.toLocal8Bit());
        qputenv("PATH", (at("bin") + ":/usr/bin:/bin").toLocal8Bit());
        if (QFileInfo::exists("/usr/local/bin/claude") || QFileInfo::exists("/opt/homebrew/bin/claude"))
            QSKIP("a real claude is installed on this machine");
    }

    void init()
    {
        QDir(fake).removeRecursively();
        QDir().mkpath(fake);
        QFile::remove(at("bin/claude"));
        QDir(at("home")).removeRecursively();
        QDir().mkpath(at("home"));
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
        Creature noSleep = samples::creature();
        noSleep.frames.remove("sleep");
        const QString e350(350, u'e');
        const QString tail = e350.left(300);

        row("creature in prose", prose(samples::creature()), "", {});
        row("is_error not a boolean",
            answer({{"is_error", "true"}, {"result", QString::fromUtf8(samples::creature().encode())}}),
            "", {});
        row("a megabyte on both pipes", prose(samples::creature()), "", {},
            "head -c 1048576 /dev/zero | tr '\\0' ' '\nhead -c 1048576 /dev/zero | tr '\\0' x >&2\n");
        row("invalid API key", toolError("Invalid API key · Please run /login"), "", kNotSignedIn);
        row("overloaded", toolError("Overloaded"), "",
            "Claude is busy or you hit a usage limit. Try again in a bit.");
        row("sign-in before limit", toolError("Rate limit; 401"), "", kNotSignedIn);
        row("other tool error", toolError(e350), "", "Claude Code reported an error: " + tail);
        row("401 on standard error", "oops", "Error: 401 Unauthorized\n", kNotSignedIn);
        row("no JSON, error tail", "oops", "A" + e350.toUtf8(), "Claude Code did not answer. " + tail);
        row("no JSON, output tail", "B" + e350.toUtf8(), "\xff\xfe", "Claude Code did not answer. " + tail);
        row("reply without a creature", answer({{"result", "no idea"}}), "",
            "Claude's reply did not contain a creature.");
        row("creature refused", prose(noSleep), "", "The creature is missing the \"sleep\" frame.");
        row("time limit, Best quality", "", "",
            "Claude took longer than 4 minutes, so I stopped it. Try again, or pick the faster "
            "Standard quality.", kSleep, "opus", 1000);
        row("time limit, Standard quality", "", "", kTooLong, kSleep, "sonnet", 1000);
        row("time limit, SIGTERM ignored", "", "", kTooLong, "trap '' TERM\n" + kSleep, "sonnet", 1000);
    }
    void answers()
    {
        QFETCH(QByteArray, extra);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QString, model);
        QFETCH(int, limit);
        QFETCH(QString, message);
        installClaude(kRecordingClaude + extra + kAnswer);
        QVERIFY(writeFile(fake + "/out", out) && writeFile(fake + "/err", err));

        ClaudeRunner runner{std::chrono::milliseconds(limit), 500ms};
        const ClaudeRunner::Outcome outcome = runAndWait(runner, png(40, 30), "", model);
        QCOMPARE(outcome.message, message);
        QCOMPARE(outcome.creature.has_value(), message.isEmpty());
        if (outcome.creature)
            QCOMPARE(*outcome.creature, samples::creature().validated());
        QCOMPARE(leftovers(), QStringList());
        QVERIFY(gone(fake + "/pid"));
        if (extra.contains("sleep"))
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
        installClaude(kRecordingClaude + kAnswer);
        QVERIFY(writeFile(fake + "/out", prose(samples::creature())));
        ClaudeRunner runner;
        QVERIFY(runAndWait(runner, png(4000, 1000, true), note, "opus").creature);

        QStringList args = recorded("args").split(QChar(0));
        QCOMPARE(args.size(), 16); // the last one is empty
        const QString prompt = args[1];
        QCOMPARE(args.mid(2, 13),
                 (QStringList{"--output-format", "json", "--model", "opus", "--tools", "Read",
                              "--no-session-persistence", "--setting-sources", "project",
                              "--strict-mcp-config", "--disable-slash-commands", "--system-prompt",
                              "You design small pixel-art game sprites from photos. Reply with "
                              "exactly one JSON object and nothing else."}));
        QCOMPARE(args[0], "-p");

        // The template's placeholder lines, filled.
        QFile templateFile(BOPLING_SOURCE_DIR "/resources/web/creatures/prompt.txt");
        QVERIFY(templateFile.open(QIODevice::ReadOnly));
        const QStringList templateLines = QString::fromUtf8(templateFile.readAll()).split('\n');
        const QStringList lines = prompt.split('\n');
        QCOMPARE(lines.size(), templateLines.size());
        QVERIFY(!prompt.contains("{{") && prompt.contains("./photo.jpg"));
        const Creature example =
            Creature::decode(lines[templateLines.indexOf("{{EXAMPLE}}")].toUtf8());
        const Creature tobble = CreatureLibrary().builtIn().value();
        QCOMPARE(example.name + example.palette.value("b"), tobble.name + tobble.palette.value("b"));
        QStringList required = requiredFrames();
        required.sort();
        QCOMPARE(example.frames.keys(), required);
        QCOMPARE(example.attacks, (QStringList{"pounce", "zoomies", "blast"}));
        QCOMPARE(example.sound.value_or(""), "WOOF!");
        QCOMPARE(lines[templateLines.indexOf("{{NOTE}}")], noteLine);

        // Where and how it ran.
        const QString folder = QDir(at("tmp")).canonicalPath() + "/bopling-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\n";
        QVERIFY(QRegularExpression(QRegularExpression::anchoredPattern(folder)).match(recorded("cwd")).hasMatch());
        QCOMPARE(recorded("modes"), "700\n600\n");
        QCOMPARE(recorded("stdin"), "/dev/null\n");
        QCOMPARE(recorded("path"), at("home") + "/.local/bin:/opt/homebrew/bin:/usr/local/bin:"
                                                "/usr/bin:/bin:" + at("bin") + ":/usr/bin:/bin");

        // The photo: JPEG, 1568 wide, the transparent half white.
        QImageReader reader(fake + "/photo.jpg");
        QCOMPARE(reader.format(), "jpeg");
        const QImage sent = reader.read();
        QCOMPARE(sent.size(), QSize(1568, 392));
        QVERIFY(qGray(sent.pixel(100, 200)) > 245);
        QVERIFY(qRed(sent.pixel(1400, 200)) > 180 && qGreen(sent.pixel(1400, 200)) < 40);
    }

    // Nothing is started and no folder made.
    void failsBeforeStarting_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QByteArray>("photo");
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("message");
        QTest::newRow("no CLI") << false << png(20, 20) << qint64(0)
                                << "Claude Code was not found on this computer. Install it and "
                                   "sign in, then try again.";
        QTest::newRow("not a picture") << true << QByteArray("GIF89a nonsense") << qint64(0)
                                       << "That file could not be read as a picture.";
        QTest::newRow("stale run") << true << png(20, 20) << qint64(7) << "Cancelled.";
    }
    void failsBeforeStarting()
    {
        QFETCH(bool, installed);
        QFETCH(QByteArray, photo);
        QFETCH(qint64, id);
        QFETCH(QString, message);
        if (installed)
            installClaude(kRecordingClaude + kAnswer);
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
        installClaude(kRecordingClaude + "[ -e \"$FAKE_DIR/first\" ] || { touch \"$FAKE_DIR/first\"; " +
                      kSleep + "}\n" + kAnswer);
        QVERIFY(writeFile(fake + "/out", prose(samples::creature())));
        auto runner = std::make_unique<ClaudeRunner>();
        int calls = 0;
        runner->run(png(20, 20), "", "sonnet", [&](const ClaudeRunner::Outcome &) { ++calls; });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + "/sleeper"), 10000);
        QVERIFY(QFile::copy(fake + "/pid", fake + "/first-pid"));
        QVERIFY(runAndWait(*runner, png(20, 20), "", "sonnet").creature);
        QTRY_VERIFY_WITH_TIMEOUT(gone(fake + "/first-pid"), 5000);
        runner.reset(); // waits for both runs' threads
        QCoreApplication::processEvents();
        QCOMPARE(calls, 0);
        QCOMPARE(leftovers(), QStringList());
    }

    // The way out: a process that ignores SIGTERM is killed after the grace
    // period, nothing is delivered, nothing is left.
    void cancelEndsTheRun()
    {
        installClaude(kRecordingClaude + "trap '' TERM\n" + kSleep + kAnswer);
        ClaudeRunner runner{20s, 500ms};
        bool delivered = false;
        runner.run(png(20, 20), "", "sonnet", [&](const ClaudeRunner::Outcome &) { delivered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + "/sleeper"), 10000);
        ClaudeRunner::cancelAll();
        QTRY_VERIFY_WITH_TIMEOUT(gone(fake + "/pid") && gone(fake + "/sleeper"), 5000);
        QTRY_COMPARE(leftovers(), QStringList());
        QTest::qWait(200);
        QVERIFY(!delivered);
    }

    // Each candidate wins over the later ones, and stops counting once it is
    // no longer executable.
    void findsClaudeInOrder()
    {
        const QStringList order = {"home/.local/bin/claude", "home/.claude/local/claude",
                                   "home/.npm-global/bin/claude", "home/.bun/bin/claude",
                                   "bin/claude"};
        for (const QString &candidate : order)
            QVERIFY(writeFile(at(candidate), "#!/bin/sh\n", true));
        for (const QString &candidate : order) {
            QCOMPARE(ClaudeRunner::findClaude().value_or(""), at(candidate));
            QVERIFY(QFile::setPermissions(at(candidate), QFile::ReadOwner | QFile::WriteOwner));
        }
        QVERIFY(QFile::remove(at("bin/claude")) && QDir().mkpath(at("bin/claude")));
        QCOMPARE(ClaudeRunner::findClaude(), std::nullopt);
        QVERIFY(QDir().rmdir(at("bin/claude")));
    }

    // The login shell's set-up is the last resort: a greeting before the path
    // does not matter, a hanging set-up is stopped.
    void asksTheLoginShell_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<bool>("found");
        QTest::newRow("greeting, then the path") << QByteArray(
            "echo 'Welcome back!'\nPATH=\"$HOME/hidden:$PATH\"\n") << true;
        QTest::newRow("hangs, ignoring SIGTERM") << QByteArray("echo hello\ntrap '' TERM\nsleep 60\n") << false;
    }
    void asksTheLoginShell()
    {
        QFETCH(QByteArray, profile);
        QFETCH(bool, found);
        const struct passwd *account = ::getpwuid(::getuid());
        const QString shell = account && *account->pw_shell ? account->pw_shell
                                                            : qEnvironmentVariable("SHELL", "/bin/sh");
        if (!QStringList{"bash", "sh", "dash", "zsh"}.contains(QFileInfo(shell).fileName()))
            QSKIP("the login shell's set-up files are unknown to this test");
        for (const char *file : {"home/.profile", "home/.bash_profile", "home/.zprofile"})
            QVERIFY(writeFile(at(file), profile));
        QVERIFY(writeFile(at("home/hidden/claude"), "#!/bin/sh\n", true));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ClaudeRunner::findClaude(),
                 found ? std::optional(at("home/hidden/claude")) : std::nullopt);
        QVERIFY(clock.elapsed() < 20000);
    }

    // The lookup for the menu runs once per process: a CLI removed later is
    // still what the cache says.
    void looksUpClaudeOnce()
    {
        installClaude("#!/bin/sh\n");
        QVERIFY(!ClaudeRunner::cachedClaudePath());
        ClaudeRunner::lookUpClaude();
        QTRY_VERIFY(ClaudeRunner::cachedClaudePath() == at("bin/claude"));
        QFile::remove(at("bin/claude"));
        ClaudeRunner::lookUpClaude();
        QVERIFY(!QTest::qWaitFor([] { return !ClaudeRunner::cachedClaudePath(); }, 2000));
    }

    void sweepsOnlyItsOwnEntries()
    {
        const auto ours = [this] {
            return at("tmp/bopling-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        };
        const QString others = ours(), link = ours(), notOurs = at("tmp/bopling-notes");
        QVERIFY(writeFile(ours() + "/photo.jpg", "x") && writeFile(ours(), "x"));
        QVERIFY(writeFile(at("outside/keep"), "x") && QFile::link(at("outside"), link));
        QVERIFY(writeFile(others + "/photo.jpg", "x") && writeFile(notOurs + "/keep", "x"));
        QStringList expected = {"bopling-notes"};
        if (::geteuid() == 0) {
            QCOMPARE(::chown(QFile::encodeName(others).constData(), 65534, 65534), 0);
            expected.prepend(QFileInfo(others).fileName());
        }
        ClaudeRunner::sweepTemporaryFolders();
        QCOMPARE(leftovers(), expected);
        QVERIFY(QFile::exists(at("outside/keep")));
        QDir(others).removeRecursively();
        QDir(notOurs).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestClaudeRunner)
#include "tst_ClaudeRunner.moc"
