#pragma once

#include <QString>

#include <optional>

namespace bopling {

// What the status line is made from: the pause setting, the audio source, the
// audio tap's status reads and the silence of the latest snapshot.
struct StatusInputs
{
    bool paused = false;
    bool testAudio = false; // debug mode playing a file
    bool building = false;
    bool running = false;
    bool gaveUp = false;
    std::optional<QString> lastError;
    double silentSeconds = 0;
    // The one application listened to, if any, and the song playing, if shown.
    std::optional<QString> listeningTo;
    std::optional<QString> song;
};

// Seconds of reported silence after which the status line says nothing is heard.
inline constexpr double kNoSoundSeconds = 12.0;

// The status line shown first in the menu and written into the state log:
// the first rule that applies of paused, test audio, connecting, given up,
// error, no sound (when listening to everything), listening ("Listening to
// Spotify"), with the song after a colon while one is shown.
QString statusText(const StatusInputs &inputs);

} // namespace bopling
