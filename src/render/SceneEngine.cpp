#include "render/SceneEngine.h"

#include "render/BundleResolver.h"
#include "render/SceneModules.h"
#include "render/ScriptWatchdog.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QTimer>
#include <QTimerEvent>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace bopling {

// What the page's modules see as `qxHost`. Every member forwards to the engine's run; the
// bridge has no state of its own.
class SceneBridge final : public QObject
{
    Q_OBJECT
public:
    explicit SceneBridge(SceneEngine &run) : run(run) {}

    Q_INVOKABLE double now() const { return run.clock(); }
    Q_INVOKABLE int setTimeout(const QJSValue &callback, double milliseconds)
    {
        return run.setTimeout(callback, milliseconds);
    }
    Q_INVOKABLE void clearTimeout(int id) { run.clearTimeout(id); }
    Q_INVOKABLE QVariantMap size() const
    {
        return {{QStringLiteral("W"), run.windowSize.width()},
                {QStringLiteral("H"), run.windowSize.height()}};
    }
    Q_INVOKABLE void postMessage(const QJSValue &body) { run.post(body); }
    // The whole picture (an ArrayBuffer), its size and the rectangle that changed.
    Q_INVOKABLE void present(const QByteArray &rgba, int w, int h, int x, int y, int rw, int rh)
    {
        const QSize size(w, h);
        const QRect rect(x, y, rw, rh);
        const bool fits = w > 0 && h > 0 && rgba.size() == qsizetype(w) * h * 4 &&
                          !rect.isEmpty() && QRect(QPoint(0, 0), size).contains(rect);
        if (!fits) {
            run.fail(QStringLiteral("the page showed a picture that does not fit its size"));
            return;
        }
        if (run.onPresent)
            run.onPresent(rgba, size, rect);
    }

private:
    SceneEngine &run;
};

