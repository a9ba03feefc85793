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
    // One application that plays nothing is no fault of the sound server.
    if (in.silentSeconds > kNoSoundSeconds && !in.listeningTo)
        return QStringLiteral("No sound heard");
    const QString heard =
        QStringLiteral("Listening to ") + in.listeningTo.value_or(QStringLiteral("system audio"));
    return in.song ? heard + QStringLiteral(": ") + *in.song : heard;
}

} // namespace bopling
