#pragma once

#include "render/RendererHost.h"
#include "render/RendererLog.h"
#include "render/SceneEngine.h"

#include <QPointer>

#include <chrono>
#include <memory>

class QTimer;

namespace bopling {

class SceneView;

// The light renderer host: runs the page's modules in Qt's own script engine (SceneEngine)
// on the main thread and paints the scene's pixels itself (SceneView). The engine runs where
// the calls come from: a frame's work is a few milliseconds, and a runaway is stopped by the
// watchdog within about a second.
//
// A failed run (an exception that reached the engine, a module that did not load, a runaway)
// is written to the renderer log as one line and the scene starts again, the analogue of a
// reload: onCrash, then "ready" again. Runs that fail soon after their start back off:
// kFirstRetry, doubling up to kLongestRetry; a run that lasted kSteadyRun starts the count
// again.
class LightHost final : public RendererHost
{
public:
    static constexpr std::chrono::milliseconds kFirstRetry{250};
    static constexpr std::chrono::milliseconds kLongestRetry{30'000};
    static constexpr std::chrono::seconds kSteadyRun{30};

    // The entry module of the page, inside the web folder.
    static QString entryModule() { return QStringLiteral("js/light.js"); }

    explicit LightHost(const QString &webFolder, QObject *parent = nullptr,
                       SceneEngine::Clock clock = monotonicMilliseconds(),
                       QString entry = entryModule(), RendererLog log = RendererLog());
    ~LightHost() override;

    QWidget *view() const override;
    void evaluate(const QString &script) override;
    void evaluate(const QString &script,
                  const std::function<void(const QVariant &)> &completion) override;
    void evaluateOwn(const QString &script,
                     const std::function<void(const QString &error)> &answer) override;

    RendererLog &rendererLog() { return log; }
    // Runs started so far, the first one included.
    int runs() const { return started; }
    // Milliseconds until the next run starts; 0 while one runs.
    int pendingRestart() const;

    static SceneEngine::Clock monotonicMilliseconds();

private:
    void startRun();
    void runFailed(const QString &reason);

    const QString webFolder;
    const QString entry;
    const SceneEngine::Clock clock;
    RendererLog log;
    QPointer<SceneView> sceneView;
    // The picture the view shows, as the page gave it.
    QByteArray shown;
    std::unique_ptr<SceneEngine> run;
    QTimer *restart = nullptr;
    int started = 0;
    int quickFailures = 0;
    double runStart = 0;
};

} // namespace bopling
