#include "app/StatusMenu.h"

namespace bopling {

MenuItem MenuItem::separatorItem()
{
    MenuItem item;
    item.separator = true;
    return item;
}

MenuItem MenuItem::command(const QString &title, MenuAction action, int tag)
{
    MenuItem item;
    item.title = title;
    item.action = action;
    item.tag = tag;
    item.enabled = action != MenuAction::none;
    return item;
}

MenuItem MenuItem::label(const QString &title)
{
    return command(title, MenuAction::none);
}

QList<MenuItem> buildStatusMenu(const StatusMenuState &state)
{
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
    items.append(MenuItem::command(QStringLiteral("New creature from photo…"),
                                   MenuAction::newCreature));
    MenuItem fade = MenuItem::command(QStringLiteral("Fade on hover"), MenuAction::toggleFade);
    fade.checked = state.fadeOnHover;
    items.append(fade);
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

} // namespace bopling
