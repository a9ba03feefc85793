// The shipped page in the real engine, driven as the program drives it. Its statistics
// call is read by tst_Program.

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
    s.events = QString(crosses(kBeat, 0) ? "k" : "") + (crosses(2 * kBeat, kBeat) ? "s" : "") +
               (crosses(kBeat / 2, kBeat / 4) ? "h" : "") + (n == int(30 * kFps) ? "d" : "");
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

    QTemporaryDir tmp;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<CreatureLibrary> library;
    std::unique_ptr<WebHost> host;
    std::unique_ptr<FamiliarsCall> familiars;
    std::unique_ptr<RendererProtocol> protocol;
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
        host->evaluate("(function () { try { " + script +
                           "; return 'ok'; } catch (e) { return String(e); } })()",
                       [this, script](const QVariant &result) {
                           if (++answered; result.toString() != "ok")
                               failures << script.left(80) + " -> " + result.toString();
                       });
    }

    QStringList renderedLog() const { return files::lines(RendererLog().filePath()); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(RendererLog().filePath());
        settings = std::make_unique<Settings>(tmp.filePath("settings.json"));
        library = std::make_unique<CreatureLibrary>(tmp.filePath("creatures"),
                                                    resourcePath("web/creatures/tobble.json"));
        Creature pip = library->builtIn().value().validated();
        pip.name = "Pip";
        pip.palette.first() = "#3366ff";
        QCOMPARE(library->save(pip), QStringLiteral("Pip"));
        settings->setFamiliars({"Tobble", "Pip"});

        host = std::make_unique<WebHost>(resourcePath("web"));
        const auto record = [this](const QString &script) { evaluate(script); };
        familiars = std::make_unique<FamiliarsCall>(record, *settings, *library);
        protocol = std::make_unique<RendererProtocol>(
            record, [this] { return now; }, *settings, [this] { return panel; }, familiars.get());
        host->onReady = [this] {
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
        QCOMPARE(sent.size(), 2);
        QVERIFY(sent.at(0).startsWith("qx.config({W:640,H:480,"));
        QVERIFY(sent.at(1).startsWith("qx.setFamiliars([{") &&
                sent.at(1).contains("\"name\":\"Pip\""));
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
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
        QVERIFY2(renderedLog().isEmpty(), qPrintable(renderedLog().join('\n')));
        QCOMPARE(sent.count("qx.tick({silent:true})"), 1);
        // Every frame with events goes out, and level-only ticks besides.
        int eventFrames = 0;
        for (int n = 0; n < 60 * 30; ++n)
            eventFrames += musicFrame(n).events.isEmpty() ? 0 : 1;
        QVERIFY(eventFrames > 100);
        QVERIFY(sent.filter("qx.tick({lv:").size() > eventFrames);
        QCOMPARE(sent.filter("qx.config(").size(), 4);
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
        sent.clear();
        QCOMPARE(::kill(host->webProcessID().value_or(0), SIGKILL), 0);
        QVERIFY(waitFor([this] { return crashes == 1; }, 10000));
        QVERIFY(!protocol->pageReady());
        protocol->tick([] { return musicFrame(1); });
        QCOMPARE(sent, QStringList());
        QVERIFY(waitFor([this] { return readies == 2; }, 15000));
        QVERIFY(sent.size() == 2 && sent.at(0).startsWith("qx.config(") &&
                sent.at(1).startsWith("qx.setFamiliars([{"));
        QVERIFY(waitFor([this] { return answered >= 2; }, 5000));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
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
