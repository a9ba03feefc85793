#pragma once

#include "app/StatusMenu.h"

#include <QIcon>
#include <QObject>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace bopling {

// The status item: an icon in the system tray whose menu is built anew from
// the menu model each time it opens. Without a tray host the program keeps
// running without it and says so once on standard error. Main thread.
class TrayIcon final : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(const QIcon &icon, QObject *parent = nullptr);
    ~TrayIcon() override;

    // The items to show, asked for each time the menu opens.
    std::function<QList<MenuItem>()> buildMenu;
    // The item the user chose.
    std::function<void(const MenuItem &)> onAction;

    // Shows the icon; false when the desktop has no tray to show it in.
    bool show();

    // Rebuilds the menu exactly as when it opens.
    void rebuild();
    QMenu *menu() const { return contextMenu.get(); }

private:
    void fill(QMenu *menu, const QList<MenuItem> &items);

    std::unique_ptr<QMenu> contextMenu;
    QSystemTrayIcon *tray = nullptr;
};

} // namespace bopling
