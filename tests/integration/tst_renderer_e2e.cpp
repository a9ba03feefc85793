// The shipped renderer page inside the real engine, driven the way the program drives it:
// the page announces itself, takes the configuration, the familiars and a minute of
// music-like ticks (sent faster than real time) without an error, shows pixels, and comes
// back after its render process is killed. The statistics call is read by tst_Program.

#include "WaitFor.h"
#include "creatures/CreatureLibrary.h"
#include "render/FamiliarsCall.h"
#include "render/RendererLog.h"
#include "render/RendererProtocol.h"
#include "render/WebHost.h"
#include "settings/Resources.h"
#include "settings/Settings.h"
#include "support/Files.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include <cmath>
#include <csignal>
#include <memory>

using namespace bopling;

namespace {

// Frame `n` of a 124 BPM track at 30 frames a second: kicks on the beat, snares on every
// second beat, hats on the half beats, a drop at 30 s and three seconds of silence at 40 s.
Snapshot musicFrame(int n)
{
    constexpr double kFps = 30;
    constexpr double kBeat = 60.0 / 124;
    const double t = n / kFps;
    Snapshot s;
    if (t >= 40 && t < 43) {
        s.silent = t >= 41.5;
        s.silentSeconds = t - 40;
        return s;
    }
    const auto crosses = [&](double period, double offset) {
        return std::floor((t - offset) / period) != std::floor((t - offset - 1 / kFps) / period);
    };
    if (crosses(kBeat, 0))
        s.events += QLatin1Char('k');
    if (crosses(2 * kBeat, kBeat))
        s.events += QLatin1Char('s');
    if (crosses(kBeat / 2, kBeat / 4))
        s.events += QLatin1Char('h');
    if (n == int(30 * kFps))
        s.events += QLatin1Char('d');
    const double phase = std::fmod(t, kBeat) / kBeat;
    s.levels = {std::exp(-4 * phase), 0.4 + 0.3 * std::sin(t), 0.2 + 0.1 * std::cos(3 * t),
                0.5 + 0.2 * std::exp(-3 * phase)};
    s.bpm = t < 4 ? 0 : 124.0;
    s.tempoConfidence = std::min(1.0, t / 20);
    s.energy = 0.3 + 0.4 * std::min(1.0, t / 30);
    return s;
}

} // namespace

