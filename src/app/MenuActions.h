#pragma once

#include "app/StatusMenu.h"

#include <QString>
#include <QUrl>

#include <functional>

namespace bopling {

class Creature;
class CreatureLibrary;
class Settings;

// The menu's own actions: the scene, the intensity, the cast and the
// familiars written to the settings, creatures removed from the library, and
// the way into the creature window. Everything the page shows is re-sent
// through `pushConfig` after a change. The controller hands in what needs a
// display (the removal alert, the creature window, the browser) as call-backs,
// so the rules run without one. Main thread only.
class MenuActions final
{
public:
    struct Hooks
    {
        // Re-sends the configuration (and the familiars) to the page.
        std::function<void()> pushConfig;
        // Asks before a creature is removed; true when "Remove" was chosen.
        std::function<bool(const QString &name)> confirmRemoval;
        // True once the search for Claude Code has ended without finding it.
        std::function<bool()> claudeMissing;
        // The creature window, for a new creature and for editing one.
        std::function<void()> openNew;
        std::function<void(const Creature &)> openForEdit;
        std::function<void(const QUrl &)> openUrl;
    };

    // Where a user without Claude Code learns to install it.
    static inline const QUrl kClaudeCodeOverview =
        QUrl(QStringLiteral("https://docs.claude.com/en/docs/claude-code/overview"));

    // `settings` and `library` must outlive this object.
    MenuActions(Settings &settings, const CreatureLibrary &library, Hooks hooks);

    // Runs the item's action when it is one of these; false for any other.
    bool perform(const MenuItem &item);

    // Tag 1 is the walk, any other the campfire.
    void setScene(int tag);
    void setIntensity(int tag);
    void toggleWarriors();
    // A number of warriors turns them on; "Auto" (-1) and "none" (0) leave them as they are.
    void setWarriorCount(int tag);
    void toggleMonsters();
    void togglePulse();
    void toggleFamiliar(const QString &name);
    // After the user confirms: the creature's file goes, and the name leaves the familiars.
    void removeCreature(const QString &name);
    // The creature window, or Claude Code's documentation when the CLI is known to be missing.
    void newCreature();
    // The creature window on the creature of this name, if it still exists.
    void editCreature(const QString &name);

private:
    void changed();

    Settings &settings;
    const CreatureLibrary &library;
    Hooks hooks;
};

} // namespace bopling
