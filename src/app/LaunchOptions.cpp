#include "app/LaunchOptions.h"

#include <QProcessEnvironment>

#include <cstdio>
#include <cstring>

namespace bopling {

namespace {

const char kHelp[] =
    "Usage: bopling [--renderer=light|web] [--panel=auto|x11] [--help | --version]\n"
    "\n"
    "Bopling listens to whatever the computer plays and turns it into a little\n"
    "pixel-art scene of warriors, monsters and familiar creatures that fight to\n"
    "the beat in a corner of the screen. It records the mix of the default output\n"
    "on the PulseAudio or PipeWire sound server, never a microphone. Its menu is\n"
    "the waveform icon in the system tray. Ctrl+C or SIGTERM ends it.\n"
    "\n"
    "Options:\n"
    "  --renderer=light  Draws the scene in Bopling itself (the default).\n"
    "  --renderer=web    Shows the scene in a web engine instead (needs the\n"
    "                    bopling-web package).\n"
    "  --panel=auto      Shows the scene on a layer surface of the compositor where\n"
    "                    it offers them (sway, KWin, Hyprland...) and the scene is\n"
    "                    drawn by Bopling itself; elsewhere in an X11 window (the\n"
    "                    default).\n"
    "  --panel=x11       Always in an X11 window (XWayland on Wayland desktops).\n"
    "  --help     Shows this text.\n"
    "  --version  Shows the version.\n"
    "\n"
    "Environment:\n"
    "  QX_DEBUG=1           Debug mode: capture messages also go to standard error.\n"
    "  QX_TEST_AUDIO=FILE   In debug mode: plays FILE in a loop instead of\n"
    "                       listening to the system.\n"
    "  QX_LOG=FILE          In debug mode: appends a JSON state line to FILE every\n"
    "                       2 seconds.\n"
    "\n"
    "Files:\n"
    "  ~/.config/Bopling/settings.json    the settings\n"
    "  ~/.local/share/Bopling/creatures/  your creatures\n"
    "  ~/.local/state/Bopling/renderer.log  the page's error log\n";

} // namespace

std::optional<int> LaunchOptions::answerCommandLine(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("bopling " BOPLING_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

bool LaunchOptions::x11PanelAsked(int argc, char *argv[], QString *error)
{
    std::optional<QString> value;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(QLatin1String("--panel=")))
            value = argument.mid(8);
        else if (argument == QLatin1String("--panel"))
            value = i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString();
    }
    if (!value || *value == QLatin1String("auto"))
        return false;
    if (*value == QLatin1String("x11"))
        return true;
    *error = QStringLiteral("unknown panel \"%1\" (use --panel=auto or --panel=x11)").arg(*value);
    return false;
}

LaunchOptions LaunchOptions::fromEnvironment(const QHash<QString, QString> &env)
{
    LaunchOptions options;
    options.debug = env.value(QStringLiteral("QX_DEBUG")) == QLatin1String("1");
    if (!options.debug)
        return options;
    if (const auto it = env.find(QStringLiteral("QX_TEST_AUDIO")); it != env.end())
        options.testAudio = it.value();
    if (const auto it = env.find(QStringLiteral("QX_LOG")); it != env.end())
        options.logPath = it.value();
    if (const QString folder = env.value(QStringLiteral("QX_CMD_DIR")); !folder.isEmpty())
        options.commandFolder = folder;
    return options;
}

QHash<QString, QString> LaunchOptions::processEnvironment()
{
    QHash<QString, QString> env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString &key : system.keys())
        env.insert(key, system.value(key));
    return env;
}

} // namespace bopling
