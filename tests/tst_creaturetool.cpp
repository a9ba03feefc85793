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
    try {
        Creature::decode(json);
    } catch (const Creature::DecodingError &error) {
        return error.message();
    }
    return QStringLiteral("(decoded)");
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
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");

        Creature noSleep = samples::creature();
        noSleep.frames.remove("sleep");
        const QByteArray good = samples::creature(" Mr. Rex ").encode();
        QTest::newRow("check cleans") << "check" << good << 0 << QString();
        QTest::newRow("check refuses")
            << "check" << noSleep.encode() << 1 << "The creature is missing the \"sleep\" frame.";
        QTest::newRow("check, not JSON")
            << "check" << QByteArray("{\"name\":") << 1 << decodingMessage("{\"name\":");
        QTest::newRow("check, reply text")
            << "check"
            << "Here: " + good << 1 << decodingMessage("Here: " + good);
        QTest::newRow("reply with prose") << "reply"
                                          << "Sure!\n```json\n" + good + "\n```" << 0 << QString();
        QTest::newRow("reply without creature") << "reply" << QByteArray("no idea") << 1
                                                << "Claude's reply did not contain a creature.";
        QTest::newRow("reply refused by the check")
            << "reply"
            << "{" + noSleep.encode().mid(1) << 1 << "The creature is missing the \"sleep\" frame.";
    }
    void answers()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, content);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        const Run run = runTool({command, write("input", content)});
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0) {
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
        QVERIFY(run.err.startsWith("usage:"));
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
