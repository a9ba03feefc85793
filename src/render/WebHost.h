#pragma once

#include "render/RendererHost.h"
#include "render/RendererLog.h"

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QWebChannel;
class QWebEngineProfile;
class QWebEngineView;

namespace bopling {

class BundleSchemeHandler;
class PageChannel;

// Owns the web view that shows the renderer page, loads it as qx://app/index.html from the
// web folder through BundleSchemeHandler (no network, no file URLs), receives the page's
// messages through window.webkit.messageHandlers.qx, writes the page's errors to the
// renderer log and reloads the page whenever its render process dies. It sends no script
// calls of its own. onCrash is called when the render process has terminated; the page is
// then reloaded. Main thread.
//
// Call registerScheme() in main() before the QApplication exists.
class WebHost final : public RendererHost
{
    Q_OBJECT
public:
    // "qx" and "qx://app/index.html".
    static const char *scheme();
    static QUrl pageUrl();

    // Registers the "qx" scheme with the web engine. Must run before the application object
    // is created; later calls do nothing.
    static void registerScheme();

    // Creates the view on an off-the-record profile with the scheme handler for `webFolder`,
    // makes it transparent and starts loading the page at once.
    explicit WebHost(const QString &webFolder, QObject *parent = nullptr);
    ~WebHost() override;

    WebHost(const WebHost &) = delete;
    WebHost &operator=(const WebHost &) = delete;

    // The view. The owner puts it into the panel (reparenting it is fine); WebHost deletes
    // it on destruction if it still exists.
    QWebEngineView *web() const;

    QWidget *view() const override;

    // The render process's id, none while there is no render process.
    std::optional<qint32> webProcessID() const;
    std::optional<qint32> pageProcessID() const override { return webProcessID(); }

    // Fire and forget: the page's result and errors are not looked at.
    void evaluate(const QString &script) override;
    // With a completion that receives the result: an invalid QVariant when the script
    // failed or the render process terminated before it answered. A call still pending when
    // the host is destroyed is never answered. Used for JSON.stringify(qx.stats()).
    void evaluate(const QString &script,
                  const std::function<void(const QVariant &)> &completion) override;

    // The script message entry: the rules of handlePageMessage with this host's onReady and
    // renderer log. Public so the rules can be driven without a page.
    void handleMessage(const QJsonValue &body);

    RendererLog &rendererLog() { return log; }

    // The user script that gives the page window.webkit.messageHandlers.qx (QWebChannel's
    // client included). Empty if Qt's qwebchannel.js cannot be read.
    static QString bridgeScript();

private:
    using Completion = std::function<void(const QVariant &)>;
    using PendingCalls = std::map<quint64, Completion>;

    void renderProcessTerminated();

    RendererLog log;
    BundleSchemeHandler *handler = nullptr;
    QWebEngineProfile *profile = nullptr;
    PageChannel *channelObject = nullptr;
    QWebChannel *channel = nullptr;
    QPointer<QWebEngineView> webView;
    // The completions not answered yet, by call number. The engine's call-backs hold it
    // weakly and find their entry gone once it was answered another way or disarmed.
    std::shared_ptr<PendingCalls> pending = std::make_shared<PendingCalls>();
    quint64 lastCall = 0;
};

} // namespace bopling
