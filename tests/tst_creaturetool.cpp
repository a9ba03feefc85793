// bopling-creature as people and scripts use it: exit codes, standard output
// and the exact messages on standard error.

#include "creatures/Creature.h"
#include "support/CreatureSamples.h"
#include "support/FakeClaude.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>

using namespace bopling;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The tool's run; none when it takes 30 s, ends by a signal, or grows past 512 MiB (it is
// stopped then, before it can take the machine down).
Run runTool(const QStringList &arguments,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BOPLING_CREATURE_TOOL), arguments);
    const QString status = QStringLiteral("/proc/%1/status").arg(process.processId());
    const QRegularExpression rss("VmRSS:\\s*(\\d+)");
    for (int waited = 0; !process.waitForFinished(50); waited += 50) {
        if (waited > 30000 || rss.match(files::read(status)).captured(1).toInt() > 512 * 1024) {
            process.kill();
            process.waitForFinished();
            return {};
        }
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class TestCreatureTool : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // The fake CLI's folder first on PATH, a home and temporary folder of the test's own.
    QProcessEnvironment drawEnvironment(const QByteArray &claude)
    {
        QFile::remove(dir.filePath("bin/claude"));
        if (!claude.isEmpty())
            fakeclaude::writeFile(dir.filePath("bin/claude"), claude, true);
        QDir().mkpath(dir.filePath("home"));
        QDir().mkpath(dir.filePath("tmp"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", dir.filePath("bin") + ":/usr/bin:/bin");
        environment.insert("HOME", dir.filePath("home"));
        environment.insert("TMPDIR", dir.filePath("tmp"));
        return environment;
    }

    QString write(const QString &name, const QByteArray &bytes)
    {
        return files::write(dir.filePath(name), bytes);
    }

    QStringList tmpEntries() const
    {
        return QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

private slots:
    // check and reply print the cleaned creature, or say why there is none.
    void checksFilesAndReplies()
    {
        Creature noSleep = samples::creature();
        noSleep.frames.remove("sleep");
        const QByteArray good = samples::creature(" Mr. Rex ").encode();
        for (const auto &[command, content] : {std::pair<QString, QByteArray>{"check", good},
                                               {"reply", "Sure!\n```json\n" + good + "\n```"}}) {
            const Run run = runTool({command, write("input", content)});
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.err, QByteArray());
            QCOMPARE(Creature::decode(run.out.trimmed()).name, QStringLiteral("Mr Rex"));
        }
        const Run refused = runTool({"check", write("input", noSleep.encode())});
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.out, QByteArray());
        QCOMPARE(refused.err, "The creature is missing the \"sleep\" frame.\n");
    }

    void previews()
    {
        const QString creature = write("rex.json", samples::creature().encode());
        const QString png = dir.filePath("idle.png");
        QCOMPARE(runTool({"preview", creature, "idle", png}).exitCode, 0);
        QCOMPARE(QImage(png).size(), QSize(12 * 6, 10 * 6));
        QCOMPARE(runTool({"preview", creature, "run1", png, "2"}).exitCode, 0);
        QCOMPARE(QImage(png).size(), QSize(12 * 2, 10 * 2));

        const Run missing = runTool({"preview", creature, "leap", dir.filePath("leap.png")});
        QVERIFY(missing.exitCode == 1 && !missing.err.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("leap.png")));
        const Run big = runTool({"preview", creature, "idle", dir.filePath("big.png"), "5000"});
        QCOMPARE(big.exitCode, 1);
        QVERIFY2(big.err.contains("too large to draw at scale 5000"), big.err.constData());
        // No command, a scale that is no scale, a model the tool does not offer: usage errors.
        for (const QStringList &arguments :
             {QStringList{}, QStringList{"preview", creature, "idle", png, "0"},
              QStringList{"draw", png, "--model", "haiku"}}) {
            const Run usage = runTool(arguments);
            QVERIFY(usage.exitCode == 2 && usage.err.startsWith("Usage:"));
        }
    }

    // A photo through a fake Claude Code CLI, as a user checks the set-up, without one, and
    // through one that floods its output (stopped while the tool stays small); the temporary
    // folder is emptied every time.
    void draws()
    {
        if (QFileInfo::exists("/usr/local/bin/claude"))
            QSKIP("a real claude is installed on this machine");
        const QString photo = write("pet.png", fakeclaude::png(30, 20));
        const QList<std::tuple<QByteArray, QByteArray, QByteArray>> rows{
            {"#!/bin/sh\necho '" + fakeclaude::prose(samples::creature()) + "'\n",
             samples::creature().validated().encode() + '\n', ""},
            {"", "",
             "Claude Code was not found on this computer. Install it and sign in, then try "
             "again.\n"},
            {"#!/bin/sh\nexec yes\n", "",
             "Claude Code wrote more than 8 MB, so I stopped it. Try again.\n"}};
        for (const auto &[claude, out, err] : rows) {
            const Run run = runTool({"draw", photo, "--model", "opus"}, drawEnvironment(claude));
            QCOMPARE(run.err, err);
            QCOMPARE(run.out, out);
            QCOMPARE(run.exitCode, out.isEmpty() ? 1 : 0);
            QCOMPARE(tmpEntries(), QStringList());
        }
    }

    // The CLI does not outlive a tool ended in the middle of a run. A signal the tool can
    // catch also stops what the CLI started and removes the run's folder, then ends the tool.
    void drawInterrupted()
    {
        const QString pet = write("pet.png", fakeclaude::png(30, 20));
        for (const int signal : {SIGTERM, SIGINT, SIGKILL}) {
            QFile::remove(dir.filePath("claude.pid"));
            QProcess tool;
            tool.setProcessEnvironment(
                drawEnvironment("#!/bin/sh\nsleep 60 & echo $! > \"$TMPDIR/../helper.pid\"\n"
                                "echo $$ > \"$TMPDIR/../claude.pid\"\ntrap '' TERM\nwait\n"));
            tool.start(BOPLING_CREATURE_TOOL, {"draw", pet});
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("claude.pid")).size() > 0, 10000);
            ::kill(pid_t(tool.processId()), signal);
            QVERIFY(tool.waitForFinished(10000) && tool.exitStatus() == QProcess::CrashExit);
            QTRY_VERIFY_WITH_TIMEOUT(fakeclaude::gone(dir.filePath("claude.pid")), 5000);
            if (signal != SIGKILL)
                QVERIFY(fakeclaude::gone(dir.filePath("helper.pid")) && tmpEntries().isEmpty());
        }
        ::kill(pid_t(files::read(dir.filePath("helper.pid")).trimmed().toInt()), SIGKILL);
    }
};

QTEST_GUILESS_MAIN(TestCreatureTool)
#include "tst_creaturetool.moc"
