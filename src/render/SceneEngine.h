#pragma once

#include <QByteArray>
#include <QHash>
#include <QJSEngine>
#include <QJSValue>
#include <QJsonValue>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class QImage;

namespace bopling {

class SceneBridge;
class ScriptWatchdog;

// One run of the scene's page modules in Qt's own script engine (V4), on the thread that
// creates it (the main thread). It gives the modules what a page has and nothing more, as the
// global `qxHost`: a monotonic clock, one-shot timers, the window size, a message channel for
// "ready" and "error", and a place to show the scene's RGBA pixels. Modules are loaded from
// the web folder only (SceneModules).
//
// A run ends at its first failure: an exception that reaches the engine, a module that fails
// to load, or a call that runs longer than kRunawayLimit (stopped by the watchdog). onFailure
// is then called once, from the event loop, and the owner starts a new run.
class SceneEngine final : public QObject
{
    Q_OBJECT
public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<double()>;

    static constexpr int kRunawayMilliseconds = 1000;

    SceneEngine(QString webFolder, QString entry, Clock clock, QObject *parent = nullptr);
    ~SceneEngine() override;

    SceneEngine(const SceneEngine &) = delete;
    SceneEngine &operator=(const SceneEngine &) = delete;

    // The window the page fills before the program configures it.
    void setWindowSize(QSize size) { windowSize = size; }

    // Loads the entry module and what it imports, which starts the scene.
    void start();

    // Evaluates `script` and returns its value; undefined after a failure (which ends the run).
    QJSValue evaluate(const QString &script);
    // Evaluates a script of the user's own: what it throws is returned as text, the run goes
    // on. Empty when it threw nothing. A runaway still ends the run.
    QString evaluateOwn(const QString &script);

    bool failed() const { return hasFailed; }

    // A message the page posted, as an object with "ready" and a text "error" when it had
    // them; delivered from the event loop, never inside a script call.
    std::function<void(const QJsonValue &)> onMessage;
    // The page shows `rect` of its `size` picture, `rgba` being the whole picture, 4 bytes a
    // pixel, row by row.
    std::function<void(const QByteArray &rgba, QSize size, QRect rect)> onPresent;
    std::function<void(const QString &reason)> onFailure;

    // The part of `rect` in which picture `now` differs from `before` (both RGBA of `size`); all
    // of `rect` when `before` has another size.
    static QRect changedPart(const QByteArray &before, const QByteArray &now, QSize size,
                             QRect rect);

    // Copies `rect` of an RGBA picture into `image` (premultiplied ARGB32), which is
    // recreated, transparent, when its size differs.
    static void copyPixels(QImage &image, const QByteArray &rgba, QSize size, QRect rect);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    friend class SceneBridge;

    // What a call gave back, and whether it was thrown rather than returned.
    struct Outcome
    {
        QJSValue value;
        bool threw = false;
    };
    Outcome evaluated(const QString &script);
    // Calls into the engine, watched; a thrown value or an interruption fails the run.
    QJSValue watched(const std::function<Outcome()> &call);
    // Ends the run when the watchdog stopped the last call.
    bool stoppedRunaway();
    void fail(const QString &reason);
    int setTimeout(const QJSValue &callback, double milliseconds);
    void clearTimeout(int id);
    void post(const QJSValue &body);

    const QString webFolder;
    const QString entry;
    const Clock clock;
    QSize windowSize{640, 480};
    bool hasFailed = false;
    QHash<int, QJSValue> timers;
    // The watchdog interrupts `engine`, so it is made after it and goes before it.
    std::unique_ptr<QJSEngine> engine;
    QJSValue trampoline;
    SceneBridge *bridge = nullptr;
    std::unique_ptr<ScriptWatchdog> watchdog;
};

} // namespace bopling
