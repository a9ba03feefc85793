// The web host in the real engine: first on a page of the test's own, then the shipped page
// driven as the program drives it. The page's statistics call is read by tst_Program.

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

#include <csignal>
#include <memory>

using namespace bopling;

namespace {

// Posts before the channel can be up: a plain string and a numeric error (both dropped), a
// text error, then ready together with a second error.
constexpr char kPage[] = R"(<!doctype html>
<html><head><meta charset="utf-8"><style>html,body{margin:0;background:transparent}</style></head>
<body><script>
var post = function (body) { window.webkit.messageHandlers.qx.postMessage(body); };
post("ready");
post({error: 42});
post({error: "early error"});
window.qx = { stats: function () { return {loads: 1, title: document.title}; } };
window.xhr = {};
function get(name) {
  var request = new XMLHttpRequest();
  request.onloadend = function () {
    xhr[name] = request.status + " " + (request.getResponseHeader("Content-Type") || "-") +
                " " + request.responseText.length;
  };
  request.open("GET", name);
  request.send();
}
["data.json", "missing.js", "sub/", "empty.css", "sub/../data.json"].forEach(get);
post({ready: true, error: "with ready"});
</script></body></html>
)";

// The renderer log without its time stamps.
QStringList logLines()
{
    QStringList lines = files::lines(RendererLog().filePath());
    for (QString &line : lines)
        line = line.section(QLatin1Char(' '), 1);
    return lines;
}

} // namespace

class TestWebHostEngine : public QObject
{
    Q_OBJECT

    QTemporaryDir web;
    std::unique_ptr<WebHost> host;
    int readies = 0;

    QVariant evaluated(const QString &script)
    {
        QVariant result;
        bool done = false;
        host->evaluate(script, [&](const QVariant &value) {
            result = value;
            done = true;
        });
        return waitFor([&] { return done; }, 5000) ? result : QStringLiteral("<no answer>");
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(RendererLog().filePath());
        for (const auto &[name, data] : {std::pair{"index.html", kPage},
                                         {"data.json", R"({"a":1})"},
                                         {"empty.css", ""},
                                         {"sub/page.html", "sub"}})
            files::write(web.filePath(name), data);
        host = std::make_unique<WebHost>(web.path());
        host->onReady = [this] { ++readies; };
        host->web()->resize(320, 240);
        host->web()->show();
    }

    void cleanupTestCase() { host.reset(); }

    void queuedMessagesFollowTheRules()
    {
        QVERIFY(waitFor([this] { return readies > 0; }, 10000));
        spin(300); // anything else the page might still post
        QCOMPARE(readies, 1);
        QCOMPARE(logLines(), (QStringList{"early error", "with ready"}));
        QVERIFY(host->webProcessID().value_or(0) > 0);
    }

    void schemeAsTheEngineSeesIt()
    {
        QVERIFY(
            waitFor([this] { return evaluated("Object.keys(xhr).length").toInt() == 5; }, 5000));
        // Failed jobs reach the page as network errors (status 0).
        QCOMPARE(
            evaluated("JSON.stringify([xhr['data.json'], xhr['sub/../data.json'], "
                      "xhr['empty.css'], xhr['missing.js'], xhr['sub/']])")
                .toString(),
            R"(["200 application/json 7","200 application/json 7","200 text/css 0","0 - 0","0 - 0"])");
    }

    void staysOnItsOwnPages()
    {
        readies = 0;
        host->evaluate("location.href = 'https://example.invalid/'");
        host->evaluate("window.open('qx://app/sub/page.html')");
        spin(500);
        QCOMPARE(host->web()->url(), WebHost::pageUrl());
        QCOMPARE(evaluated("JSON.stringify(qx.stats())").toString(), R"({"loads":1,"title":""})");
        QCOMPARE(readies, 0);
        // A failing script yields no value rather than an error in the program.
        QVERIFY(!evaluated("JSON.stringify(nothing.here())").isValid());
        // "ready" counts whatever its value, even one JSON cannot hold.
        host->evaluate("window.webkit.messageHandlers.qx.postMessage({ready: undefined})");
        QVERIFY(waitFor([this] { return readies == 1; }, 5000));
    }

    // A call still running when the render process dies is answered with no result then;
    // one still pending when the host goes is never answered (and nothing crashes).
    void pendingCallsEndWithThePage()
    {
        // Busy for 2 s inside the page, as a slow qx.stats() would be.
        const QString slow = "(function () { var end = Date.now() + 2000; while (Date.now() < end) "
                             "{} return 1; })()";
        QVariantList answers;
        const auto count = [&](const QVariant &result) { answers.append(result); };
        QVERIFY(waitFor([this] { return readies > 0; }, 10000)); // the page is up
        readies = 0;
        host->evaluate(slow, count);
        spin(300);
        QVERIFY(::kill(host->webProcessID().value_or(0), SIGKILL) == 0);
        QVERIFY(waitFor([&] { return !answers.isEmpty(); }, 5000));
        QVERIFY(!answers.first().isValid());

        QVERIFY(waitFor([this] { return readies > 0; }, 10000)); // reloaded
        host->evaluate(slow, count);
        spin(300);
        host.reset();
        QCOMPARE(answers.size(), 1);
    }
};

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

    void readyWithinFiveSecondsAndDrawn()
    {
        QVERIFY(waitFor([this] { return readies > 0; }, 5000));
        QVERIFY(QTest::qWaitForWindowExposed(host->web()));
        spin(500);
        const QImage image = host->web()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 4)
            for (int x = 0; x < image.width(); x += 4)
                if (qAlpha(image.pixel(x, y)) > 0)
                    colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() > 8, qPrintable(QString::number(colours.size())));
        // Scaled once and never smoothed: each logical pixel is a 2 x 2 block of one colour.
        int smoothed = 0;
        for (int y = 0; y + 1 < image.height(); y += 2)
            for (int x = 0; x + 1 < image.width(); x += 2) {
                const QRgb c = image.pixel(x, y);
                smoothed += image.pixel(x + 1, y) != c || image.pixel(x, y + 1) != c ||
                            image.pixel(x + 1, y + 1) != c;
            }
        QCOMPARE(smoothed, 0);
    }

    void killedPageComesBackWithConfigAndFamiliars()
    {
        sent.clear();
        QCOMPARE(::kill(host->webProcessID().value_or(0), SIGKILL), 0);
        QVERIFY(waitFor([this] { return crashes == 1; }, 10000));
        QVERIFY(!protocol->pageReady());
        protocol->tick([] {
            Snapshot s;
            s.events = QStringLiteral("k");
            return s;
        });
        QCOMPARE(sent, QStringList());
        QVERIFY(waitFor([this] { return readies == 2; }, 15000));
        QVERIFY(sent.size() == 2 && sent.at(0).startsWith("qx.config(") &&
                sent.at(1).startsWith("qx.setFamiliars([{"));
        QVERIFY(waitFor([this] { return answered >= 2; }, 5000));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
    }
};

// One engine start for both.
int main(int argc, char **argv)
{
    WebHost::registerScheme();
    QApplication app(argc, argv);
    TestWebHostEngine ownPage;
    TestRendererEndToEnd shippedPage;
    return QTest::qExec(&ownPage, argc, argv) | QTest::qExec(&shippedPage, argc, argv);
}

#include "tst_renderer_e2e.moc"
