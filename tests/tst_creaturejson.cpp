// The creature's JSON form, and pulling a creature out of the CLI's reply.

#include "creatures/Creature.h"
#include "support/CreatureSamples.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace bopling;

namespace {

const QByteArray kMinimal =
    R"({"name":"Rex","palette":{"a":"#112233"},"frames":{"idle":["a.","aa"]}})";

QString decodingFailure(const QByteArray &json)
{
    try {
        Creature::decode(json);
    } catch (const Creature::DecodingError &error) {
        return error.message();
    }
    return QString();
}

const QString kNotJson = QStringLiteral("Claude's reply was not valid creature JSON (");

// The JSON parser's description of what is wrong with `json`.
QString parserError(const QByteArray &json)
{
    QJsonParseError error{};
    QJsonDocument::fromJson(json, &error);
    return error.errorString();
}

QString replyFailure(const QString &reply)
{
    try {
        Creature::fromReply(reply);
    } catch (const Creature::Invalid &invalid) {
        return invalid.message();
    }
    return QString();
}

} // namespace

class TestCreatureJson : public QObject
{
    Q_OBJECT

private slots:
    void decodesFields()
    {
        const Creature c = Creature::decode(
            R"({"name":"Rex","palette":{"a":"#112233","b":"#ABC"},"frames":{"idle":["a.","ab"],)"
            R"("jump":[]},"attacks":["Fire","bark"],"sound":"grr","extra":{"x":1}})");
        QCOMPARE(c.name, QStringLiteral("Rex"));
        QCOMPARE(c.palette.value("b"), QStringLiteral("#ABC"));
        QCOMPARE(c.frames.value("idle"), (QStringList{"a.", "ab"}));
        QVERIFY(c.frames.contains("jump"));
        QCOMPARE(c.attacks, (QStringList{"Fire", "bark"}));
        QCOMPARE(c.sound, std::optional<QString>("grr"));
    }

