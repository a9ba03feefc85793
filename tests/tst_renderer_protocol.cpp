#include "creatures/CreatureLibrary.h"
#include "render/FamiliarsCall.h"
#include "render/RendererProtocol.h"
#include "render/ScriptCalls.h"
#include "settings/Settings.h"
#include "support/Files.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdio>
#include <memory>

using namespace bopling;

namespace {

Snapshot sound(const QString &events, double level = 0.5)
{
    Snapshot s;
    s.events = events;
    s.levels = {level, level, level, level};
    s.bpm = 120;
    s.tempoConfidence = 0.5;
    s.energy = 0.4;
    return s;
}

Snapshot silence(double seconds = 2.0)
{
    Snapshot s;
    s.silent = true;
    s.silentSeconds = seconds;
    return s;
}

Creature creature(const QString &name, const QString &color = QStringLiteral("#112233"))
{
    Creature c;
    c.name = name;
    c.palette.insert("a", color);
    c.frames.insert("idle", {"a.a", ".a."});
    c.attacks = {"bite"};
    return c;
}

QJsonArray familiarsIn(const QString &call)
{
    if (!call.startsWith("qx.setFamiliars(") || !call.endsWith(')'))
        return {"<not a familiars call>"};
    return QJsonDocument::fromJson(call.mid(16).chopped(1).toUtf8()).array();
}

// Makes a German LC_NUMERIC available (decimal comma) even where the system has not
// generated that locale, by building one into a private folder.
bool useCommaLocale(const QString &scratch)
{
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        return true;
    const QString target = scratch + QStringLiteral("/de_DE.UTF-8");
    QProcess localedef;
    localedef.start("localedef", {"-i", "de_DE", "-f", "UTF-8", target});
    if (!localedef.waitForFinished(60000))
        return false;
    qputenv("LOCPATH", QFile::encodeName(scratch));
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

} // namespace

class TestRendererProtocol : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir scratch; // a comma locale built here if the system lacks one
    std::unique_ptr<QTemporaryDir> tmp;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<CreatureLibrary> library;
    std::unique_ptr<FamiliarsCall> familiars;
    std::unique_ptr<RendererProtocol> protocol;
    QStringList calls;
    double now = 1000.0;
    int snapshotsTaken = 0;

    // One frame with this snapshot; returns what was sent.
    QStringList frame(const Snapshot &snapshot, double advance = 1.0 / 30)
    {
        now += advance;
        calls.clear();
        protocol->tick([&] {
            ++snapshotsTaken;
            return snapshot;
        });
        return calls;
    }

    QStringList frames(int count, const Snapshot &snapshot)
    {
        QStringList all;
        while (count-- > 0)
            all << frame(snapshot);
        return all;
    }

