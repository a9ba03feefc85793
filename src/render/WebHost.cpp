#include "render/WebHost.h"

#include "render/BundleSchemeHandler.h"
#include "render/PageChannel.h"
#include "render/RendererPage.h"

#include <QFile>
#include <QTimer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>

#include <limits>
#include <utility>

namespace bopling {

namespace {

// Name of the host object on the web channel, as the bridge script below uses it.
constexpr char kChannelObjectName[] = "qxHost";

// Posted bodies are copied at once (the page may change the object afterwards) and kept
// until the channel is up. A page that floods the queue before that loses the oldest
// bodies, never the program's memory.
constexpr char kBridgeScript[] = R"JS(
  var pending = [];
  var host = null;
  var maxPending = 1000;
  function forward(body) {
    try { host.postMessage(body); } catch (e) {}
  }
  var handler = {
    postMessage: function (body) {
      var copy;
      try { copy = JSON.parse(JSON.stringify(body)); } catch (e) { return; }
      // The copy loses keys whose value JSON cannot hold; "ready" counts whatever its value.
      if (copy !== null && typeof copy === 'object' && !Array.isArray(copy) &&
          Object.prototype.hasOwnProperty.call(body, 'ready') && !('ready' in copy))
        copy.ready = null;
      if (host) { forward(copy); return; }
      if (pending.length >= maxPending) pending.shift();
      pending.push(copy);
    }
  };
  if (typeof window.webkit !== 'object' || window.webkit === null) window.webkit = {};
  if (typeof window.webkit.messageHandlers !== 'object' || window.webkit.messageHandlers === null)
    window.webkit.messageHandlers = {};
  window.webkit.messageHandlers.qx = handler;
  function connect() {
    // The transport object appears a moment after document creation.
    if (typeof qt !== 'object' || !qt || !qt.webChannelTransport) { setTimeout(connect, 5); return; }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      host = channel.objects.qxHost;
      var queued = pending;
      pending = [];
      for (var i = 0; i < queued.length; ++i) forward(queued[i]);
    });
  }
  connect();
)JS";

} // namespace

const char *WebHost::scheme()
{
    return "qx";
}

QUrl WebHost::pageUrl()
{
    return QUrl(QStringLiteral("qx://app/index.html"));
}

void WebHost::registerScheme()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    QWebEngineUrlScheme qx(scheme());
    qx.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // A secure context like https, and script requests within the scheme allowed.
    qx.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(qx);
}

QString WebHost::bridgeScript()
{
    QFile client(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    if (!client.open(QIODevice::ReadOnly))
        return {};
    // Wrapped in a function so that neither QWebChannel nor the bridge's own names land in
    // the page's global scope; only window.webkit.messageHandlers.qx is visible.
    return QStringLiteral("(function () {\n") + QString::fromUtf8(client.readAll()) +
           QString::fromUtf8(kBridgeScript) + QStringLiteral("})();\n");
}

WebHost::WebHost(const QString &webFolder, QObject *parent) : RendererHost(parent)
{
    // Steps 1-2: no callbacks yet; a profile without a storage name keeps nothing on disk.
    profile = new QWebEngineProfile(this);
    handler = new BundleSchemeHandler(webFolder, this);
    profile->installUrlSchemeHandler(scheme(), handler);

    webView = new QWebEngineView();
    auto *page = new RendererPage(profile, webView);
    webView->setPage(page);
    webView->setContextMenuPolicy(Qt::NoContextMenu);
    page->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);

    // The message handler "qx": the bridge script plus the channel it talks to.
    channelObject = new PageChannel(this);
    channelObject->onMessage = [this](const QJsonValue &body) { handleMessage(body); };
    channel = new QWebChannel(this);
    channel->registerObject(QString::fromLatin1(kChannelObjectName), channelObject);
    page->setWebChannel(channel, QWebEngineScript::MainWorld);
    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("qx-bridge"));
    bridge.setSourceCode(bridgeScript());
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(false);
    page->scripts().insert(bridge);

    // Transparent wherever the page draws nothing.
    page->setBackgroundColor(Qt::transparent);

    connect(
        page, &QWebEnginePage::renderProcessTerminated, this,
        [this](QWebEnginePage::RenderProcessTerminationStatus, int) { renderProcessTerminated(); });

    webView->load(pageUrl());
}

WebHost::~WebHost()
{
    // The page answers its pending calls as it goes; nobody is left to hear them.
    pending.reset();
    // The page must go before its profile, and the profile before the scheme handler.
    delete webView.data();
    delete profile;
    profile = nullptr;
}

QWebEngineView *WebHost::web() const
{
    return webView.data();
}

QWidget *WebHost::view() const
{
    return webView.data();
}

std::optional<qint32> WebHost::webProcessID() const
{
    if (!webView)
        return std::nullopt;
    const qint64 pid = webView->page()->renderProcessPid();
    if (pid <= 0 || pid > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(pid);
}

void WebHost::evaluate(const QString &script)
{
    if (webView)
        webView->page()->runJavaScript(script);
}

void WebHost::evaluate(const QString &script,
                       const std::function<void(const QVariant &)> &completion)
{
    if (!webView) {
        if (completion)
            completion(QVariant());
        return;
    }
    if (!completion) {
        webView->page()->runJavaScript(script);
        return;
    }
    const quint64 call = ++lastCall;
    pending->emplace(call, completion);
    const std::weak_ptr<PendingCalls> calls = pending;
    webView->page()->runJavaScript(script, [calls, call](const QVariant &result) {
        const std::shared_ptr<PendingCalls> live = calls.lock();
        if (!live)
            return;
        const auto entry = live->find(call);
        if (entry == live->end())
            return;
        const Completion answer = std::move(entry->second);
        live->erase(entry);
        answer(result);
    });
}

void WebHost::handleMessage(const QJsonValue &body)
{
    receive(body, log);
}

void WebHost::renderProcessTerminated()
{
    // The engine would answer the dead page's calls only when the page goes.
    if (pending) {
        const PendingCalls unanswered = std::exchange(*pending, {});
        for (const auto &entry : unanswered)
            entry.second(QVariant());
    }
    if (onCrash)
        onCrash();
    // Reload from the event loop rather than inside the engine's own notification.
    QTimer::singleShot(0, this, [this] {
        if (webView)
            webView->reload();
    });
}

} // namespace bopling
