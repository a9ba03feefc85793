#include "app/StatusMenu.h"

#include "creatures/CreatureLibrary.h"

#include <utility>

namespace bopling {

namespace {

// Items that all send `action`, one per title and tag, the one whose tag is
// `marked` checked.
QList<MenuItem> choices(MenuAction action, const QList<std::pair<QString, int>> &entries,
                        int marked)
{
    QList<MenuItem> items;
    for (const auto &[title, tag] : entries)
        items.append(MenuItem::command(title, action, tag, tag == marked));
    return items;
}

QList<MenuItem> cornerItems(Corner corner)
{
    return choices(MenuAction::setCorner,
                   {{QStringLiteral("Top left"), int(Corner::topLeft)},
                    {QStringLiteral("Top right"), int(Corner::topRight)},
                    {QStringLiteral("Bottom left"), int(Corner::bottomLeft)},
                    {QStringLiteral("Bottom right"), int(Corner::bottomRight)}},
                   int(corner));
}

// The tags are the stored size values, so the smallest size comes first with
// the highest number.
QList<MenuItem> sizeItems(const StatusMenuState &state)
{
    if (state.layout == Layout::strip) {
        return choices(MenuAction::setSize,
                       {{QStringLiteral("Tiny"), 2},
                        {QStringLiteral("Short"), 0},
                        {QStringLiteral("Tall"), 1}},
                       state.stripSize);
    }
    return choices(MenuAction::setSize,
                   {{QStringLiteral("Tiny"), 3},
                    {QStringLiteral("Small"), 0},
                    {QStringLiteral("Medium"), 1},
                    {QStringLiteral("Large"), 2}},
                   state.cornerSize);
}

QList<MenuItem> intensityItems(int intensity)
{
    return choices(
        MenuAction::setIntensity,
        {{QStringLiteral("Calm"), 0}, {QStringLiteral("Normal"), 1}, {QStringLiteral("Wild"), 2}},
        intensity);
}

// With three familiars chosen only those three can be clicked, to let one go.
QList<MenuItem> familiarItems(const StatusMenuState &state)
{
    QList<MenuItem> items;
    const bool room = state.familiars.size() < kMaxFamiliars;
    for (const QString &name : QStringList{CreatureLibrary::kBuiltInName} + state.creatures) {
        const bool chosen = state.familiars.contains(name);
        MenuItem item = MenuItem::command(
            name, chosen || room ? MenuAction::toggleFamiliar : MenuAction::none, 0, chosen);
        item.representedObject = name;
        items.append(item);
    }
    return items;
}

// "Everything", each application playing now, and the stored choice when it
// does not play; the one listened to is checked.
QList<MenuItem> listenItems(const StatusMenuState &state)
{
    QList<MenuItem> items{
        MenuItem::command(QStringLiteral("Everything"), MenuAction::listenTo, 0, !state.listenTo)};
    bool chosenPlays = false;
    for (const ListenChoice &choice : state.playing) {
        MenuItem item = MenuItem::command(choice.name, MenuAction::listenTo, 0,
                                          state.listenTo && choice.chosen);
        item.representedObject = choice.name;
        item.icon = choice.icon;
        items.append(item);
        chosenPlays = chosenPlays || item.checked;
    }
    if (state.listenTo && !chosenPlays) {
        MenuItem item = MenuItem::command(*state.listenTo + QStringLiteral(" (not playing)"),
                                          MenuAction::listenTo, 0, true);
        item.representedObject = *state.listenTo;
        items.append(item);
    }
    return items;
}

// One "<verb> <name>…" item per library creature.
QList<MenuItem> creatureItems(const QStringList &creatures, const QString &verb, MenuAction action)
{
    QList<MenuItem> items;
    for (const QString &name : creatures) {
        MenuItem item = MenuItem::command(verb + QLatin1Char(' ') + name + QChar(0x2026), action);
        item.representedObject = name;
        items.append(item);
    }
    return items;
}

QList<MenuItem> warriorCountItems(int count)
{
    QList<std::pair<QString, int>> entries{{QStringLiteral("Auto"), -1},
                                           {QStringLiteral("0 (none)"), 0}};
    for (int n = 1; n <= 8; ++n)
        entries.append({QString::number(n), n});
    return choices(MenuAction::setWarriorCount, entries, count);
}

void appendListing(QStringList &lines, const QList<MenuItem> &items, int depth)
{
    const QString indent(2 * depth, QLatin1Char(' '));
    for (const MenuItem &item : items) {
        if (item.separator) {
            lines.append(indent + QStringLiteral("----"));
            continue;
        }
        QString marker = QStringLiteral("    ");
        if (!item.submenu.isEmpty())
            marker = QStringLiteral("> ");
        else if (item.checked)
            marker = QStringLiteral("[x] ");
        else if (item.action != MenuAction::none)
            marker = QStringLiteral("[ ] ");
        lines.append(indent + marker + item.title);
        appendListing(lines, item.submenu, depth + 1);
    }
}

} // namespace

MenuItem MenuItem::separatorItem()
{
    MenuItem item;
    item.separator = true;
    return item;
}

MenuItem MenuItem::command(const QString &title, MenuAction action, int tag, bool checked)
{
    MenuItem item;
    item.title = title;
    item.action = action;
    item.tag = tag;
    item.checked = checked;
    item.enabled = action != MenuAction::none;
    return item;
}

MenuItem MenuItem::label(const QString &title)
{
    return command(title, MenuAction::none);
}

MenuItem MenuItem::withSubmenu(const QString &title, QList<MenuItem> items, bool enabled)
{
    MenuItem item;
    item.title = title;
    item.submenu = std::move(items);
    item.enabled = enabled;
    return item;
}

void StatusMenuState::readSettings(const Settings &settings)
{
    paused = settings.paused();
    scene = settings.scene();
    listenTo = settings.listenTo();
    songTitles = settings.songTitles();
    layout = settings.layout();
    corner = settings.corner();
    cornerSize = settings.cornerSize();
    stripSize = settings.stripSize();
    intensity = settings.intensity();
    familiars = settings.familiars();
    warriors = settings.warriors();
    warriorCount = settings.warriorCount();
    monsters = settings.monsters();
    beatPulse = settings.beatPulse();
    fadeOnHover = settings.fadeOnHover();
}

QList<MenuItem> buildStatusMenu(const StatusMenuState &state)
{
    const bool strip = state.layout == Layout::strip;
    const bool walk = state.scene == Scene::walk;
    QList<MenuItem> items;
    items.append(MenuItem::label(state.statusText));
    if (state.silentSeconds > kOfferSettingsAfterSeconds || state.lastError) {
        items.append(MenuItem::command(
            state.gaveUp ? QStringLiteral("Open Sound Settings...")
                         : QStringLiteral("If nothing reacts: open Sound Settings..."),
            MenuAction::openPrivacy));
    }
    if (state.gaveUp)
        items.append(MenuItem::command(QStringLiteral("Retry"), MenuAction::retryTap));
    items.append(MenuItem::separatorItem());

    items.append(MenuItem::command(QStringLiteral("Campfire: the party fights around the fire"),
                                   MenuAction::setScene, int(Scene::campfire), !walk));
    items.append(
        MenuItem::command(QStringLiteral("Walk: the party walks the land, tempo sets the pace"),
                          MenuAction::setScene, int(Scene::walk), walk));
    items.append(MenuItem::withSubmenu(QStringLiteral("Listen to"), listenItems(state)));
    items.append(MenuItem::command(QStringLiteral("Show song titles"), MenuAction::toggleSongTitles,
                                   0, state.songTitles));
    items.append(MenuItem::separatorItem());

    items.append(MenuItem::command(QStringLiteral("Corner panel"), MenuAction::setLayout,
                                   int(Layout::corner), !strip));
    items.append(MenuItem::command(QStringLiteral("Bottom strip"), MenuAction::setLayout,
                                   int(Layout::strip), strip));
    items.append(MenuItem::separatorItem());

    items.append(
        MenuItem::withSubmenu(QStringLiteral("Corner"), cornerItems(state.corner), !strip));
    items.append(MenuItem::withSubmenu(
        strip ? QStringLiteral("Strip height") : QStringLiteral("Panel size"), sizeItems(state)));
    items.append(
        MenuItem::withSubmenu(QStringLiteral("Intensity"), intensityItems(state.intensity)));
    const QString newCreature = QStringLiteral("New creature from photo") + QChar(0x2026);
    items.append(MenuItem::command(
        state.claudeMissing ? newCreature + QStringLiteral(" (needs Claude Code)") : newCreature,
        MenuAction::newCreature));
    items.append(
        MenuItem::withSubmenu(QStringLiteral("Familiars (up to 3)"), familiarItems(state)));
    if (!state.creatures.isEmpty()) {
        items.append(MenuItem::withSubmenu(
            QStringLiteral("Edit a creature"),
            creatureItems(state.creatures, QStringLiteral("Edit"), MenuAction::editCreature)));
        items.append(MenuItem::withSubmenu(
            QStringLiteral("Remove a creature"),
            creatureItems(state.creatures, QStringLiteral("Remove"), MenuAction::removeCreature)));
    }
    items.append(MenuItem::command(QStringLiteral("Warriors"), MenuAction::toggleWarriors, 0,
                                   state.warriors));
    items.append(MenuItem::withSubmenu(QStringLiteral("Number of warriors"),
                                       warriorCountItems(state.warriorCount)));
    items.append(MenuItem::command(QStringLiteral("Monsters"), MenuAction::toggleMonsters, 0,
                                   state.monsters));
    items.append(MenuItem::command(QStringLiteral("Beat pulse"), MenuAction::togglePulse, 0,
                                   state.beatPulse));
    items.append(MenuItem::command(QStringLiteral("Fade on hover"), MenuAction::toggleFade, 0,
                                   state.fadeOnHover));
    if (state.fadeUnavailable)
        items.last().toolTip = QStringLiteral(
            "Not available on this panel: the compositor lets every click and every pointer "
            "movement through it, so it never learns that the pointer is over it.");
    items.append(MenuItem::separatorItem());

    items.append(state.unlocked ? MenuItem::label(QStringLiteral(
                                      "Moving: click elsewhere or press Esc to lock"))
                                : MenuItem::command(QStringLiteral("Move... (or hold Alt over it)"),
                                                    MenuAction::startMove));
    items.append(
        MenuItem::command(QStringLiteral("Snap to preset position"), MenuAction::snapToPreset));
    items.append(MenuItem::separatorItem());

    items.append(
        MenuItem::command(state.paused ? QStringLiteral("Resume") : QStringLiteral("Pause"),
                          MenuAction::togglePause));
    items.append(MenuItem::command(QStringLiteral("Quit Bopling"), MenuAction::quit));
    return items;
}

QString menuListing(const QList<MenuItem> &items)
{
    QStringList lines;
    appendListing(lines, items, 0);
    return lines.join(QLatin1Char('\n'));
}

QStringList toggledFamiliar(QStringList familiars, const QString &name)
{
    if (familiars.contains(name))
        familiars.removeAt(familiars.indexOf(name));
    else if (familiars.size() < kMaxFamiliars)
        familiars.append(name);
    return familiars;
}

} // namespace bopling
