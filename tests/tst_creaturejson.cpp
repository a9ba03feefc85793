#include "creatures/Creature.h"
#include "support/CreatureSamples.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace bopling;

namespace {

const QByteArray kMinimal =
    R"({"name":"Rex","palette":{"a":"#112233"},"frames":{"idle":["a.","aa"]}})";
const QString kNotJson = "Claude's reply was not valid creature JSON (";
const QString kNoCreature = "Claude's reply did not contain a creature.";

QString decodingFailure(const QByteArray &json)
{
    return samples::messageOf<Creature::DecodingError>([&] { Creature::decode(json); });
}

QString replyFailure(const QString &reply)
{
    return samples::messageOf<Creature::Invalid>([&] { Creature::fromReply(reply); });
}

QString parserError(const QByteArray &json)
{
    QJsonParseError error{};
    QJsonDocument::fromJson(json, &error);
    return error.errorString();
}

} // namespace

class TestCreatureJson : public QObject
{
    Q_OBJECT

private slots:
    void decodesFields()
    {
        // Unknown keys are ignored; "attacks" and "sound" may be absent or null. The other
        // fields are read back in encodesCompactAndRoundTrips.
        QCOMPARE(Creature::decode(kMinimal.chopped(1) + R"(,"extra":{"x":1}})").name, "Rex");
        for (const QByteArray &json :
             {kMinimal, kMinimal.chopped(1) + R"(,"attacks":null,"sound":null})"}) {
            const Creature minimal = Creature::decode(json);
            QVERIFY(minimal.attacks.isEmpty() && !minimal.sound.has_value());
        }
    }

    void refusesWrongShapes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *name, const char *json, const char *message) {
            QTest::newRow(name) << QByteArray(json) << QString(message);
        };
        row("no name", R"({"palette":{},"frames":{}})", "the key \"name\" is missing");
        row("palette array", R"({"name":"x","palette":[],"frames":{}})",
            "\"palette\" is not an object");
        row("palette number", R"({"name":"x","palette":{"a":1},"frames":{}})",
            "the palette entry \"a\" is not a string");
        row("frame of numbers", R"({"name":"x","palette":{},"frames":{"idle":[1]}})",
            "\"idle\" is not an array of strings");
        row("attacks string", R"({"name":"x","palette":{},"frames":{},"attacks":"fire"})",
            "\"attacks\" is not an array of strings");
        row("sound number", R"({"name":"x","palette":{},"frames":{},"sound":7})",
            "\"sound\" is not a string");
        row("array", "[]", "the creature JSON is not an object");
    }
    void refusesWrongShapes()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        QCOMPARE(decodingFailure(json), message);
    }

    void encodesCompactAndRoundTrips()
    {
        Creature c = samples::creature("Rëx \"the\" / dog");
        const QByteArray json = c.encode();
        QVERIFY(!json.contains('\n') && !json.contains(": "));
        QCOMPARE(Creature::decode(json), c);
        QCOMPARE(QJsonDocument::fromJson(json).object().keys(),
                 (QStringList{"attacks", "frames", "name", "palette", "sound"}));

        c.sound.reset();
        c.attacks.clear();
        const QJsonObject withoutSound = QJsonDocument::fromJson(c.encode()).object();
        QVERIFY(!withoutSound.contains("sound") && withoutSound.value("attacks").isArray());
        QCOMPARE(Creature::decode(c.encode()), c);
    }

    void fromReplySpans_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("message"); // empty: the sample creature comes out
        const QString object = QString::fromUtf8(samples::creature().encode());
        const QString twice = object + " or " + object;
        const QString deep = "{\"name\":" + QString(3000, u'[') + QString(3000, u']') + "}";
        const QString huge = "{\"name\":\"" + QString(Creature::kMaxJsonBytes, u'x') + "\"}";
        QTest::newRow("prose around") << "Here it is: " + object + " Enjoy!" << QString();
        QTest::newRow("fenced") << "```json\n" + object + "\n```\nHave fun {-:" << QString();
        QTest::newRow("reversed braces") << "}{" << kNoCreature;
        QTest::newRow("only open") << "{ \"name\": " << kNoCreature;
        QTest::newRow("two objects") << twice << kNotJson + parserError(twice.toUtf8()) + " at";
        QTest::newRow("not a creature")
            << "{\"hello\": 1}" << kNotJson + "the key \"name\" is missing).";
        QTest::newRow("deep nesting") << deep << kNotJson + parserError(deep.toUtf8()) + " at";
        QTest::newRow("enormous") << huge
                                  << kNotJson + "the creature JSON is larger than 1048576 bytes).";
    }
    void fromReplySpans()
    {
        QFETCH(QString, reply);
        QFETCH(QString, message);
        // Rows that end in the parser's own words give the start of the message.
        const QString failure = replyFailure(reply);
        if (message.endsWith(u'.') || message.isEmpty())
            QCOMPARE(failure, message);
        else
            QVERIFY2(failure.startsWith(message) && failure.endsWith(")."), qPrintable(failure));
        if (message.isEmpty())
            QCOMPARE(Creature::fromReply(reply), samples::creature());
    }
};

QTEST_GUILESS_MAIN(TestCreatureJson)
#include "tst_creaturejson.moc"
