#include "render/PageMessages.h"

#include <QJsonObject>

namespace bopling {

void handlePageMessage(const QJsonValue &body, const std::function<void()> &onReady,
                       const std::function<void(const QString &)> &logError)
{
    if (!body.isObject())
        return;
    const QJsonObject message = body.toObject();
    if (message.contains(QLatin1String("ready")) && onReady)
        onReady();
    const QJsonValue error = message.value(QLatin1String("error"));
    if (error.isString() && logError)
        logError(error.toString());
}

} // namespace bopling
