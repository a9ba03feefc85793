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
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runTool(const QStringList &arguments,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BOPLING_CREATURE_TOOL), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
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
        files::write(dir.filePath(name), bytes);
        return dir.filePath(name);
    }

private slots:
    void answers_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error"); // empty: "Mr Rex" comes out
        const auto row = [](const char *row, const char *command, const QByteArray &content,
                            const QString &error) {
            QTest::newRow(row) << QString(command) << content << error;
        };
        Creature noSleep = samples::creature();
        noSleep.frames.remove("sleep");
        const QString refused = QStringLiteral("The creature is missing the \"sleep\" frame.");
        const QByteArray good = samples::creature(" Mr. Rex ").encode();
        row("check cleans", "check", good, {});
        row("check refuses", "check", noSleep.encode(), refused);
        row("reply with prose", "reply", "Sure!\n```json\n" + good + "\n```", {});
    }
    void answers()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        const Run run = runTool({command, write("input", content)});
        QCOMPARE(run.exitCode, error.isEmpty() ? 0 : 1);
        if (error.isEmpty()) {
            QCOMPARE(run.err, QByteArray());
            QCOMPARE(Creature::decode(run.out.trimmed()).name, QStringLiteral("Mr Rex"));
        } else {
            QCOMPARE(run.out, QByteArray());
            QCOMPARE(QString::fromUtf8(run.err), error + QLatin1Char('\n'));
        }
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
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(!missing.err.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("leap.png")));
        const Run big = runTool({"preview", creature, "idle", dir.filePath("big.png"), "5000"});
        QCOMPARE(big.exitCode, 1);
        QVERIFY2(big.err.contains("too large to draw at scale 5000"), big.err.constData());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("draw, unknown model") << QStringList{"draw", "x.png", "--model", "haiku"};
        QTest::newRow("bad scale") << QStringList{"preview", "x.json", "idle", "o.png", "0"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const Run run = runTool(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.startsWith("Usage:"));
    }

    // A photo through a fake Claude Code CLI, as a user checks the set-up.
    void draw_data()
    {
        QTest::addColumn<QByteArray>("claude"); // empty: not installed
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("creature") << "#!/bin/sh\necho '" + fakeclaude::prose(samples::creature()) +
                                         "'\n"
                                  << samples::creature().validated().encode() + '\n'
                                  << QByteArray();
        QTest::newRow("no CLI") << QByteArray() << QByteArray()
                                << QByteArray("Claude Code was not found on this computer. "
                                              "Install it and sign in, then try again.\n");
    }
    void draw()
    {
        QFETCH(QByteArray, claude);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        if (QFileInfo::exists("/usr/local/bin/claude"))
            QSKIP("a real claude is installed on this machine");
        const QString photo = write("pet.png", fakeclaude::png(30, 20));
        const Run run = runTool({"draw", photo, "--model", "opus"}, drawEnvironment(claude));
        QCOMPARE(run.err, err);
        QCOMPARE(run.out, out);
        QCOMPARE(run.exitCode, out.isEmpty() ? 1 : 0);
        QCOMPARE(QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // The CLI does not outlive a tool killed in the middle of a run.
    void drawKilled()
    {
        QProcess tool;
        tool.setProcessEnvironment(drawEnvironment(
            "#!/bin/sh\necho $$ > \"$TMPDIR/../claude.pid\"\ntrap '' TERM\nexec sleep 60\n"));
        tool.start(BOPLING_CREATURE_TOOL, {"draw", write("pet.png", fakeclaude::png(30, 20))});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("claude.pid")).size() > 0, 10000);
        tool.kill();
        QVERIFY(tool.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(fakeclaude::gone(dir.filePath("claude.pid")), 5000);
    }
};

QTEST_GUILESS_MAIN(TestCreatureTool)
#include "tst_creaturetool.moc"
