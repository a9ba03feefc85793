#pragma once

#include <QString>

class QUrl;

namespace bopling {

// Asks, in front of other windows, whether to remove the creature of this
// name, with "Remove" first and the default, then "Cancel"; waits for the
// answer and is true when "Remove" was chosen.
bool confirmRemoval(const QString &name);

// Tells the user, without waiting for an answer, that no sound settings
// program is installed and which one to install.
void showSoundSettingsMissing();

// Opens the link in the user's browser; when nothing can open it, shows the
// address in a message to copy instead.
void openLink(const QUrl &url);

} // namespace bopling
