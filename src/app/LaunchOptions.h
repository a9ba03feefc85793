#pragma once

#include <QHash>
#include <QString>

#include <optional>

namespace bopling {

// What the environment asks of this run, read once at start:
//   QX_DEBUG=1          debug mode (any other value, or none, is normal mode);
//   QX_TEST_AUDIO=path  in debug mode only: play this file instead of listening;
//   QX_LOG=path         in debug mode only: append a state line every 2 s;
//   QX_CMD_DIR=folder   in debug mode only: where the command file and the
//                       fixed result files are, instead of /tmp (for tests).
struct LaunchOptions
{
    bool debug = false;
    std::optional<QString> testAudio;
    std::optional<QString> logPath;
    QString commandFolder = QStringLiteral("/tmp");

    static LaunchOptions fromEnvironment(const QHash<QString, QString> &env);
    // Answers --help and --version on standard output, before any window
    // exists: the exit status, or nothing when the program should run. Other
    // arguments are left to Qt.
    static std::optional<int> answerCommandLine(int argc, char *argv[]);
    // Whether "--panel=x11" (or "--panel x11") asks for the X11 panel even
    // where the compositor offers layer surfaces; "--panel=auto" is the
    // default. Any other value is false with the reason in `error`.
    static bool x11PanelAsked(int argc, char *argv[], QString *error);
    // The process environment as a map, copied once.
    static QHash<QString, QString> processEnvironment();
};

} // namespace bopling
