#include "app/LaunchOptions.h"
#include "app/StatusLine.h"

#include <QTest>

using namespace bopling;

Q_DECLARE_METATYPE(bopling::StatusInputs)

using Env = QHash<QString, QString>;
Q_DECLARE_METATYPE(Env)

// What the environment turns on, and the status line built from the state.
class StatusLineTest : public QObject
{
    Q_OBJECT

private slots:
    void environmentIsHonouredOnlyInDebugMode_data()
    {
        QTest::addColumn<Env>("env");
        QTest::addColumn<bool>("debug");
        QTest::addColumn<QString>("testAudio"); // null: none
        QTest::addColumn<QString>("log");
        const QString wav = "/music/demo.wav", log = "/tmp/state.log", none;
        QTest::newRow("debug with both")
            << Env{{"QX_DEBUG", "1"}, {"QX_TEST_AUDIO", wav}, {"QX_LOG", log}} << true << wav
            << log;
        QTest::newRow("debug true is not 1")
            << Env{{"QX_DEBUG", "true"}, {"QX_TEST_AUDIO", wav}} << false << none << none;
        QTest::newRow("present but empty path")
            << Env{{"QX_DEBUG", "1"}, {"QX_TEST_AUDIO", ""}} << true << QString("") << none;
    }
    void environmentIsHonouredOnlyInDebugMode()
    {
        QFETCH(Env, env);
        QFETCH(bool, debug);
        QFETCH(QString, testAudio);
        QFETCH(QString, log);
        const LaunchOptions options = LaunchOptions::fromEnvironment(env);
        QCOMPARE(options.debug, debug);
        QCOMPARE(options.testAudio.has_value(), !testAudio.isNull());
        QCOMPARE(options.testAudio.value_or(QString()) + "|" + options.logPath.value_or(QString()),
                 testAudio + "|" + log);
    }

    void firstRuleThatAppliesWins_data()
    {
        QTest::addColumn<StatusInputs>("in");
        QTest::addColumn<QString>("text");
        StatusInputs all;
        all.paused = all.testAudio = all.building = all.gaveUp = true;
        all.lastError = "capture lost (-6)";
        all.silentSeconds = 30;
        QTest::newRow("paused beats everything") << all << "Paused";
        all.paused = false;
        QTest::newRow("then test audio") << all << "Test audio";
        all.testAudio = false;
        QTest::newRow("then connecting") << all << "Connecting to the sound server...";
        all.running = true;
        QTest::newRow("building while running is not connecting")
            << all << "Check the sound server, then choose Retry";
        all.gaveUp = false;
        QTest::newRow("then the error") << all << "Cannot listen: capture lost (-6)";
        all.lastError.reset();
        all.silentSeconds = 12.0;
        QTest::newRow("12 s is not yet silence") << all << "Listening to system audio";
        all.silentSeconds = 12.01;
        QTest::newRow("just over 12 s") << all << "No sound heard";
        StatusInputs emptyError;
        emptyError.lastError = QString();
        QTest::newRow("an empty error is still an error") << emptyError << "Cannot listen: ";
    }
    void firstRuleThatAppliesWins()
    {
        QFETCH(StatusInputs, in);
        QFETCH(QString, text);
        QCOMPARE(statusText(in), text);
    }
};

QTEST_GUILESS_MAIN(StatusLineTest)
#include "tst_StatusLine.moc"
