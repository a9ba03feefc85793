#include "app/StatusLine.h"

namespace bopling {

QString statusText(const StatusInputs &in)
{
    if (in.paused)
        return QStringLiteral("Paused");
    if (in.testAudio)
        return QStringLiteral("Test audio");
    if (in.building && !in.running)
        return QStringLiteral("Connecting to the sound server...");
    if (in.gaveUp)
        return QStringLiteral("Check the sound server, then choose Retry");
    if (in.lastError)
        return QStringLiteral("Cannot listen: ") + *in.lastError;
    if (in.silentSeconds > kNoSoundSeconds)
        return QStringLiteral("No sound heard");
    return QStringLiteral("Listening to system audio");
}

} // namespace bopling
