#include "support/CreatureSamples.h"
#include "support/Files.h"
#include "support/PrivatePulse.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace bopling;

namespace {

const QString kProgram = QStringLiteral(BOPLING_BINARY_DIR "/bopling");
const QString kClient = QStringLiteral("Bopling");

// A number the windowinfo line gives for `field`, e.g. "screens".
QString field(const QString &line, const QString &name)
{
    const QRegularExpression pattern(QStringLiteral("(?:^| )%1=(\\([^)]*\\)|\\S+)").arg(name));
    return pattern.match(line).captured(1);
}

// The frame of a windowinfo line as its four numbers.
QList<double> frameOf(const QString &line)
{
    QList<double> numbers;
    for (const QString &number : field(line, QStringLiteral("frame")).mid(1).chopped(1).split(u','))
        numbers.append(number.trimmed().toDouble());
    return numbers;
}

} // namespace

// The debug command channel end to end: the real program in debug mode under
// Xvfb with a private sound server, driven only through its command file,
// which lives in a folder of this test's own (QX_CMD_DIR).
class DebugChannelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivatePulse> pulse;
    QTemporaryDir home;
    QTemporaryDir folder;
    QProcess program;

    QString path(const QString &name) const { return folder.filePath(name); }
    QString commandFile() const { return path("qx-cmd.txt"); }
    QString fail() { return QString::fromLocal8Bit(program.readAll()); }

    QJsonObject settings() const
    {
        return QJsonDocument::fromJson(
                   files::read(home.filePath(QStringLiteral("config/Bopling/settings.json"))))
            .object();
    }

    // Puts the commands in place in one step, as a script should, and waits
    // until the program has taken them (it runs them right after).
    bool send(const QByteArray &commands)
    {
        const QString draft = path("draft");
        files::write(draft, commands);
        return QFile::rename(draft, commandFile()) &&
               QTest::qWaitFor([&] { return !QFile::exists(commandFile()); }, 10000);
    }

    // Sends the commands and waits for the file `name`, which they end by
    // writing; returns what was written there.
    QByteArray ask(const QByteArray &commands, const QString &name)
    {
        QFile::remove(path(name));
        if (!send(commands))
            return {};
        if (!QTest::qWaitFor([&] { return QFile::exists(path(name)); }, 10000))
            return {};
        return files::read(path(name));
    }

    // Sends the commands and waits until they have all run.
    bool run(const QByteArray &commands)
    {
        return !ask(commands + "\nwindowinfo " + path("done.txt").toUtf8(), "done.txt").isEmpty();
    }

    // Waits for a state log line, written from now on, whose page statistics hold `text`.
    bool pageSays(const QByteArray &text)
    {
        const QString log = home.filePath(QStringLiteral("state.log"));
        const qsizetype from = files::read(log).size();
        return QTest::qWaitFor([&] { return files::read(log).mid(from).contains(text); }, 10000);
    }

    // The page's statistics in the newest state log line written from now on
    // that satisfies `wanted`; an empty object when none comes within 15 s.
    QJsonObject pageStats(const std::function<bool(const QJsonObject &)> &wanted)
    {
        const QString log = home.filePath(QStringLiteral("state.log"));
        const qsizetype from = files::read(log).size();
        QJsonObject stats;
        const bool seen = QTest::qWaitFor(
            [&] {
                const QByteArrayList lines = files::read(log).mid(from).trimmed().split('\n');
                stats = QJsonDocument::fromJson(lines.last()).object().value("js").toObject();
                return wanted(stats);
            },
            15000);
        return seen ? stats : QJsonObject();
    }
    static int hits(const QJsonObject &stats)
    {
        int sum = 0;
        for (const QJsonValue count : stats.value("events").toObject())
            sum += count.toInt();
        return sum;
    }

    // As a media player on the session bus would announce a track that plays.
    static void announce(const QString &title, const QStringList &artists)
    {
        const QVariantMap metadata{{"xesam:title", title}, {"xesam:artist", artists}};
        QDBusMessage changed = QDBusMessage::createSignal(
            "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties", "PropertiesChanged");
        changed << QStringLiteral("org.mpris.MediaPlayer2.Player")
                << QVariantMap{{"Metadata", metadata}, {"PlaybackStatus", "Playing"}}
                << QStringList();
        QDBusConnection::sessionBus().send(changed);
    }

    // windowinfo after the given commands.
    QString windowInfo(const QByteArray &before = {})
    {
        return QString::fromUtf8(ask(before + "windowinfo " + path("w.txt").toUtf8(), "w.txt"));
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X11 display (run under scripts/test-env)");
        // The pointer away from every place the panel takes in these tests,
        // so that only the hover override fades it.
        QCOMPARE(QProcess::execute("xdotool", {"mousemove", "1100", "100"}), 0);
        pulse = std::make_unique<PrivatePulse>();
        QVERIFY2(pulse->start(), qPrintable(pulse->errorString()));
        QProcessEnvironment env = pulse->environment();
        env.remove(QStringLiteral("QX_TEST_AUDIO"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("QX_DEBUG"), QStringLiteral("1"));
        env.insert(QStringLiteral("QX_CMD_DIR"), folder.path());
        env.insert(QStringLiteral("QX_LOG"), home.filePath(QStringLiteral("state.log")));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(kProgram, {});
        QVERIFY2(QTest::qWaitFor([&] { return pulse->countSourceOutputs(kClient) == 1; }, 30000),
                 qPrintable(fail()));
    }

    void cleanupTestCase()
    {
        program.terminate();
        if (!program.waitForFinished(5000))
            program.kill();
    }

    void menuDumpListsTheMenu()
    {
        const QStringList lines =
            QString::fromUtf8(ask("menudump " + path("m.txt").toUtf8(), "m.txt")).split(u'\n');
        QCOMPARE(lines.first(), QStringLiteral("    Listening to system audio"));
        QVERIFY2(lines.contains(QStringLiteral("  [x] Bottom right")),
                 qPrintable(lines.join(u'\n')));
        QCOMPARE(lines.last(), QStringLiteral("[ ] Quit Bopling"));
    }

    void stripLayoutThenWindowInfo()
    {
        const QString corner = windowInfo();
        const QString strip = windowInfo("set layout strip\n");
        // Along the bottom of the 1440-point screen, y counted upwards.
        const QList<double> frame = frameOf(strip);
        QVERIFY2(frame.mid(0, 3) == (QList<double>{0, 0, 1440}), qPrintable(strip + fail()));
        QVERIFY(frameOf(corner) != frame);
        QVERIFY2(pageSays(R"("layout":"strip")"), "the new layout did not reach the scene");
        const QRegularExpression facts(QStringLiteral(
            " visible=true level=3 screens=1 number=[1-9]\\d* occlusion=true alpha=1.00 "
            "ignoresMouse=true hover=none target=1.0$"));
        QVERIFY2(facts.match(strip).hasMatch(), qPrintable(strip));
    }

    void snapshotIsOpaquePng()
    {
        const QImage image =
            QImage::fromData(ask("snapshot " + path("s.png").toUtf8(), "s.png"), "PNG");
        QVERIFY2(!image.isNull(), qPrintable(fail()));
        const QList<double> frame = frameOf(windowInfo());
        QCOMPARE(image.size(), QSize(int(frame[2]), int(frame[3])));
        // The page's transparent sky shows the backdrop colour; nothing is see-through.
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < argb.height(); ++y)
            for (int x = 0; x < argb.width(); ++x)
                QCOMPARE(qAlpha(argb.pixel(x, y)), 255);
    }

    // With fading on, the override fades the panel wherever the pointer is;
    // "none" goes back to the pointer, which is elsewhere.
    void hoverOverrideDrivesTheFade()
    {
        for (const auto &[value, fade] :
             {std::pair{"1", " hover=true target=0.12"}, {"none", " hover=none target=1.0"}}) {
            QVERIFY(run(QByteArray("set hover ") + value));
            QTRY_VERIFY2_WITH_TIMEOUT(windowInfo().trimmed().endsWith(QLatin1String(fade)),
                                      qPrintable(windowInfo()), 5000);
        }
    }

    // Two applications play at once; "Listen to" one hears its clicks alone.
    void listenToOneApplication()
    {
        const auto play = [&](const char *client, bool clicks) {
            return pulse->startPlaying("bopling_a", PrivatePulse::testSignal(48000, 1.0, clicks),
                                       48000, 2, 60, QLatin1String(client));
        };
        auto clicker = play("Clicker", true);
        auto toner = play("Toner", false);
        QVERIFY(clicker && toner);
        QString menu;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         menu = ask("menudump " + path("m.txt").toUtf8(), "m.txt");
                         return menu.contains(
                             "> Listen to\n  [x] Everything\n  [ ] Clicker\n  [ ] Toner\n");
                     },
                     10000),
                 qPrintable(menu));

        // The tone alone: awake, and no hits while the clicks play on.
        const auto next = [](const QJsonObject &s) { return !s.isEmpty(); };
        QVERIFY(run("set listen Toner"));
        QTest::qWait(2000);
        const QJsonObject toneOnly = pageStats(next);
        QTest::qWait(4000);
        const QJsonObject later = pageStats(next);
        QVERIFY(!later.value("asleep").toBool(true));
        QVERIFY2(hits(later) <= hits(toneOnly) + 1, qPrintable(QString::number(hits(later))));

        QVERIFY(run("set listen Clicker"));
        const int before = hits(pageStats(next));
        QVERIFY(!pageStats([&](const QJsonObject &s) { return hits(s) >= before + 4; }).isEmpty());
        QVERIFY(
            files::read(home.filePath("state.log")).contains(R"("audio":"Listening to Clicker")"));

        // The one listened to stops: the party sleeps, though the tone plays on.
        clicker->kill();
        clicker->waitForFinished();
        QVERIFY(
            !pageStats([](const QJsonObject &s) { return s.value("asleep").toBool(); }).isEmpty());
        clicker = play("Clicker", true);
        QVERIFY(
            !pageStats([](const QJsonObject &s) { return s.value("asleep") == false; }).isEmpty());
        QVERIFY(run("set listen everything"));
        QCOMPARE(settings().value("listenTo"), QJsonValue(QJsonValue::Undefined));
    }

    // A media player announces tracks: the page shows each title as it came,
    // cut at 5,000 characters; not while another application is listened to,
    // and nothing once song titles are off.
    void songTitlesReachThePage()
    {
        const auto next = [](const QJsonObject &s) { return !s.isEmpty(); };
        QVERIFY(QDBusConnection::sessionBus().registerService("org.mpris.MediaPlayer2.boptest"));
        QVERIFY(run("set listen Some Other Player"));
        announce("Not this one", {});
        QTest::qWait(500);
        QCOMPARE(pageStats(next).value("nowPlaying"), QJsonValue(QJsonValue::Null));

        QVERIFY(run("set listen boptest"));
        const QString hostile = QStringLiteral("\"Quote\" 'n' \\back\\slash\nnew\u2028line ") +
                                QString(5000, u'x') + QStringLiteral("tail");
        announce(hostile, {"Ann", "Bo"});
        const QJsonObject shown =
            pageStats([](const QJsonObject &s) { return s.value("nowPlaying").isString(); });
        QCOMPARE(shown.value("nowPlaying").toString(), hostile.left(5000));

        QVERIFY(run("set songTitles false"));
        QCOMPARE(pageStats(next).value("nowPlaying"), QJsonValue(QJsonValue::Null));
        announce("Quiet please", {});
        QTest::qWait(500);
        QCOMPARE(pageStats(next).value("nowPlaying"), QJsonValue(QJsonValue::Null));
        QVERIFY(run("set songTitles true\nset listen everything"));
        QDBusConnection::sessionBus().unregisterService("org.mpris.MediaPlayer2.boptest");
    }

    void scriptReachesThePage()
    {
        // A script that throws is answered and leaves the scene as it is.
        QCOMPARE(ask("js qx.realStats = qx.stats; throw 5", QStringLiteral("qx-js-error.txt")),
                 QByteArray("js error: uncaught exception: 5"));
        QVERIFY(send("js qx.stats = () => ({poked: 'a b'})"));
        QVERIFY(pageSays(R"("js":{"poked":"a b"})"));
        // The page's own statistics again, for the tests after this one.
        QVERIFY(send("js qx.stats = qx.realStats"));
    }

    void setPausedAndIntegers()
    {
        QVERIFY(run("set paused 1\nset cornerSize +7\nset warriorCount many\nset bogus 1 2"));
        QVERIFY(QTest::qWaitFor([&] { return pulse->countSourceOutputs(kClient) == 0; }, 10000));
        const QJsonObject stored = settings();
        QCOMPARE(stored.value(QStringLiteral("paused")), QJsonValue(true));
        QCOMPARE(stored.value(QStringLiteral("cornerSize")), QJsonValue(7)); // as given
        QCOMPARE(stored.value(QStringLiteral("warriorCount")), QJsonValue(-1));

        QVERIFY(run("set paused 0"));
        QCOMPARE(settings().value(QStringLiteral("paused")).toBool(true), false);
        QTest::qWait(2000);
        QCOMPARE(pulse->countSourceOutputs(kClient), 0);
    }

    void saveCreatureKeepsTheLastThreeFamiliars()
    {
        QByteArray commands;
        for (const char *name : {"Ada", "Bo", "Cy"}) {
            const QString file = path(QLatin1String(name) + QStringLiteral(".json"));
            files::write(file, samples::creature(QLatin1String(name)).encode());
            commands += "savecreature " + file.toUtf8() + '\n';
        }
        files::write(path("bad.json"), "{\"name\": \"Nope\"}");
        commands += "savecreature " + path("bad.json").toUtf8();
        QVERIFY(run(commands));
        QCOMPARE(settings().value(QStringLiteral("familiars")).toVariant().toStringList(),
                 (QStringList{"Ada", "Bo", "Cy"}));
        QVERIFY2(pageSays(R"("familiars":["Ada","Bo","Cy"])"),
                 "the familiars did not reach the scene");
    }

    // A link planted where a result goes is replaced, never written through (what the
    // command file itself must be is checked where it is read).
    void resultsAreNotWrittenThroughLinks()
    {
        const QString victim = path("victim.txt");
        files::write(victim, "keep");
        QFile::remove(path("w.txt"));
        QVERIFY(QFile::link(victim, path("w.txt")));
        QVERIFY(run("windowinfo " + path("w.txt").toUtf8()));
        QVERIFY(!QFileInfo(path("w.txt")).isSymLink());
        QVERIFY(files::read(path("w.txt")).startsWith("frame="));
        QCOMPARE(files::read(victim), QByteArray("keep"));
    }
};

QTEST_GUILESS_MAIN(DebugChannelTest)
#include "tst_DebugChannel.moc"
