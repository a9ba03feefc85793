#include "app/TrayIcon.h"

#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
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
            popup(QCursor::pos());
    });
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::show()
{
    tray->show();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return true;
    // The icon docks by itself once a tray starts.
    std::fputs("Bopling: no system tray is running yet; the menu appears in the tray once one "
               "runs. Until then, hold Alt over the panel and right-click it to open the menu.\n",
               stderr);
    return false;
}

void TrayIcon::openOnRightClick(QWidget *widget)
{
    widget->installEventFilter(this);
}

void TrayIcon::popup(const QPoint &position)
{
    contextMenu->popup(position);
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    // The press is taken here so that the widget below never starts a drag
    // whose release the open menu would swallow.
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() == Qt::RightButton) {
            popup(press->globalPosition().toPoint());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TrayIcon::rebuild()
{
    // clear() drops the submenus' items but leaves the submenus themselves,
    // which would pile up with every opening.
    qDeleteAll(contextMenu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly));
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