class TestRendererEndToEnd : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<CreatureLibrary> library;
    std::unique_ptr<WebHost> host;
    std::unique_ptr<FamiliarsCall> familiars;
    std::unique_ptr<RendererProtocol> protocol;
    QElapsedTimer sinceStart;
    qint64 readyAfterMs = -1;
    int readies = 0;
    int crashes = 0;
    QStringList sent;
    QStringList failures; // calls that threw inside the page
    int answered = 0;
    double now = 1000.0;
    QSizeF panel{640, 480};

    // Every call goes to the page as the program sends it, wrapped so that an exception
    // inside the page's functions comes back to the test.
    void evaluate(const QString &script)
    {
        sent << script;
        host->evaluate(QStringLiteral("(function () { try { ") + script +
                           QStringLiteral("; return 'ok'; } catch (e) { return String(e); } })()"),
                       [this, script](const QVariant &result) {
                           ++answered;
                           if (result.toString() != QLatin1String("ok"))
                               failures
                                   << script.left(80) + QStringLiteral(" -> ") + result.toString();
                       });
    }

    QStringList renderedLog() const { return files::lines(RendererLog().filePath()); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(RendererLog().filePath());
        settings = std::make_unique<Settings>(tmp.filePath(QStringLiteral("settings.json")));
        library = std::make_unique<CreatureLibrary>(
            tmp.filePath(QStringLiteral("creatures")),
            resourcePath(QStringLiteral("web/creatures/tobble.json")));
        std::optional<Creature> tobble = library->builtIn();
        QVERIFY2(tobble.has_value(), "the shipped built-in creature must decode");
        Creature pip = tobble->validated();
        pip.name = QStringLiteral("Pip");
        pip.palette.first() = QStringLiteral("#3366ff");
        QCOMPARE(library->save(pip), QStringLiteral("Pip"));
        settings->setFamiliars({QStringLiteral("Tobble"), QStringLiteral("Pip")});

        sinceStart.start();
        host = std::make_unique<WebHost>(resourcePath(QStringLiteral("web")));
        const auto record = [this](const QString &script) { evaluate(script); };
        familiars = std::make_unique<FamiliarsCall>(record, *settings, *library);
        protocol = std::make_unique<RendererProtocol>(
            record, [this] { return now; }, *settings, [this] { return panel; }, familiars.get());
        host->onReady = [this] {
            if (readyAfterMs < 0)
                readyAfterMs = sinceStart.elapsed();
            ++readies;
            protocol->pageDidBecomeReady();
        };
        host->onCrash = [this] {
            ++crashes;
            protocol->pageDidCrash();
        };
        host->web()->resize(panel.toSize());
        host->web()->show();
    }

    void readyWithinFiveSeconds()
    {
        QVERIFY(waitFor([this] { return readies > 0; }, 5000));
        qInfo("ready %lld ms after the host was created", readyAfterMs);
        QCOMPARE(sent.size(), 2);
        QVERIFY(sent.at(0).startsWith(QLatin1String("qx.config({W:640,H:480,")));
        QVERIFY(sent.at(1).startsWith(QLatin1String("qx.setFamiliars([{")));
        QVERIFY(sent.at(1).contains(QLatin1String("\"name\":\"Pip\"")));
    }

    void aMinuteOfMusic()
    {
        sent.clear();
        for (int n = 0; n < 60 * 30; ++n) {
            now += 1.0 / 30;
            protocol->tick([n] { return musicFrame(n); });
            // Now and then the user changes something the page shows.
            if (n % 450 == 449) {
                const bool strip = settings->layout() == Layout::corner;
                settings->setLayout(strip ? Layout::strip : Layout::corner);
                settings->setScene(strip ? Scene::walk : Scene::campfire);
                panel = strip ? QSizeF(1440, 120) : QSizeF(640, 480);
                host->web()->resize(panel.toSize());
                protocol->pushConfig();
            }
            // About ten times faster than real time, with room for the page to draw.
            spin(3);
        }
        QVERIFY(waitFor([this] { return answered >= sent.size() + 2; }, 20000));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
        QVERIFY2(renderedLog().isEmpty(), qPrintable(renderedLog().join(QLatin1Char('\n'))));
        QCOMPARE(sent.count(QStringLiteral("qx.tick({silent:true})")), 1);
        // Every frame with events goes out, and level-only ticks besides.
        int eventFrames = 0;
        for (int n = 0; n < 60 * 30; ++n)
            eventFrames += musicFrame(n).events.isEmpty() ? 0 : 1;
        QVERIFY(eventFrames > 100);
        QVERIFY(sent.filter(QStringLiteral("qx.tick({lv:")).size() > eventFrames);
        QCOMPARE(sent.filter(QStringLiteral("qx.config(")).size(), 4);
    }

    void snapshotHasPixels()
    {
        QVERIFY(QTest::qWaitForWindowExposed(host->web()));
        spin(500);
        const QImage image = host->web()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 4)
            for (int x = 0; x < image.width(); x += 4)
                if (qAlpha(image.pixel(x, y)) > 0)
                    colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() > 8, qPrintable(QString::number(colours.size())));
    }

    void killedPageComesBackWithConfigAndFamiliars()
    {
        const qint32 pid = host->webProcessID().value_or(0);
        QVERIFY(pid > 0);
        sent.clear();
        QCOMPARE(::kill(pid, SIGKILL), 0);
        QVERIFY(waitFor([this] { return crashes == 1; }, 10000));
        QVERIFY(!protocol->pageReady());
        protocol->tick([] { return musicFrame(1); });
        QCOMPARE(sent, QStringList());
        QVERIFY(waitFor([this] { return readies == 2; }, 15000));
        QCOMPARE(sent.size(), 2);
        QVERIFY(sent.at(0).startsWith(QLatin1String("qx.config(")));
        QVERIFY(sent.at(1).startsWith(QLatin1String("qx.setFamiliars([{")));
        QVERIFY(waitFor([this] { return answered >= 2; }, 5000));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }
};

int main(int argc, char **argv)
{
    WebHost::registerScheme();
    QApplication app(argc, argv);
    TestRendererEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_renderer_e2e.moc"
