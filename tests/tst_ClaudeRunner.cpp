// The Claude runner against a fake `claude` program: what the CLI is given,
// how its answers and failures read, the time limit, stale runs, and that no
// process or temporary folder outlives a run.

#include "creatures/ClaudeRunner.h"
#include "creatures/Move.h"
#include "support/CreatureSamples.h"
#include "support/FakeClaude.h"

#include <QElapsedTimer>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <pwd.h>

using namespace bopling;
using namespace bopling::fakeclaude;
using namespace std::chrono_literals;

namespace {

const QString kNotSignedIn = QStringLiteral(
    "Claude Code is not signed in. Open a terminal, run claude once, sign in, then try again.");
const QString kTooLong = "Claude took longer than 4 minutes, so I stopped it. Try again";

// Sleeps past any limit of these tests, noting the sleeper.
const QByteArray kSleep = "sleep 60 & echo $! > \"$FAKE_DIR/sleeper\"; wait\n";

} // namespace

class TestClaudeRunner : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString fake;

    QString at(const QString &relative) const { return root.filePath(relative); }

    QStringList leftovers() const
    {
        return QDir(at("tmp")).entryList({"bopling-*"}, QDir::AllEntries | QDir::Hidden);
    }

    QString recorded(const QString &name) const
    {
        return QString::fromUtf8(files::read(fake + '/' + name));
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
        if (QFileInfo::exists("/usr/local/bin/claude") ||
            QFileInfo::exists("/opt/homebrew/bin/claude"))
            QSKIP("a real claude is installed on this machine");
    }

    void init()
    {
        QDir(fake).removeRecursively();
        QDir(at("home")).removeRecursively();
        QVERIFY(QDir().mkpath(fake) && QDir().mkpath(at("home")));
        QVERIFY(writeFile(at("bin/claude"), fakeclaude::kRecorder, true));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("extra"); // lines the fake runs before answering
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QString>("message"); // empty: the sample creature
        const auto row = [](const char *name, const QByteArray &out, const QByteArray &err,
                            const QString &message, const QByteArray &extra = {}) {
            QTest::newRow(name) << extra << out << err << message;
        };
        const auto failed = [](const QString &result) {
            return answer({{"is_error", true}, {"result", result}});
        };
        Creature noSleep = samples::creature();
        noSleep.frames.remove("sleep");
        const QString e350(350, u'e');
        const QString tail = e350.left(300);

        row("creature in prose after a megabyte on both pipes", prose(samples::creature()), "", {},
            "yes '' | head -c 1M; yes x | head -c 1M >&2\n");
        row("sign-in before limit", failed("Rate limit · Invalid API key · Please run /login"), "",
            kNotSignedIn);
        row("other tool error", failed(e350), "", "Claude Code reported an error: " + tail);
        row("401 on standard error", "oops", "Error: 401 Unauthorized\n", kNotSignedIn);
        row("no JSON, error tail", "oops", "A" + e350.toUtf8(),
            "Claude Code did not answer. " + tail);
        row("invalid UTF-8 in the reason", "", "Error: server \xff said no",
            QString::fromUtf8("Claude Code did not answer. Error: server \uFFFD said no"));
        // A helper that closed its pipes but stayed in the CLI's group goes with the run.
        row("helper left behind", prose(samples::creature()), "", {},
            "(trap '' TERM; exec sleep 60) </dev/null >/dev/null 2>&1 &\n"
            "echo $! > \"$FAKE_DIR/sleeper\"\n");
        row("creature refused", prose(noSleep), "", "The creature is missing the \"sleep\" frame.");
        row("time limit, SIGTERM ignored", "", "", kTooLong + '.', "trap '' TERM\n" + kSleep);
    }
    void answers()
    {
        QFETCH(QByteArray, extra);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QString, message);
        QVERIFY(writeFile(fake + "/extra", extra) && writeFile(fake + "/out", out) &&
                writeFile(fake + "/err", err));

        ClaudeRunner runner{message.startsWith(kTooLong) ? 1s : 20s, 500ms};
        const ClaudeRunner::Outcome outcome = runAndWait(runner, png(40, 30), "", "sonnet");
        QCOMPARE(outcome.message, message);
        QCOMPARE(outcome.creature,
                 message.isEmpty() ? std::optional(samples::creature().validated()) : std::nullopt);
        QCOMPARE(leftovers(), QStringList());
        QVERIFY(gone(fake + "/pid"));
        if (extra.contains("sleep"))
            QTRY_VERIFY_WITH_TIMEOUT(gone(fake + "/sleeper"), 5000);
    }

    void givesTheCliPhotoPromptAndArguments()
    {
        QVERIFY(writeFile(fake + "/out", prose(samples::creature())));
        ClaudeRunner runner;
        QVERIFY(runAndWait(runner, png(4000, 1000, Qt::transparent), "  bigger ears\n", "opus")
                    .creature);

        // One JSON answer from the chosen model, which may only read files and
        // sees none of the user's own sessions, settings, servers or commands.
        QStringList args = recorded("args").split(QChar(0));
        const QString prompt = args.takeAt(1);
        QCOMPARE(args,
                 (QStringList{"-p", "--output-format", "json", "--model", "opus", "--tools", "Read",
                              "--no-session-persistence", "--setting-sources", "project",
                              "--strict-mcp-config", "--disable-slash-commands", "--system-prompt",
                              "You design small pixel-art game sprites from photos. Reply "
                              "with exactly one JSON object and nothing else.",
                              ""}));

        // The template filled: the photo, an example with the required frames, the note.
        QCOMPARE(Creature::fromReply(prompt).frames.size(), requiredFrames().size());
        QVERIFY(!prompt.contains("{{") && prompt.contains("./photo.jpg"));
        QVERIFY(
            prompt.contains("\nThe user asks for these changes to the creature: bigger ears\n"));

        // Where and how it ran.
        const QFileInfo cwd(recorded("cwd").trimmed());
        QVERIFY(cwd.path() == QDir(at("tmp")).canonicalPath() &&
                cwd.fileName().startsWith("bopling-"));
        QCOMPARE(recorded("modes"), "700\n600\n");
        QCOMPARE(recorded("stdin"), "/dev/null\n");
        const QString path =
            at("home") + "/.local/bin:/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:";
        QCOMPARE(recorded("path"), path + qEnvironmentVariable("PATH"));

        // The photo: JPEG, 1568 wide, transparency on white.
        QImageReader reader(fake + "/photo.jpg");
        QCOMPARE(reader.format(), "jpeg");
        const QImage sent = reader.read();
        QCOMPARE(sent.size(), QSize(1568, 392));
        QVERIFY(qGray(sent.pixel(100, 200)) > 245);
    }

    // Nothing is started and no folder made.
    void failsBeforeStarting()
    {
        ClaudeRunner runner;
        const auto failure = [&](const QByteArray &photo, qint64 id) {
            return samples::messageOf<ClaudeRunner::Failure>(
                [&] { runner.runSync(id, photo, QString(), "sonnet"); });
        };
        QCOMPARE(failure("GIF89a nonsense", 0), "That file could not be read as a picture.");
        QCOMPARE(failure(png(20, 20), 7), "Cancelled."); // not the newest run
        QVERIFY(!QFile::exists(fake + "/pid"));
        QCOMPARE(leftovers(), QStringList());
    }

    // A newer run stops the older run's process and only the newer one
    // delivers; cancelling kills even a process that ignores SIGTERM, and
    // nothing is delivered or left behind.
    void staleRunsStopAndNeverDeliver()
    {
        QVERIFY(writeFile(fake + "/extra", kSleep) &&
                writeFile(fake + "/out", prose(samples::creature())));
        ClaudeRunner runner{20s, 500ms};
        int calls = 0;
        const auto count = [&](const ClaudeRunner::Outcome &) { ++calls; };
        runner.run(png(20, 20), "", "sonnet", count);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + "/sleeper"), 10000);
        QVERIFY(QFile::rename(fake + "/pid", fake + "/first-pid"));
        QVERIFY(runAndWait(runner, png(20, 20), "", "sonnet").creature);
        QTRY_VERIFY_WITH_TIMEOUT(gone(fake + "/first-pid"), 5000);

        QVERIFY(writeFile(fake + "/extra", "trap '' TERM\n" + kSleep) &&
                QFile::remove(fake + "/sleeper"));
        runner.run(png(20, 20), "", "sonnet", count);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + "/sleeper"), 10000);
        ClaudeRunner::cancelAll();
        QTRY_VERIFY_WITH_TIMEOUT(gone(fake + "/pid") && gone(fake + "/sleeper"), 5000);
        QTRY_COMPARE(leftovers(), QStringList());
        QTest::qWait(200);
        QCOMPARE(calls, 0);
    }

    // The usual install places come before PATH; what cannot run does not count. The login
    // shell's set-up is the last resort: a greeting before the path does not matter, a set-up
    // that hangs ignoring SIGTERM is stopped.
    void findsClaude()
    {
        QVERIFY(writeFile(at("home/.claude/local/claude"), "#!/bin/sh\n")); // not runnable
        QVERIFY(writeFile(at("home/.bun/bin/claude"), "#!/bin/sh\n", true));
        QCOMPARE(ClaudeRunner::findClaude(), at("home/.bun/bin/claude"));
        QVERIFY(QFile::remove(at("home/.bun/bin/claude")) && QFile::remove(at("bin/claude")));
        QVERIFY(QDir().mkpath(at("bin/claude")));
        QCOMPARE(ClaudeRunner::findClaude(), std::nullopt);
        QVERIFY(QDir().rmdir(at("bin/claude")));

        const struct passwd *account = ::getpwuid(::getuid());
        if (!account || !QStringList{"bash", "sh", "dash", "zsh"}.contains(
                            QFileInfo(account->pw_shell).fileName()))
            QSKIP("the login shell's set-up files are unknown to this test");
        QVERIFY(writeFile(at("home/hidden/claude"), "#!/bin/sh\n", true));
        for (const auto &[profile, found] :
             {std::pair<QByteArray, bool>{"echo 'Welcome back!'\nPATH=\"$HOME/hidden:$PATH\"\n",
                                          true},
              {"echo hello\ntrap '' TERM\nsleep 60\n", false}}) {
            for (const char *file : {"home/.profile", "home/.bash_profile", "home/.zprofile"})
                QVERIFY(writeFile(at(file), profile));
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(ClaudeRunner::findClaude(),
                     found ? std::optional(at("home/hidden/claude")) : std::nullopt);
            QVERIFY(clock.elapsed() < 20000);
        }

        // A runner going away while its run still asks the shell (the program quitting, the
        // debug channel replacing its runner) stops the shell at once, waiting neither for it
        // nor for what it left holding the pipes in a session of its own.
        for (const char *file : {"home/.profile", "home/.bash_profile", "home/.zprofile"})
            QVERIFY(writeFile(at(file),
                              "setsid sh -c 'echo $$ > \"$FAKE_DIR/loner\"; exec sleep "
                              "30' &\nuntil [ -s \"$FAKE_DIR/loner\" ]; do sleep 0.05; "
                              "done\necho $$ > \"$FAKE_DIR/shell\"\ntrap '' TERM\nsleep 60\n"));
        auto runner = std::make_unique<ClaudeRunner>();
        runner->run(png(20, 20), "", "sonnet", {});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(fake + "/shell").size() > 0, 10000);
        QElapsedTimer clock;
        clock.start();
        runner.reset();
        const qint64 took = clock.elapsed();
        ::kill(pid_t(recorded("loner").trimmed().toInt()), SIGKILL);
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));
        QVERIFY(gone(fake + "/shell"));
    }

    void sweepsOnlyItsOwnEntries()
    {
        const auto ours = [this] {
            return at("tmp/bopling-" + QUuid::createUuid().toString().mid(1, 36).toUpper());
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
