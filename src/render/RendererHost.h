#pragma once

#include "render/PageMessages.h"
#include "render/RendererLog.h"

#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

class QWidget;

namespace bopling {

// What the controller needs of the host that runs the renderer page: a widget that shows the
// scene, script evaluation, and word of the page's readiness and of its end. Two hosts: the
// light host (Qt's own script engine, the default) and the web host (a web engine, chosen
// with --renderer=web). Main thread.
class RendererHost : public QObject
{
public:
    using QObject::QObject;
    ~RendererHost() override = default;

    RendererHost(const RendererHost &) = delete;
    RendererHost &operator=(const RendererHost &) = delete;

    // The widget that shows the scene; the owner puts it into the panel.
    virtual QWidget *view() const = 0;
    // Fire and forget: the page's result and errors are not looked at.
    virtual void evaluate(const QString &script) = 0;
    // With a completion that receives the result: an invalid QVariant when the script failed.
    virtual void evaluate(const QString &script,
                          const std::function<void(const QVariant &)> &completion) = 0;
    // A script of the user's own (the debug channel's): a fault in it is answered with its
    // description and does not end the page. Where the host cannot tell, it answers nothing.
    virtual void evaluateOwn(const QString &script,
                             const std::function<void(const QString &error)> &answer)
    {
        Q_UNUSED(answer);
        evaluate(script);
    }
    // The process that runs the page when it is not this one.
    virtual std::optional<qint32> pageProcessID() const { return std::nullopt; }

    // Called when the page posts a message with a "ready" member.
    std::function<void()> onReady;
    // Called when the page has gone (crashed, or stopped after a fault); it is then loaded
    // again and says "ready" again.
    std::function<void()> onCrash;

protected:
    // A message the page posted: "ready" calls onReady, a text "error" goes to `log`.
    void receive(const QJsonValue &body, RendererLog &log)
    {
        handlePageMessage(
            body,
            [this] {
                if (onReady)
                    onReady();
            },
            [&log](const QString &text) { log.append(text); });
    }
};

} // namespace bopling
