#include "app/StateLog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

class StateLogTest : public QObject
{
    Q_OBJECT

private slots:
    void lineHasTheFieldsInOrder()
    {
        StateLogEntry entry;
        entry.pid = 4242;
        entry.web = 4250;
        entry.grab = false;
        entry.unlocked = true;
        entry.audio = "Listening to system audio";
        entry.silentSeconds = 0.25;
        entry.js = "{\"ticks\":12,\"events\":{\"k\":3}}";
        QCOMPARE(stateLogLine(entry),
                 "{\"pid\":4242,\"web\":4250,\"grab\":false,\"unlocked\":true,\"audio\":"
                 "\"Listening to system audio\","
                 "\"silentSeconds\":0.25,\"js\":{\"ticks\":12,\"events\":{\"k\":3}}}\n");
    }

    void everyLineIsValidJson_data()
    {
        QTest::addColumn<QString>("audio");
        QTest::addColumn<double>("silentSeconds");
        QTest::addColumn<QVariant>("answer");
        QTest::addColumn<QByteArray>("jsField");     // compact JSON of "js"
        QTest::addColumn<QByteArray>("secondsText"); // as written
        using B = QByteArray;
        QTest::newRow("no answer") << "Paused" << 0.0 << QVariant() << B("null") << B("0.0");
        QTest::newRow("an answer that is not text")
            << "Paused" << 3.0 << QVariant(17) << B("null") << B("3.0");
        QTest::newRow("a scalar answer")
            << "x" << 12.345 << QVariant("42") << B("[42]") << B("12.345");
        QTest::newRow("text that is not JSON is quoted, and a quote in the status")
            << "Cannot listen: \"odd\" error" << 0.0 << QVariant("oops \"}")
            << B("[\"oops \\\"}\"]") << B("0.0");
        QTest::newRow("a broken number") << "x" << qQNaN() << QVariant() << B("null") << B("0");
    }
    void everyLineIsValidJson()
    {
        QFETCH(QString, audio);
        QFETCH(double, silentSeconds);
        QFETCH(QVariant, answer);
        QFETCH(QByteArray, jsField);
        QFETCH(QByteArray, secondsText);
        StateLogEntry entry;
        entry.audio = audio;
        entry.silentSeconds = silentSeconds;
        entry.js = StateLogEntry::pageAnswer(answer);
        const QByteArray line = stateLogLine(entry);
        QVERIFY(line.endsWith("}\n"));
        QVERIFY(line.contains("\"silentSeconds\":" + secondsText + ",\"js\""));

        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
        QCOMPARE(object.value("audio").toString(), audio);
        QCOMPARE(QJsonDocument(QJsonArray{object.value("js")}).toJson(QJsonDocument::Compact),
                 jsField == "null" ? QByteArray("[null]") : jsField);
    }
};

QTEST_GUILESS_MAIN(StateLogTest)
#include "tst_StateLog.moc"
