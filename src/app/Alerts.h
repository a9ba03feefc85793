#pragma once

#include <QString>

#include <memory>

class QMessageBox;

namespace bopling {

// The question asked before a creature is removed: "Remove" first and the
// default, then "Cancel".
std::unique_ptr<QMessageBox> removalAlert(const QString &name);
// Shows the removal alert in front of other windows and waits for the answer;
// true when "Remove" was chosen.
bool confirmRemoval(const QString &name);

// Tells the user, without waiting for an answer, that no sound settings
// program is installed and which one to install.
void showSoundSettingsMissing();

} // namespace bopling