namespace {

// x / 255, rounded, for x up to 255 * 255.
constexpr uint divide255(uint x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// "TypeError: x is not a function (scene.js:12)".
// A thrown value that is no Error: "uncaught exception: 5".
QString describeError(const QJSValue &error)
{
    if (!error.isError()) {
        const QString shown =
            error.isString() ? QStringLiteral("\"%1\"").arg(error.toString()) : error.toString();
        return QStringLiteral("uncaught exception: %1").arg(shown.left(200));
    }
    QString text = error.toString();
    const QString file = error.property(QStringLiteral("fileName")).toString();
    const int line = error.property(QStringLiteral("lineNumber")).toInt();
    if (!file.isEmpty() && file != QLatin1String("undefined"))
        text += QStringLiteral(" (%1:%2)").arg(QUrl(file).fileName()).arg(line);
    return text;
}

} // namespace

SceneEngine::SceneEngine(QString webFolder, QString entry, Clock clock, QObject *parent)
    : QObject(parent), webFolder(std::move(webFolder)), entry(std::move(entry)),
      clock(std::move(clock)), engine(std::make_unique<QJSEngine>())
{
    bridge = new SceneBridge(*this);
    engine->globalObject().setProperty(QStringLiteral("qxHost"), engine->newQObject(bridge));
    QJSEngine *target = engine.get();
    watchdog = std::make_unique<ScriptWatchdog>(std::chrono::milliseconds(kRunawayMilliseconds),
                                                [target] { target->setInterrupted(true); });
}

SceneEngine::~SceneEngine()
{
    watchdog.reset();
    for (auto it = timers.cbegin(); it != timers.cend(); ++it)
        killTimer(it.key());
    timers.clear();
    trampoline = QJSValue();
    // The engine owns the bridge (newQObject gives it to the script side) and goes now.
    engine.reset();
}

void SceneEngine::start()
{
    const SceneModules modules = SceneModules::check(BundleResolver(webFolder), entry);
    if (modules.entryFile.isEmpty()) {
        fail(modules.error);
        return;
    }
    const QJSValue page = watched([&] {
        const QJSValue module = engine->importModule(modules.entryFile);
        // A module whose top level throws leaves the thrown value pending in the engine.
        return engine->hasError() ? Outcome{engine->catchError(), true}
                                  : Outcome{module, module.isError()};
    });
    // The entry exports the page's `qx`, which the program's calls name as a global.
    if (!hasFailed)
        engine->globalObject().setProperty(QStringLiteral("qx"),
                                           page.property(QStringLiteral("qx")));
}

SceneEngine::Outcome SceneEngine::evaluated(const QString &script)
{
    // A thrown value leaves a stack trace; a script that merely ends in an Error object does
    // not, but counts as failed all the same.
    QStringList trace;
    const QJSValue result = engine->evaluate(script, QString(), 1, &trace);
    return {result, !trace.isEmpty() || result.isError()};
}

QJSValue SceneEngine::evaluate(const QString &script)
{
    if (hasFailed)
        return {};
    return watched([&] { return evaluated(script); });
}

QString SceneEngine::evaluateOwn(const QString &script)
{
    if (hasFailed)
        return QStringLiteral("the scene is starting again");
    Outcome outcome;
    {
        const WatchedCall watch(*watchdog);
        outcome = evaluated(script);
    }
    if (stoppedRunaway())
        return QStringLiteral("the script ran for more than %1 s and was stopped")
            .arg(kRunawayMilliseconds / 1000.0);
    return outcome.threw ? describeError(outcome.value) : QString();
}

bool SceneEngine::stoppedRunaway()
{
    if (!watchdog->fired())
        return false;
    // An interrupted engine is left as it was mid-call: the run ends.
    fail(QStringLiteral("a script ran for more than %1 s and was stopped")
             .arg(kRunawayMilliseconds / 1000.0));
    return true;
}

QJSValue SceneEngine::watched(const std::function<Outcome()> &call)
{
    Outcome outcome;
    {
        const WatchedCall watch(*watchdog);
        outcome = call();
    }
    if (hasFailed || stoppedRunaway())
        return {};
    if (outcome.threw) {
        fail(describeError(outcome.value));
        return {};
    }
    return outcome.value;
}

void SceneEngine::fail(const QString &reason)
{
    if (hasFailed)
        return;
    hasFailed = true;
    for (auto it = timers.cbegin(); it != timers.cend(); ++it)
        killTimer(it.key());
    timers.clear();
    // From the event loop: the owner may end this run then, which it cannot from inside a call.
    QTimer::singleShot(0, this, [this, reason] {
        if (onFailure)
            onFailure(reason);
    });
}

int SceneEngine::setTimeout(const QJSValue &callback, double milliseconds)
{
    if (hasFailed || !callback.isCallable())
        return 0;
    const double wait =
        std::isfinite(milliseconds) ? std::clamp(milliseconds, 0.0, 86'400'000.0) : 0.0;
    const int id = startTimer(std::chrono::milliseconds(std::lround(wait)), Qt::PreciseTimer);
    if (id != 0)
        timers.insert(id, callback);
    return id;
}

void SceneEngine::clearTimeout(int id)
{
    if (timers.remove(id))
        killTimer(id);
}

void SceneEngine::timerEvent(QTimerEvent *event)
{
    const int id = event->timerId();
    killTimer(id);
    const QJSValue callback = timers.take(id);
    if (hasFailed || !callback.isCallable())
        return;
    // QJSValue::call gives a thrown value back as if it were returned; the trampoline tells
    // them apart: [value] when the callback threw.
    if (trampoline.isUndefined())
        trampoline = engine->evaluate(QStringLiteral(
            "(function (f) { try { f(); return null; } catch (e) { return [e]; } })"));
    watched([&] {
        const QJSValue caught = trampoline.call({callback});
        return caught.isArray() ? Outcome{caught.property(0), true}
                                : Outcome{caught, caught.isError()};
    });
}

void SceneEngine::post(const QJSValue &body)
{
    if (!body.isObject() || body.isArray() || body.isCallable())
        return;
    QJsonObject message;
    if (body.hasOwnProperty(QStringLiteral("ready")))
        message.insert(QStringLiteral("ready"), QJsonValue());
    const QJSValue error = body.property(QStringLiteral("error"));
    if (error.isString())
        message.insert(QStringLiteral("error"), error.toString());
    if (message.isEmpty())
        return;
    QTimer::singleShot(0, this, [this, message] {
        if (onMessage)
            onMessage(message);
    });
}

QRect SceneEngine::changedPart(const QByteArray &before, const QByteArray &now, QSize size,
                               QRect rect)
{
    rect &= QRect(QPoint(0, 0), size);
    if (before.size() != now.size() || now.size() != qsizetype(size.width()) * size.height() * 4)
        return rect;
    const auto *old = reinterpret_cast<const quint32 *>(before.constData());
    const auto *pixels = reinterpret_cast<const quint32 *>(now.constData());
    const int w = size.width();
    const auto rowDiffers = [&](int y) {
        return std::memcmp(old + qsizetype(y) * w + rect.left(),
                           pixels + qsizetype(y) * w + rect.left(),
                           std::size_t(rect.width()) * 4) != 0;
    };
    int top = rect.top();
    while (top <= rect.bottom() && !rowDiffers(top))
        ++top;
    if (top > rect.bottom())
        return {};
    int bottom = rect.bottom();
    while (!rowDiffers(bottom))
        --bottom;
    int left = rect.right();
    int right = rect.left();
    for (int y = top; y <= bottom; ++y) {
        const qsizetype row = qsizetype(y) * w;
        for (int x = rect.left(); x < left; ++x)
            if (old[row + x] != pixels[row + x]) {
                left = x;
                break;
            }
        for (int x = rect.right(); x > right; --x)
            if (old[row + x] != pixels[row + x]) {
                right = x;
                break;
            }
    }
    return QRect(QPoint(std::min(left, right), top), QPoint(std::max(left, right), bottom));
}

void SceneEngine::copyPixels(QImage &image, const QByteArray &rgba, QSize size, QRect rect)
{
    if (image.size() != size || image.format() != QImage::Format_ARGB32_Premultiplied) {
        image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    rect &= QRect(QPoint(0, 0), size);
    const auto *source = reinterpret_cast<const uchar *>(rgba.constData());
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const uchar *in = source + (qsizetype(y) * size.width() + rect.left()) * 4;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y)) + rect.left();
        for (int x = 0; x < rect.width(); ++x, in += 4) {
            const uint a = in[3];
            if (a == 255)
                out[x] = qRgba(in[0], in[1], in[2], 255);
            else if (a == 0)
                out[x] = 0;
            else
                out[x] = qRgba(divide255(in[0] * a), divide255(in[1] * a), divide255(in[2] * a), a);
        }
    }
}

} // namespace bopling

#include "SceneEngine.moc"
