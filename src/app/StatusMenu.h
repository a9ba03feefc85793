#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace bopling {

// The actions a menu item can send to the application controller.
enum class MenuAction {
    none,
    openPrivacy,
    retryTap,
    newCreature,
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
    // A creature's name, for items that stand for one.
    QString representedObject;
    bool checked = false;
    // Items without an action are shown disabled; items with a submenu set it.
    bool enabled = false;
    QList<MenuItem> submenu;

    static MenuItem separatorItem();
    static MenuItem command(const QString &title, MenuAction action, int tag = 0);
    static MenuItem label(const QString &title);
};

// What the menu shows, read when it opens.
struct StatusMenuState
{
    QString statusText;
    bool paused = false;
    double silentSeconds = 0;
    bool gaveUp = false;
    std::optional<QString> lastError;
    bool fadeOnHover = true;
    // The panel is unlocked for moving.
    bool unlocked = false;
};

// Seconds of silence after which the menu offers the sound settings.
inline constexpr double kOfferSettingsAfterSeconds = 12.0;

// The status menu: the status line (disabled); the sound settings offer after
// long silence or a capture error, with "Retry" once capture has given up;
// "New creature from photo…"; the fade on hover; moving the panel and
// snapping it back; "Resume" or "Pause"; "Quit Bopling".
QList<MenuItem> buildStatusMenu(const StatusMenuState &state);

} // namespace bopling