    void absentAndNullOptionals_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("absent") << kMinimal;
        QByteArray withNulls = kMinimal;
        withNulls.chop(1);
        withNulls += R"(,"attacks":null,"sound":null})";
        QTest::newRow("null") << withNulls;
    }
    void absentAndNullOptionals()
    {
        QFETCH(QByteArray, json);
        const Creature c = Creature::decode(json);
        QVERIFY(c.attacks.isEmpty());
        QVERIFY(!c.sound.has_value());
    }

    void refusesWrongShapes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        QTest::newRow("no name") << QByteArray(R"({"palette":{},"frames":{}})")
                                 << "the key \"name\" is missing";
        QTest::newRow("null name") << QByteArray(R"({"name":null,"palette":{},"frames":{}})")
                                   << "\"name\" is not a string";
        QTest::newRow("no palette")
            << QByteArray(R"({"name":"x","frames":{}})") << "the key \"palette\" is missing";
        QTest::newRow("palette array") << QByteArray(R"({"name":"x","palette":[],"frames":{}})")
                                       << "\"palette\" is not an object";
        QTest::newRow("palette number")
            << QByteArray(R"({"name":"x","palette":{"a":1},"frames":{}})")
            << "the palette entry \"a\" is not a string";
        QTest::newRow("no frames")
            << QByteArray(R"({"name":"x","palette":{}})") << "the key \"frames\" is missing";
        QTest::newRow("frame of numbers")
            << QByteArray(R"({"name":"x","palette":{},"frames":{"idle":[1]}})")
            << "\"idle\" is not an array of strings";
        QTest::newRow("frame string")
            << QByteArray(R"({"name":"x","palette":{},"frames":{"idle":"a"}})")
            << "\"idle\" is not an array of strings";
        QTest::newRow("attacks string")
            << QByteArray(R"({"name":"x","palette":{},"frames":{},"attacks":"fire"})")
            << "\"attacks\" is not an array of strings";
        QTest::newRow("sound number")
            << QByteArray(R"({"name":"x","palette":{},"frames":{},"sound":7})")
            << "\"sound\" is not a string";
        QTest::newRow("array") << QByteArray("[]") << "the creature JSON is not an object";
    }
    void refusesWrongShapes()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        QCOMPARE(decodingFailure(json), message);
    }

    void parserErrorsAreReported_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("truncated") << kMinimal.left(30);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("deep nesting")
            << "{\"name\":" + QByteArray(5000, '[') + QByteArray(5000, ']') + "}";
        QTest::newRow("bad UTF-8") << QByteArray("{\"name\":\"\xff\xfe\"}");
    }
    void parserErrorsAreReported()
    {
        QFETCH(QByteArray, json);
        QJsonParseError expected{};
        QJsonDocument::fromJson(json, &expected);
        QVERIFY(expected.error != QJsonParseError::NoError);
        // The parser's own description, with where it stopped.
        QVERIFY2(decodingFailure(json).startsWith(expected.errorString()),
                 qPrintable(decodingFailure(json)));
    }

    void refusesEnormousInput()
    {
        // Valid JSON, but no creature is this big: refused before parsing.
        QByteArray json = kMinimal;
        json.append(QByteArray(Creature::kMaxJsonBytes, ' '));
        QVERIFY(decodingFailure(json).contains(QStringLiteral("larger than")));
        QCOMPARE(decodingFailure(kMinimal), QString());
    }

    void encodesCompactAndRoundTrips()
    {
        Creature c = samples::creature(QStringLiteral("Rëx \"the\" / dog"));
        const QByteArray json = c.encode();
        QVERIFY(!json.contains('\n'));
        QVERIFY(!json.contains(": "));
        QCOMPARE(Creature::decode(json), c);
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        QCOMPARE(object.keys(), (QStringList{"attacks", "frames", "name", "palette", "sound"}));

        c.sound.reset();
        c.attacks.clear();
        const QJsonObject withoutSound = QJsonDocument::fromJson(c.encode()).object();
        QVERIFY(!withoutSound.contains("sound"));
        QVERIFY(withoutSound.value("attacks").isArray());
        QCOMPARE(Creature::decode(c.encode()), c);
    }

    void fromReplySpans_data()
    {
        const QString object = QString::fromUtf8(samples::creature().encode());
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("prose around") << "Here it is: " + object + " Enjoy!" << QString();
        QTest::newRow("fenced") << "```json\n" + object + "\n```\nHave fun {-:" << QString();
        QTest::newRow("bare") << object << QString();
        QTest::newRow("reversed braces") << "}{"
                                         << "Claude's reply did not contain a creature.";
        QTest::newRow("no braces") << "Sorry, I can't."
                                   << "Claude's reply did not contain a creature.";
        QTest::newRow("only open") << "{ \"name\": "
                                   << "Claude's reply did not contain a creature.";
        QTest::newRow("empty") << ""
                               << "Claude's reply did not contain a creature.";
        QTest::newRow("two objects") << object + " or " + object
                                     << kNotJson + parserError((object + " or " + object).toUtf8());
        QTest::newRow("not a creature")
            << "{\"hello\": 1}" << kNotJson + "the key \"name\" is missing).";
        const QString deep = "{\"name\":" + QString(3000, u'[') + QString(3000, u']') + "}";
        QTest::newRow("deep nesting") << deep << kNotJson + parserError(deep.toUtf8());
    }
    void fromReplySpans()
    {
        QFETCH(QString, reply);
        QFETCH(QString, message);
        // Rows that end in the parser's own words give the start of the message.
        const QString failure = replyFailure(reply);
        if (message.isEmpty() || message.endsWith(u'.'))
            QCOMPARE(failure, message);
        else
            QVERIFY2(failure.startsWith(message) && failure.endsWith(QStringLiteral(").")),
                     qPrintable(failure));
        if (message.isEmpty())
            QCOMPARE(Creature::fromReply(reply), samples::creature());
    }

    void fromReplyRefusesEnormousReply()
    {
        const QString reply = "{\"name\":\"" + QString(Creature::kMaxJsonBytes, u'x') + "\"}";
        QVERIFY(replyFailure(reply).startsWith(kNotJson));
    }

    void fromReplyDoesNotValidate()
    {
        // Decoded as it stands; the check comes afterwards.
        const Creature c = Creature::fromReply(QString::fromUtf8(kMinimal));
        QCOMPARE(c.frames.value("idle"), (QStringList{"a.", "aa"}));
    }
};

QTEST_GUILESS_MAIN(TestCreatureJson)
#include "tst_creaturejson.moc"
