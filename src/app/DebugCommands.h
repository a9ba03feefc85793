#pragma once

#include "overlay/Placement.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

namespace bopling {

// The debug command channel's language, free of any display: in debug mode a
// script writes lines such as "set layout strip" or "windowinfo /tmp/w.txt"
// into the command file and the program runs them in order (DebugChannel).
// A line whose command is unknown or whose arguments do not fit is dropped
// here without a word.
namespace debug {

struct Snapshot
{
    QString path;
    bool operator==(const Snapshot &) const = default;
};

struct WindowInfo
{
    QString path;
    bool operator==(const WindowInfo &) const = default;
};

struct MakeCreature
{
    QString photo;
    QString model = QStringLiteral("sonnet");
    QString note;
    bool operator==(const MakeCreature &) const = default;
};

struct CreatureWindow
{
    QString creature;
    QString photo;
    QString out;
    bool edit = false;
    bool operator==(const CreatureWindow &) const = default;
};

struct SaveCreature
{
    QString path;
    bool operator==(const SaveCreature &) const = default;
};

struct MenuDump
{
    QString path;
    bool operator==(const MenuDump &) const = default;
};

struct Script
{
    QString code;
    bool operator==(const Script &) const = default;
};

struct Drag
{
    double dx = 0;
    double dy = 0;
    bool operator==(const Drag &) const = default;
};

// The keys of `set`.
enum class Key {
    layout,
    corner,
    cornerSize,
    stripSize,
    intensity,
    tobble,
    paused,
    move,
    hover,
    scene,
    warriors,
    warriorCount,
    monsters,
    listen,
    songTitles
};

// The hover override: none returns to the pointer test.
using Hover = std::optional<bool>;

using SetValue = std::variant<std::monostate, bool, int, Layout, Corner, Scene, Hover, QString>;

// `set KEY VALUE`, read by the key's rule: layout, corner and scene by their
// names; sizes, intensity and the warrior count as integers, stored as given
// (the settings' readers clamp); `listen` as the rest of the line, an application's name as
// the menu shows it (spaces and all) or "everything"; `songTitles` true for "1" or "true";
// the rest as flags, true only for "1".
struct Set
{
    // None: a key not in the table, which changes nothing (but the placement
    // and the configuration still go out again).
    std::optional<Key> key;
    SetValue value;
    bool operator==(const Set &) const = default;
};

} // namespace debug

using DebugCommand =
    std::variant<debug::Snapshot, debug::WindowInfo, debug::MakeCreature, debug::CreatureWindow,
                 debug::SaveCreature, debug::MenuDump, debug::Script, debug::Drag, debug::Set>;

// The command file's text as commands, in file order.
QList<DebugCommand> parseDebugCommands(const QString &text);
// One line; none when it is no command.
std::optional<DebugCommand> parseDebugCommand(const QString &line);

// What `windowinfo` reports about the panel.
struct WindowFacts
{
    Frame frame;
    bool visible = false;
    int level = 0;
    int screens = 0;
    quint64 number = 0;
    bool occlusion = false;
    double alpha = 1;
    bool ignoresMouse = false;
    std::optional<bool> hover;
    double target = 1;
};

// "frame=(x, y, width, height) visible=… level=… screens=… number=…
// occlusion=… alpha=0.00 ignoresMouse=… hover=none|true|false target=1.0",
// one line without a line feed.
QString windowInfoLine(const WindowFacts &facts);

// The command file's text, once it is gone from `path`: none (and the file
// left alone) unless it is a regular file of this user, not a symbolic link,
// not empty, and UTF-8. Another account cannot drive the program through a
// shared folder such as /tmp.
std::optional<QString> takeCommandFile(const QString &path);

// Puts `bytes` at `path` as a new file renamed into place, so that a symbolic
// link planted there is replaced, never written through. False when nothing
// was written.
bool writeResultFile(const QString &path, const QByteArray &bytes);
// The same for a writer that takes a file name: `write` fills the new file
// (created empty beside `path`) and says whether it succeeded.
bool writeResultFile(const QString &path, const std::function<bool(const QString &)> &write);

} // namespace bopling
