#include "render/LightHost.h"

#include "render/SceneView.h"

#include <QImage>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace bopling {

SceneEngine::Clock LightHost::monotonicMilliseconds()
{
    return [] {
        using namespace std::chrono;
        return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
    };
}

LightHost::LightHost(const QString &webFolder, QObject *parent, SceneEngine::Clock clock,
                     QString entry, RendererLog log)
    : RendererHost(parent), webFolder(webFolder), entry(std::move(entry)), clock(std::move(clock)),
      log(std::move(log)), sceneView(new SceneView)
{
    restart = new QTimer(this);
    restart->setSingleShot(true);
    connect(restart, &QTimer::timeout, this, [this] { startRun(); });
    startRun();
}

LightHost::~LightHost()
{
    run.reset();
    delete sceneView.data();
}

QWidget *LightHost::view() const
{
    return sceneView.data();
}

int LightHost::pendingRestart() const
{
    return restart->isActive() ? restart->remainingTime() : 0;
}

void LightHost::startRun()
{
    ++started;
    runStart = clock();
    run = std::make_unique<SceneEngine>(webFolder, entry, clock);
    if (sceneView)
        run->setWindowSize(sceneView->size());
    run->onMessage = [this](const QJsonValue &body) { receive(body, log); };
    run->onPresent = [this](const QByteArray &rgba, QSize size, QRect rect) {
        if (!sceneView)
            return;
        const bool sameSize = sceneView->image().size() == size;
        const QRect changed =
            SceneEngine::changedPart(sameSize ? shown : QByteArray(), rgba, size, rect);
        shown = rgba;
        if (changed.isEmpty())
            return;
        SceneEngine::copyPixels(sceneView->image(), rgba, size, changed);
        // A picture of another size may leave parts of the old one uncovered.
        if (sameSize)
            sceneView->pictureChanged(changed);
        else
            sceneView->pictureReplaced();
    };
    run->onFailure = [this](const QString &reason) { runFailed(reason); };
    run->start();
}

void LightHost::runFailed(const QString &reason)
{
    const bool quick =
        clock() - runStart < std::chrono::duration<double, std::milli>(kSteadyRun).count();
    quickFailures = quick ? quickFailures + 1 : 0;
    // The first failure restarts at once; failures in a row wait longer each time.
    std::chrono::milliseconds wait{0};
    if (quickFailures > 1) {
        const int doublings = std::min(quickFailures - 2, 16);
        wait = std::min(kLongestRetry, kFirstRetry * (1 << doublings));
    }
    log.append(QStringLiteral("scene stopped: %1; starting it again%2")
                   .arg(reason, wait.count() ? QStringLiteral(" in %1 s").arg(wait.count() / 1000.0)
                                             : QString()));
    // Called from the run's own event: it goes once that is over.
    run.release()->deleteLater();
    if (onCrash)
        onCrash();
    restart->start(wait);
}

void LightHost::evaluate(const QString &script)
{
    if (run)
        run->evaluate(script);
}

void LightHost::evaluate(const QString &script,
                         const std::function<void(const QVariant &)> &completion)
{
    const QJSValue result = run ? run->evaluate(script) : QJSValue();
    if (!completion)
        return;
    if (result.isString())
        completion(result.toString());
    else if (result.isUndefined())
        completion(QVariant());
    else
        completion(result.toVariant());
}

void LightHost::evaluateOwn(const QString &script,
                            const std::function<void(const QString &error)> &answer)
{
    const QString error =
        run ? run->evaluateOwn(script) : QStringLiteral("the scene is starting again");
    if (!error.isEmpty() && answer)
        answer(error);
}

} // namespace bopling
