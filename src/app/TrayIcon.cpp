#include "app/TrayIcon.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdio>

namespace bopling {

TrayIcon::TrayIcon(const QIcon &icon, QObject *parent)
    : QObject(parent), contextMenu(std::make_unique<QMenu>()), tray(new QSystemTrayIcon(icon, this))
{
    tray->setToolTip(QStringLiteral("Bopling"));
    tray->setContextMenu(contextMenu.get());
    connect(contextMenu.get(), &QMenu::aboutToShow, this, &TrayIcon::rebuild);
    // A plain click opens the menu too: the program has no window to show.
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger)
            contextMenu->popup(QCursor::pos());
    });
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::show()
{
    tray->show();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return true;
    std::fputs("Bopling: no system tray on this desktop, so its menu cannot be shown. Bopling "
               "keeps running; stop it with Ctrl-C or by sending it SIGTERM.\n",
               stderr);
    return false;
}

void TrayIcon::rebuild()
{
    contextMenu->clear();
    if (buildMenu)
        fill(contextMenu.get(), buildMenu());
}

void TrayIcon::fill(QMenu *menu, const QList<MenuItem> &items)
{
    for (const MenuItem &item : items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        if (!item.submenu.isEmpty()) {
            QMenu *sub = menu->addMenu(item.title);
            sub->setEnabled(item.enabled);
            fill(sub, item.submenu);
            continue;
        }
        QAction *action = menu->addAction(item.title);
        action->setEnabled(item.enabled && item.action != MenuAction::none);
        action->setCheckable(item.checked);
        action->setChecked(item.checked);
        connect(action, &QAction::triggered, this, [this, item] {
            if (onAction)
                onAction(item);
        });
    }
}

} // namespace bopling
