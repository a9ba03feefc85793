#pragma once

#include "app/StatusMenu.h"

#include <QIcon>
#include <QObject>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QPoint;
class QRect;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace bopling {

// The status item: an icon in the system tray whose menu is built anew from
// the menu model each time it opens. Without a tray host the program keeps
// running, says once on standard error how to reach the menu without one, and
// the icon docks when a tray starts later: an XEmbed tray, or a D-Bus one
// (StatusNotifierItem), whose host then shows the menu itself. Main thread.
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
    // Opens the menu somewhere sensible when a D-Bus tray's host reports a
    // click on the icon: it says where only in its own terms.
    std::function<void()> openElsewhere;

    // Shows the icon; false when the desktop has no tray to show it in yet.
    bool show();

    // A right-click on `widget` opens the menu at the pointer: the way to the
    // menu on desktops without a tray.
    void openOnRightClick(QWidget *widget);
    // Opens the menu at this point of the screen.
    void popup(const QPoint &position);
    // Opens the menu just above or below `panel` (in screen coordinates),
    // inside the screen's free area.
    void popupBeside(const QRect &panel);

    // Rebuilds the menu exactly as when it opens.
    void rebuild();
    QMenu *menu() const { return contextMenu.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // Shows the icon, if not yet shown, when a tray runs.
    void dockWhenTrayRuns();

private:
    // Shows the icon if a tray runs now.
    bool dock();
    void fill(QMenu *menu, const QList<MenuItem> &items);

    std::unique_ptr<QMenu> contextMenu;
    QIcon icon;
    // Made once a tray runs.
    QSystemTrayIcon *tray = nullptr;
    // Looks for a tray until one runs.
    QTimer *dockTimer = nullptr;
};

} // namespace bopling