    QString builtInPath() const { return tmp->filePath("web/tobble.json"); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // Every text below is built under a locale that writes a decimal comma.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        if (useCommaLocale(scratch.path())) {
            char probe[16];
            std::snprintf(probe, sizeof probe, "%.2f", 0.5);
            QCOMPARE(QByteArray(probe), QByteArray("0,50")); // the locale really is in force
        } else {
            qWarning("no German LC_NUMERIC available; checking the Qt default locale only");
        }
    }

    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        files::write(builtInPath(), creature("Tobble", "#ffaa00").encode());
        settings = std::make_unique<Settings>(tmp->filePath("settings.json"));
        library = std::make_unique<CreatureLibrary>(tmp->filePath("creatures"), builtInPath());
        auto record = [this](const QString &script) { calls << script; };
        familiars = std::make_unique<FamiliarsCall>(record, *settings, *library);
        protocol = std::make_unique<RendererProtocol>(
            record, [this] { return now; }, *settings, [] { return QSizeF(640, 480); },
            familiars.get());
        protocol->pageDidBecomeReady();
        calls.clear();
        snapshotsTaken = 0;
        now = 1000.0;
    }

    // Paused (no snapshot taken) or silent: one silent tick for the whole stretch.
    void silentStretchesSendOneSilentTick()
    {
        const QStringList silent{"qx.tick({silent:true})"};
        settings->setPaused(true);
        protocol->pauseDidToggle();
        QCOMPARE(frames(3, sound("k")), silent);
        QCOMPARE(snapshotsTaken, 0);

        settings->setPaused(false);
        protocol->pauseDidToggle();
        QCOMPARE(frames(4, silence(2.0)), silent);
        QCOMPARE(frame(silence(6.0)), QStringList());
        QCOMPARE(protocol->lastSilent(), std::optional<bool>(true));
        QCOMPARE(protocol->silentSeconds(), 6.0); // kept up to date while nothing is sent

        const QStringList sent = frames(4, sound("kh"));
        QVERIFY(sent.size() == 4 && sent.last().endsWith(",ev:'kh'})"));
        QCOMPARE(protocol->lastSilent(), std::optional<bool>(false));
        QCOMPARE(protocol->silentSeconds(), 0.0);
        QCOMPARE(frames(5, silence()), silent);
    }

    // Levels go out after 0.3 s, an event at once, and a clock set back never stops them.
    void levelThrottle()
    {
        for (const auto &[gap, events] : {std::pair{0.3, ""}, {0.01, "s"}, {-3600.0, ""}}) {
            QCOMPARE(frame(sound("k", 0.1), 1.0).size(), 1);
            QCOMPARE(
                frame(sound(events, 0.9), gap),
                QStringList{"qx.tick({lv:[0.90,0.90,0.90,0.90],bpm:120.0,conf:0.50,en:0.40,ev:'" +
                            QString(events) + "'})"});
            QCOMPARE(protocol->lastLevels(), now);
        }
    }

    // Numbers that are not numbers go out as 0, and of the events only the four letters,
    // so that a quote cannot end the script's text.
    void scriptTexts()
    {
        Snapshot odd = sound("k');shred('", qQNaN());
        odd.bpm = qInf();
        QCOMPARE(ScriptCalls::tick(odd),
                 "qx.tick({lv:[0.00,0.00,0.00,0.00],bpm:0.0,conf:0.50,en:0.40,ev:'kshd'})");

        const QJsonObject stored{
            {"layout", "strip"},  {"stripSize", 2},    {"cornerSize", 3},
            {"scene", "walk"},    {"warriorCount", 0}, {"intensity", 0},
            {"beatPulse", false}, {"monsters", false}, {"familiars", QJsonArray()}};
        const Settings store(
            files::write(tmp->filePath("stored.json"), QJsonDocument(stored).toJson()));
        QCOMPARE(ScriptCalls::config(RendererConfig::from(store, QSizeF(1510.9, 96.5))),
                 "qx.config({W:1510,H:96,layout:'strip',intensity:0,tobble:false,warriors:false,"
                 "warriorCount:0,pulse:false,monsters:false,scale:2,scene:'walk',size:2})");

        // A song text is cut before a character it would split, never inside it.
        const QString title = QString(ScriptCalls::kMaxSongText - 1, u'a') + QStringLiteral("😀!");
        QCOMPARE(ScriptCalls::nowPlaying(title, QStringLiteral("\\\t")),
                 "qx.nowPlaying({title:\"" + title.left(ScriptCalls::kMaxSongText - 1) +
                     "\",artist:\"\\\\\\u0009\"})");
    }

    void familiarsPruneStaleNames_data()
    {
        QTest::addColumn<QStringList>("saved"); // creatures in the library besides Tobble
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("kept");
        using L = QStringList;
        QTest::newRow("setting order") << L{"Rex", "Mia"} << L{"Mia", "Tobble", "Rex"}
                                       << L{"Mia", "Tobble", "Rex"} << L{"Mia", "Tobble", "Rex"};
        QTest::newRow("stale name before Tobble")
            << L() << L{"Ghost", "Tobble"} << L{"Tobble"} << L{"Tobble"};
        QTest::newRow("built-in unreadable: skipped, kept")
            << L{"Rex"} << L{"Tobble", "Rex"} << L{"Rex"} << L{"Tobble", "Rex"};
    }
    void familiarsPruneStaleNames()
    {
        QFETCH(QStringList, saved);
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, kept);
        if (QTest::currentDataTag() == QLatin1String("built-in unreadable: skipped, kept"))
            QVERIFY(QFile::remove(builtInPath()));
        for (const QString &name : saved)
            library->save(creature(name));
        settings->setFamiliars(chosen);
        protocol->pageDidBecomeReady();
        QCOMPARE(calls.size(), 2);
        QVERIFY(calls.at(0).contains("tobble:true"));
        const QJsonArray array = familiarsIn(calls.at(1));
        QStringList names;
        for (const QJsonValue &value : array)
            names << value["name"].toString();
        QCOMPARE(names, sent);
        QCOMPARE(settings->familiars(), kept);
        // The built-in creature goes out in its normalized JSON form.
        if (const qsizetype i = sent.indexOf("Tobble"); i >= 0)
            QCOMPARE(array.at(i).toObject(), creature("Tobble", "#ffaa00").toJsonObject());

        // Unchanged familiars are not sent again; a changed creature is.
        calls.clear();
        protocol->pushConfig();
        protocol->pushConfig();
        QCOMPARE(calls.size(), 2);
        if (kept.contains("Rex")) {
            library->replace("Rex", creature("Rex", "#abcdef"));
            protocol->pushConfig();
            QVERIFY(calls.size() == 4 && calls.at(3).contains("#abcdef"));
        }
    }

    void unreadableFolderKeepsTheSetting()
    {
        // A regular file where the creature folder should be: the folder cannot
        // be listed, so nothing may be pruned from the user's choice.
        const CreatureLibrary unreadable(tmp->filePath("settings.json"), builtInPath());
        FamiliarsCall call([](const QString &) {}, *settings, unreadable);
        settings->setFamiliars({"Rex", "Tobble"});
        QCOMPARE(call.familiarsJSON().count("\"name\""), 1);
        QCOMPARE(settings->familiars(), (QStringList{"Rex", "Tobble"}));
    }
};

QTEST_GUILESS_MAIN(TestRendererProtocol)
#include "tst_renderer_protocol.moc"
