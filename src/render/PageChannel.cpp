#include "render/PageChannel.h"

namespace bopling {

void PageChannel::postMessage(const QJsonValue &body)
{
    if (onMessage)
        onMessage(body);
}

} // namespace bopling
