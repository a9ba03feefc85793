#include "app/MenuActions.h"

#include "creatures/CreatureLibrary.h"
#include "settings/Settings.h"

namespace bopling {

MenuActions::MenuActions(Settings &settings, const CreatureLibrary &library, Hooks hooks)
    : settings(settings), library(library), hooks(std::move(hooks))
{}

bool MenuActions::perform(const MenuItem &item)
{
    switch (item.action) {
    case MenuAction::setScene:
        setScene(item.tag);
        return true;
    case MenuAction::setIntensity:
        setIntensity(item.tag);
        return true;
    case MenuAction::toggleWarriors:
        toggleWarriors();
        return true;
    case MenuAction::setWarriorCount:
        setWarriorCount(item.tag);
        return true;
    case MenuAction::toggleMonsters:
        toggleMonsters();
        return true;
    case MenuAction::togglePulse:
        togglePulse();
        return true;
    case MenuAction::toggleFamiliar:
        toggleFamiliar(item.representedObject);
        return true;
    case MenuAction::removeCreature:
        removeCreature(item.representedObject);
        return true;
    case MenuAction::newCreature:
        newCreature();
        return true;
    case MenuAction::editCreature:
        editCreature(item.representedObject);
        return true;
    default:
        return false;
    }
}

void MenuActions::changed()
{
    if (hooks.pushConfig)
        hooks.pushConfig();
}

void MenuActions::setScene(int tag)
{
    settings.setScene(tag == int(Scene::walk) ? Scene::walk : Scene::campfire);
    changed();
}

void MenuActions::setIntensity(int tag)
{
    settings.setIntensity(tag);
    changed();
}

void MenuActions::toggleWarriors()
{
    settings.setWarriors(!settings.warriors());
    changed();
}

void MenuActions::setWarriorCount(int tag)
{
    settings.setWarriorCount(tag);
    if (tag >= 1)
        settings.setWarriors(true);
    changed();
}

void MenuActions::toggleMonsters()
{
    settings.setMonsters(!settings.monsters());
    changed();
}

void MenuActions::togglePulse()
{
    settings.setBeatPulse(!settings.beatPulse());
    changed();
}

void MenuActions::toggleFamiliar(const QString &name)
{
    if (name.isEmpty())
        return;
    settings.setFamiliars(toggledFamiliar(settings.familiars(), name));
    changed();
}

void MenuActions::removeCreature(const QString &name)
{
    if (name.isEmpty() || !hooks.confirmRemoval || !hooks.confirmRemoval(name))
        return;
    library.remove(name);
    QStringList familiars = settings.familiars();
    familiars.removeAll(name);
    settings.setFamiliars(familiars);
    changed();
}

void MenuActions::newCreature()
{
    if (hooks.claudeMissing && hooks.claudeMissing()) {
        if (hooks.openUrl)
            hooks.openUrl(kClaudeCodeOverview);
        return;
    }
    if (hooks.openNew)
        hooks.openNew();
}

void MenuActions::editCreature(const QString &name)
{
    if (name.isEmpty() || !hooks.openForEdit)
        return;
    if (const std::optional<Creature> creature = library.find(name))
        hooks.openForEdit(*creature);
}

} // namespace bopling
