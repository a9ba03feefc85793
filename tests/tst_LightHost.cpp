// The light host: the page's modules in the program's own script engine, drawing what they
// draw under Node, restarting after faults, and loading nothing from outside the web folder.

#include "integration/WaitFor.h"
#include "render/LightHost.h"
#include "render/SceneEngine.h"
#include "render/SceneModules.h"
#include "support/Files.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace bopling;

namespace {

// A copy of the shipped scripts in web/js of a temporary folder, with the test's own files.
class WebCopy
{
public:
    WebCopy()
    {
        const QDir shipped(QStringLiteral(BOPLING_SOURCE_DIR "/resources/web/js"));
        for (const QString &name : shipped.entryList(QDir::Files))
            files::write(js(name), files::read(shipped.filePath(name)));
    }
    QString folder() const { return dir.filePath(QStringLiteral("web")); }
    QString js(const QString &name) const { return folder() + QStringLiteral("/js/") + name; }
    QString outside(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
};

// A page of the test's own whose tick runs `tick`.
QByteArray pageWithTick(const QByteArray &tick)
{
    return "export const qx = { config() {}, setFamiliars() {}, stats() { return {}; },\n"
           "  tick() { " +
           tick + " } };\nqxHost.postMessage({ ready: true });\n";
}

} // namespace

class LightHostTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QFile::remove(RendererLog().filePath()); }

    // Both scenes in both layouts, after the same configuration, familiars and ticks at the
    // same clock: the picture the panel builds from the rectangles the page sends equals, pixel
    // for pixel, the scene's picture under Node.
    void drawsWhatNodeDraws()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            QSKIP("node is not installed");
        WebCopy web;
        files::write(web.js(QStringLiteral("trace.js")),
                     files::read(QStringLiteral(BOPLING_SOURCE_DIR "/tests/web/trace.js")));
        files::write(web.js(QStringLiteral("trace-data.js")),
                     "export const FAMILIARS = [" +
                         files::read(QStringLiteral(BOPLING_SOURCE_DIR
                                                    "/resources/web/creatures/tobble.json")) +
                         "];\n");

        // One picture a case; each case has a size of its own.
        // Only what changed is copied, as the light host does.
        QList<QImage> light;
        QByteArray before;
        SceneEngine engine(web.folder(), QStringLiteral("js/trace.js"), [] { return 0.0; });
        engine.onPresent = [&](const QByteArray &rgba, QSize size, QRect rect) {
            if (light.isEmpty() || light.last().size() != size) {
                light.append(QImage());
                before.clear();
            }
            const QRect changed = SceneEngine::changedPart(before, rgba, size, rect);
            SceneEngine::copyPixels(light.last(), rgba, size, changed);
            before = rgba;
        };
        QString failure;
        bool done = false;
        engine.onFailure = [&](const QString &reason) { failure = reason; };
        engine.onMessage = [&](const QJsonValue &) { done = true; };
        engine.start();
        QVERIFY(waitFor([&] { return done || !failure.isEmpty(); }, 30000));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));

        QProcess run;
        run.start(node,
                  {QStringLiteral(BOPLING_SOURCE_DIR "/tests/web/trace-run.mjs"), web.folder()});
        QVERIFY(run.waitForFinished(60000));
        QVERIFY2(run.exitCode() == 0, run.readAllStandardError().constData());
        const QList<QByteArray> lines = run.readAllStandardOutput().split('\n');
        QCOMPARE(light.size(), 4);
        for (int i = 0; i < light.size(); ++i) {
            const QList<QByteArray> parts = lines.value(i).split(' ');
            QCOMPARE(parts.size(), 3);
            const QByteArray rgba = QByteArray::fromBase64(parts[2]);
            const QImage expected =
                QImage(reinterpret_cast<const uchar *>(rgba.constData()), parts[0].toInt(),
                       parts[1].toInt(), QImage::Format_RGBA8888)
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QCOMPARE(light[i].convertToFormat(expected.format()), expected);
        }
    }

    // Each fault ends the run with one line in the renderer log; the scene comes back ("ready"
    // again) and the first restart does not wait.
    void faultsRestartTheScene_data()
    {
        QTest::addColumn<QByteArray>("tick");
        QTest::addColumn<QString>("logged");
        QTest::newRow("exception") << QByteArray("throw new TypeError('no drums');")
                                   << QStringLiteral("TypeError: no drums (broken.js:2)");
        // Whatever is thrown, Error or not, ends the run.
        QTest::newRow("string") << QByteArray("throw 'x';")
                                << QStringLiteral("uncaught exception: \"x\"");
        QTest::newRow("number") << QByteArray("throw 5;")
                                << QStringLiteral("uncaught exception: 5");
        QTest::newRow("null, from a timer")
            << QByteArray("qxHost.setTimeout(() => { throw null; }, 0);")
            << QStringLiteral("uncaught exception: null");
        QTest::newRow("endless loop")
            << QByteArray("for (;;) {}") << QStringLiteral("ran for more than 1 s and was stopped");
    }
    void faultsRestartTheScene()
    {
        QFETCH(QByteArray, tick);
        QFETCH(QString, logged);
        WebCopy web;
        files::write(web.js(QStringLiteral("broken.js")), pageWithTick(tick));
        LightHost host(web.folder(), nullptr, LightHost::monotonicMilliseconds(),
                       QStringLiteral("js/broken.js"));
        int ready = 0;
        int crashed = 0;
        host.onReady = [&] { ++ready; };
        host.onCrash = [&] { ++crashed; };
        QVERIFY(waitFor([&] { return ready == 1; }, 5000));

        QElapsedTimer clock;
        clock.start();
        host.evaluate(QStringLiteral("qx.tick({silent:true})"));
        QVERIFY2(clock.elapsed() < 3000, "the runaway was not stopped in time");
        QVERIFY(waitFor([&] { return ready == 2; }, 5000));
        QCOMPARE(crashed, 1);
        QCOMPARE(host.runs(), 2);
        const QStringList lines = files::lines(host.rendererLog().filePath());
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(logged) && lines[0].endsWith(QLatin1String("starting it again")),
                 qPrintable(lines[0]));
        // The new run answers.
        int stats = 0;
        host.evaluate(QStringLiteral("JSON.stringify(qx.stats())"), [&](const QVariant &result) {
            stats += result.toString() == QLatin1String("{}");
        });
        QCOMPARE(stats, 1);
    }

    // The debug channel's own scripts: what they throw is answered and the scene goes on.
    void ownScriptFaultsAreAnswered()
    {
        WebCopy web;
        files::write(web.js(QStringLiteral("own.js")), pageWithTick(""));
        LightHost host(web.folder(), nullptr, LightHost::monotonicMilliseconds(),
                       QStringLiteral("js/own.js"));
        int ready = 0;
        host.onReady = [&] { ++ready; };
        QVERIFY(waitFor([&] { return ready == 1; }, 5000));
        QStringList answers;
        const auto own = [&](const char *script) {
            host.evaluateOwn(QString::fromLatin1(script),
                             [&](const QString &error) { answers << error; });
        };
        own("var kept = 1; throw 'x'");
        own("kept.no.such");
        own("kept + 1");
        QCOMPARE(answers, (QStringList{QStringLiteral("uncaught exception: \"x\""),
                                       QStringLiteral("TypeError: Cannot read property 'such' of "
                                                      "undefined")}));
        QTest::qWait(50);
        QCOMPARE(host.runs(), 1);
        QVERIFY(!QFile::exists(host.rendererLog().filePath()));
    }

    // A page that never loads is tried again and again, each time a little later, with one
    // line per try; the program's calls meanwhile go nowhere and fail no one.
    void brokenPageBacksOff_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QString>("logged");
        QTest::newRow("syntax") << QByteArray("export const qx = {;\n")
                                << QStringLiteral("SyntaxError");
        QTest::newRow("throws") << QByteArray("export const qx = {};\nthrow 5;\n")
                                << QStringLiteral("uncaught exception: 5");
    }
    void brokenPageBacksOff()
    {
        QFETCH(QByteArray, page);
        QFETCH(QString, logged);
        WebCopy web;
        files::write(web.js(QStringLiteral("broken.js")), page);
        LightHost host(web.folder(), nullptr, LightHost::monotonicMilliseconds(),
                       QStringLiteral("js/broken.js"));
        bool ready = false;
        host.onReady = [&] { ready = true; };
        QVERIFY(waitFor([&] { return host.runs() == 3; }, 5000));
        QVERIFY(waitFor([&] { return host.pendingRestart() > 250; }, 5000));
        QVariant answer = QStringLiteral("unset");
        host.evaluate(QStringLiteral("JSON.stringify(qx.stats())"),
                      [&](const QVariant &v) { answer = v; });
        QVERIFY(!answer.isValid());
        QVERIFY(!ready);
        const QStringList lines = files::lines(host.rendererLog().filePath());
        QCOMPARE(lines.size(), host.runs());
        QVERIFY2(lines[0].contains(logged) && lines[0].endsWith(QLatin1String("starting it again")),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].endsWith(QLatin1String("starting it again in 0.25 s")),
                 qPrintable(lines[1]));
    }

    // The page's timers wait as long as it asks, by the clock it is given, and the panel shows
    // each picture pixel as a square of two device pixels from the top left.
    void timersWaitAndThePictureIsScaled()
    {
        WebCopy web;
        files::write(
            web.js(QStringLiteral("wait.js")),
            "export const qx = {};\nconst t0 = qxHost.now();\n"
            "qxHost.setTimeout(() => qxHost.postMessage({ ready: true, error: `waited "
            "${qxHost.now() - t0}` }), 120);\n"
            "const early = qxHost.setTimeout(() => qxHost.postMessage({ error: 'cleared' }), 10);\n"
            "qxHost.clearTimeout(early);\n"
            "qxHost.present(new Uint8Array([255, 0, 0, 255, 0, 0, 0, 0]).buffer, 2, 1, 0, 0, 2, "
            "1);\n");
        LightHost host(web.folder(), nullptr, LightHost::monotonicMilliseconds(),
                       QStringLiteral("js/wait.js"));
        bool ready = false;
        host.onReady = [&] { ready = true; };
        QVERIFY(waitFor([&] { return ready; }, 5000));
        const QStringList lines = files::lines(host.rendererLog().filePath());
        QCOMPARE(lines.size(), 1);
        const double waited = lines[0].section(QLatin1Char(' '), 2).toDouble();
        QVERIFY2(waited >= 120 && waited < 1000, qPrintable(lines[0]));

        host.view()->resize(8, 4);
        const QImage shown = host.view()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shown.size(), QSize(8, 4));
        const QRgb red = qRgba(255, 0, 0, 255);
        QCOMPARE((QList<QRgb>{shown.pixel(0, 0), shown.pixel(1, 1), shown.pixel(2, 0),
                              shown.pixel(0, 2)}),
                 (QList<QRgb>{red, red, 0, 0}));
    }

    // Imports are checked before the engine sees them: only files of the web folder, by
    // relative names, whatever the way of naming them.
    void importsStayInTheWebFolder_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("inside, through ..")
            << QByteArray("import { startPage } from '../js/page.js';") << true;
        QTest::newRow("re-export") << QByteArray("export * from '../../secret.js';") << false;
        QTest::newRow("out of the folder")
            << QByteArray("import { s } from '../../secret.js';") << false;
        QTest::newRow("absolute") << QByteArray("import { s } from '@OUT@';") << false;
        QTest::newRow("bare name") << QByteArray("import { s } from 'secret.js';") << false;
        QTest::newRow("escaped dots")
            << QByteArray("import { s } from './%2e%2e/%2e%2e/secret.js';") << false;
        QTest::newRow("link out") << QByteArray("import { s } from './link.js';") << false;
        QTest::newRow("computed import()")
            << QByteArray("const n = '../../secret.js'; import(n);") << false;
        QTest::newRow("literal import()") << QByteArray("import('../../secret.js');") << false;
        QTest::newRow("missing") << QByteArray("import './nothing.js';") << false;
    }
    void importsStayInTheWebFolder()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, allowed);
        WebCopy web;
        const QString secret = web.outside(QStringLiteral("secret.js"));
        files::write(secret, "export const s = 1;\n");
        QVERIFY(QFile::link(secret, web.js(QStringLiteral("link.js"))));
        // Where an absolute name would land if it were taken as relative.
        files::write(web.js(secret), "export const s = 2;\n");
        files::write(web.js(QStringLiteral("entry.js")), entry.replace("@OUT@", secret.toUtf8()));
        const SceneModules modules =
            SceneModules::check(BundleResolver(web.folder()), QStringLiteral("js/entry.js"));
        QCOMPARE(modules.entryFile.isEmpty(), !allowed);
        QCOMPARE(modules.error.isEmpty(), allowed);
    }
};

QTEST_MAIN(LightHostTest)
#include "tst_LightHost.moc"
