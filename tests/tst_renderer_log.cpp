#include "render/RendererLog.h"
#include "settings/SystemLog.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace bopling;

class TestRendererLog : public QObject
{
    Q_OBJECT

    QStringList systemLines;
    SystemLogSink previousSink;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        previousSink = setSystemLogSink([this](const QString &line) { systemLines << line; });
    }
    void cleanupTestCase() { setSystemLogSink(previousSink); }
    void init() { systemLines.clear(); }

    void firstErrorCreatesTheLogLaterOnesAppend()
    {
        QTemporaryDir tmp;
        RendererLog log(tmp.filePath("deep/state/Bopling"));
        QVERIFY(!QFile::exists(log.filePath()));
        log.append("first", QDateTime(QDate(2025, 3, 1), QTime(8, 15, 30), Qt::UTC));
        QCOMPARE(files::lines(log.filePath()), QStringList{"2025-03-01T08:15:30Z first"});
        // A time given in another zone is written in UTC.
        log.append("zweite Zeile – ü",
                   QDateTime(QDate(2025, 3, 1), QTime(10, 0, 5), QTimeZone(3600)));
        QCOMPARE(
            files::lines(log.filePath()),
            (QStringList{"2025-03-01T08:15:30Z first", "2025-03-01T09:00:05Z zweite Zeile – ü"}));
        QCOMPARE(systemLines.size(), 2);
    }

    void unwritableLogStillWritesTheSystemLog()
    {
        QTemporaryDir tmp;
        // The state folder's place is taken by a file, so nothing can be created below it.
        files::write(tmp.filePath("state"), "");
        RendererLog log(tmp.filePath("state/Bopling"));
        log.append("lost");
        QVERIFY(!QFile::exists(log.filePath()));
        QCOMPARE(systemLines, QStringList{"Bopling: renderer error: lost"});
    }

    void defaultFolder_data()
    {
        QTest::addColumn<QByteArray>("stateHome"); // null: unset
        QTest::addColumn<QString>("folder");
        QTest::newRow("absolute") << QByteArray("/var/tmp/x/") << "/var/tmp/x/Bopling";
        QTest::newRow("relative") << QByteArray("relative/state")
                                  << QDir::homePath() + "/.local/state/Bopling";
    }
    void defaultFolder()
    {
        QFETCH(QByteArray, stateHome);
        QFETCH(QString, folder);
        QVERIFY(RendererLog::defaultFolder().startsWith(QDir::homePath() + "/.qttest/"));
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        QStandardPaths::setTestModeEnabled(false);
        stateHome.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", stateHome);
        const QString found = RendererLog::defaultFolder();
        saved.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", saved);
        QStandardPaths::setTestModeEnabled(true);
        QCOMPARE(found, folder);
    }
};

QTEST_GUILESS_MAIN(TestRendererLog)
#include "tst_renderer_log.moc"
