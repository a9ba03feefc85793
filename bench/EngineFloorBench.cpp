// The memory the web engine costs by itself on this machine, for comparison
// with bench/app's: a bare Qt WebEngine view, started the way the program
// starts its own (same graphics choice and engine switches, an off-the-record
// profile, a transparent page), showing a canvas the size of the scene's that
// changes 15 times a second. Prints this process's and its engine processes'
// memory summed, as bench/app does, and last one JSON object with the figures.
//
// Run it under scripts/test-env, and not while Bopling or another Qt WebEngine
// program runs: pages of the engine's library mapped elsewhere too would be
// split with that program and make the figure look smaller.

#include "EngineProcesses.h"
#include "render/SceneGraphBackend.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>

using namespace bopling;
using namespace bopling::bench;

namespace {

constexpr int kSettleMilliseconds = 20000;
constexpr int kSamples = 5;

// A 320 x 240 canvas shown at twice its size, one square moved per frame.
const char *const kPage = R"(<!doctype html>
<html><body style="margin:0;background:transparent">
<canvas id="c" width="320" height="240" style="width:640px;height:480px;image-rendering:pixelated"></canvas>
<script>
const ctx = document.getElementById('c').getContext('2d');
let i = 0;
setInterval(() => {
  ctx.clearRect(0, 0, 320, 240);
  ctx.fillStyle = '#c04040';
  ctx.fillRect(i++ % 300, 100, 12, 12);
}, 1000 / 15);
</script></body></html>)";

void idle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    const bool softwareRenderer = chooseSceneGraphBackend(argc, argv);
    addEngineSwitches(softwareRenderer);
    QApplication app(argc, argv);
    applicationCreated();

    auto *profile = new QWebEngineProfile(&app);
    QWebEngineView view;
    auto *page = new QWebEnginePage(profile, &view);
    page->setBackgroundColor(Qt::transparent);
    view.setPage(page);
    view.setAttribute(Qt::WA_TranslucentBackground);
    view.resize(640, 480);
    bool loaded = false;
    QObject::connect(page, &QWebEnginePage::loadFinished, [&](bool ok) { loaded = ok; });
    page->setHtml(QString::fromUtf8(kPage));
    view.show();

    idle(kSettleMilliseconds);
    if (!loaded) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    qint64 peakPss = 0;
    for (int i = 0; i < kSamples; ++i) {
        idle(1000);
        peakPss = std::max(peakPss, pssKb());
    }
    const qint64 peak = peakMemoryKb();
    std::printf("a bare web engine page: %.1f MB resident, %.1f MB proportional (program and web "
                "engine, summed; %lld processes)\n",
                double(peak) / 1024.0, double(peakPss) / 1024.0,
                static_cast<long long>(programProcesses().size()));
    std::printf("{\"peakMemoryMB\":%.1f,\"peakPssMB\":%.1f}\n", double(peak) / 1024.0,
                double(peakPss) / 1024.0);
    delete page;
    return 0;
}
