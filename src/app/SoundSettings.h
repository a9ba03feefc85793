#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace bopling {

// The programs that can show the sound settings, each as a command line, in
// the order to try them on this desktop (the value of XDG_CURRENT_DESKTOP):
// the desktop's own first, then the stand-alone mixers, then the other
// desktops' settings.
QList<QStringList> soundSettingsCommands(const QString &desktop);

// The first of those commands whose program `findExecutable` finds, with the
// program's full path in front; nothing when none is installed.
std::optional<QStringList>
findSoundSettings(const QString &desktop,
                  const std::function<QString(const QString &program)> &findExecutable);

// What the user is told when no sound settings program is installed.
QString soundSettingsMissingText();

} // namespace bopling
