// The web host in the real engine on a page of the test's own; the shipped page is in
// tst_renderer_e2e.

#include "WaitFor.h"
#include "render/RendererLog.h"
#include "render/WebHost.h"
#include "support/Files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>

#include <csignal>

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
    }

    void readyWithoutAValueCounts()
    {
        readies = 0;
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

int main(int argc, char **argv)
{
    WebHost::registerScheme();
    QApplication app(argc, argv);
    TestWebHostEngine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webhost_engine.moc"
