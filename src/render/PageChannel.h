#pragma once

#include <QJsonValue>
#include <QObject>

#include <functional>

namespace bopling {

// The host side of the page bridge, published on the web channel as "qxHost". The injected
// script forwards every body given to window.webkit.messageHandlers.qx.postMessage here.
// Main thread.
class PageChannel final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    std::function<void(const QJsonValue &body)> onMessage;

    Q_INVOKABLE void postMessage(const QJsonValue &body);
};

} // namespace bopling
