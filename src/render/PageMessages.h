#pragma once

#include <QJsonValue>
#include <QString>

#include <functional>

namespace bopling {

// The rules for a message the page posts to the "qx" handler: only an object counts; its
// "ready" member (any value) calls `onReady`, then a text "error" member goes to `logError`.
// Anything else, including an "error" that is not text, is dropped silently.
void handlePageMessage(const QJsonValue &body, const std::function<void()> &onReady,
                       const std::function<void(const QString &)> &logError);

} // namespace bopling
