#include "app/SoundSettings.h"

#include <algorithm>

namespace bopling {

namespace {

struct SettingsProgram
{
    // The XDG_CURRENT_DESKTOP name of the desktop the program belongs to; empty for a
    // stand-alone mixer.
    QString desktop;
    QStringList command;
};

// Stand-alone mixers come before the desktops' settings: any desktop can run them. Xfce's
// and LXQt's panels open pavucontrol and pavucontrol-qt themselves.
const QList<SettingsProgram> &programs()
{
    static const QList<SettingsProgram> list{
        {QStringLiteral("XFCE"), {QStringLiteral("pavucontrol")}},
        {QStringLiteral("LXQt"), {QStringLiteral("pavucontrol-qt")}},
        {QString(), {QStringLiteral("pwvucontrol")}},
        {QStringLiteral("GNOME"),
         {QStringLiteral("gnome-control-center"), QStringLiteral("sound")}},
        {QStringLiteral("KDE"),
         {QStringLiteral("systemsettings"), QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("KDE"), {QStringLiteral("kcmshell5"), QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("MATE"), {QStringLiteral("mate-volume-control")}},
        {QStringLiteral("X-Cinnamon"),
         {QStringLiteral("cinnamon-settings"), QStringLiteral("sound")}},
        {QStringLiteral("Budgie"),
         {QStringLiteral("budgie-control-center"), QStringLiteral("sound")}},
        {QStringLiteral("Unity"),
         {QStringLiteral("unity-control-center"), QStringLiteral("sound")}},
    };
    return list;
}

} // namespace

QList<QStringList> soundSettingsCommands(const QString &desktop)
{
    // XDG_CURRENT_DESKTOP is a colon-separated list, "ubuntu:GNOME" for instance.
    const QStringList names = desktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const auto ours = [&](const SettingsProgram &program) {
        return !program.desktop.isEmpty() && names.contains(program.desktop, Qt::CaseInsensitive);
    };
    QList<SettingsProgram> ordered = programs();
    std::stable_partition(ordered.begin(), ordered.end(), ours);
    QList<QStringList> commands;
    for (const SettingsProgram &program : ordered)
        commands.append(program.command);
    return commands;
}

std::optional<QStringList>
findSoundSettings(const QString &desktop,
                  const std::function<QString(const QString &program)> &findExecutable)
{
    for (QStringList command : soundSettingsCommands(desktop)) {
        const QString path = findExecutable(command.first());
        if (!path.isEmpty()) {
            command.first() = path;
            return command;
        }
    }
    return std::nullopt;
}

QString soundSettingsMissingText()
{
    return QStringLiteral("Bopling found no program to show the sound settings. Install "
                          "pavucontrol (for example with \"sudo apt install pavucontrol\"), "
                          "then choose this item again.");
}

} // namespace bopling
