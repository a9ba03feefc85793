#include "app/StatusLine.h"

#include <QTest>

using namespace bopling;

Q_DECLARE_METATYPE(bopling::StatusInputs)

// The status line built from the state.
class StatusLineTest : public QObject
{
    Q_OBJECT

private slots:
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
