#pragma once

#include "settings/Settings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace bopling {

// The actions a menu item can send to the application controller.
enum class MenuAction {
    none,
    openPrivacy,
    retryTap,
    setScene,
    listenTo,
    toggleSongTitles,
    setLayout,
    setCorner,
    setSize,
    setIntensity,
    newCreature,
    toggleFamiliar,
    editCreature,
    removeCreature,
    toggleWarriors,
    setWarriorCount,
    toggleMonsters,
    togglePulse,
    toggleFade,
    startMove,
    snapToPreset,
    togglePause,
    quit,
};

// One entry of the status menu, free of any toolkit: the tray turns it into
// a QMenu each time the menu opens, and tests read it as it is.
struct MenuItem
{
    bool separator = false;
    QString title;
    MenuAction action = MenuAction::none;
    // The stored value the item stands for (a corner, a size...).
    int tag = 0;
    // A creature's or an application's name, for items that stand for one.
    QString representedObject;
    // An icon name of the desktop's theme, or empty.
    QString icon;
    bool checked = false;
    // Shown when the pointer rests on the item; empty for none.
    QString toolTip;
    // Items without an action are shown disabled; items with a submenu set it.
    bool enabled = false;
    QList<MenuItem> submenu;

    static MenuItem separatorItem();
    static MenuItem command(const QString &title, MenuAction action, int tag = 0,
                            bool checked = false);
    static MenuItem label(const QString &title);
    static MenuItem withSubmenu(const QString &title, QList<MenuItem> items, bool enabled = true);
};

// An application "Listen to" offers: one that plays now.
struct ListenChoice
{
    QString name;
    QString icon;
    // It is the stored choice.
    bool chosen = false;
};

// What the menu shows, read when it opens.
struct StatusMenuState
{
    QString statusText;
    bool paused = false;
    double silentSeconds = 0;
    bool gaveUp = false;
    std::optional<QString> lastError;

    Scene scene = Scene::campfire;
    // The applications playing now, and the stored choice (none: everything).
    QList<ListenChoice> playing;
    std::optional<QString> listenTo;
    bool songTitles = true;
    Layout layout = Layout::corner;
    Corner corner = Corner::bottomRight;
    int cornerSize = 1;
    int stripSize = 0;
    int intensity = 1;
    QStringList familiars;
    // The names of the library's creatures, oldest first; the built-in one is not among them.
    QStringList creatures;
    bool warriors = true;
    int warriorCount = -1;
    bool monsters = true;
    bool beatPulse = true;
    bool fadeOnHover = true;

    // The panel is unlocked for moving.
    bool unlocked = false;
    // The panel cannot see the pointer pass over it (a click-through layer
    // surface), so fading on hover cannot work.
    bool fadeUnavailable = false;
    // The search for Claude Code has ended without finding it.
    bool claudeMissing = false;

    // The settings part of the state, read through the store's reading rules.
    void readSettings(const Settings &settings);
};

// Seconds of silence after which the menu offers the sound settings.
inline constexpr double kOfferSettingsAfterSeconds = 12.0;
// At most this many familiars walk with the party.
inline constexpr int kMaxFamiliars = 3;

// The whole status menu for this state, top to bottom: the status line; the
// sound settings and "Retry" when capture struggles; the scene; what is listened
// to and the song titles; the layout;
// corner, size and intensity; creatures and familiars; the cast; moving the
// panel; pause and quit.
QList<MenuItem> buildStatusMenu(const StatusMenuState &state);

// The menu as text, one line per item, submenus indented by two spaces per
// level: "----" for a separator, then "> " before an item with a submenu,
// "[x] " before a checked item, "[ ] " before one with an action, four spaces
// before the rest. Lines are joined by a line feed, with none at the end.
QString menuListing(const QList<MenuItem> &items);

// `familiars` after choosing `name` in the familiars submenu: its first
// occurrence goes, or, while fewer than three are chosen, it is appended.
QStringList toggledFamiliar(QStringList familiars, const QString &name);

} // namespace bopling
