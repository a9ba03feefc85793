// bopling-creature as people and scripts use it: exit codes, standard output
// and the exact messages on standard error.

#include "creatures/Creature.h"
#include "settings/Resources.h"
#include "support/CreatureSamples.h"

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

Run runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(BOPLING_CREATURE_TOOL), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

QString decodingMessage(const QByteArray &json)
{
    return samples::messageOf<Creature::DecodingError>([&] { Creature::decode(json); });
}

QString tobblePath()
{
    return resourcePath(QStringLiteral("web/creatures/tobble.json"));
}

} // namespace

class TestCreatureTool : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(bytes);
        return file.fileName();
    }

private slots:
    void checksTheBuiltInCreature()
    {
        if (!QFileInfo::exists(tobblePath()))
            QSKIP("resources/web/creatures/tobble.json is missing");
        const Run run = runTool({"check", tobblePath()});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QByteArray());
        QVERIFY(run.out.endsWith('\n'));
        QCOMPARE(run.out.count('\n'), 1);
        QFile file(tobblePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(Creature::decode(run.out.trimmed()), Creature::decode(file.readAll()).validated());
    }

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
        row("check, not JSON", "check", "{\"name\":", decodingMessage("{\"name\":"));
        row("check, reply text", "check", "Here: " + good, decodingMessage("Here: " + good));
        row("reply with prose", "reply", "Sure!\n```json\n" + good + "\n```", {});
        row("reply without creature", "reply", "no idea",
            "Claude's reply did not contain a creature.");
        row("reply refused by the check", "reply", "Well: " + noSleep.encode(), refused);
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
    }

    void previewSaysWhenTheScaleIsTooLarge()
    {
        const QString creature = write("rex.json", samples::creature().encode());
        const Run run = runTool({"preview", creature, "idle", dir.filePath("big.png"), "5000"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("too large to draw at scale 5000"), run.err.constData());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"draw", "x"};
        QTest::newRow("check without file") << QStringList{"check"};
        QTest::newRow("bad scale") << QStringList{"preview", "x.json", "idle", "o.png", "0"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const Run run = runTool(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.startsWith("Usage:"));
    }

    void missingFile()
    {
        const Run run = runTool({"check", dir.filePath("absent.json")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.startsWith(dir.filePath("absent.json").toUtf8()));
    }
};

QTEST_GUILESS_MAIN(TestCreatureTool)
#include "tst_creaturetool.moc"
