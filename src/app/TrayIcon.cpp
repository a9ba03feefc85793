#include "app/TrayIcon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cstdio>

namespace bopling {

namespace {

// Where a menu of `size` opens next to `panel`: above it, else below it,
// flush with the panel's edge nearer the middle of the screen; where neither
// has room, beside it, level with its bottom edge. Never outside `area`.
QPoint besidePanel(const QRect &panel, const QSize &size, const QRect &area)
{
    const bool rightHalf = panel.center().x() > area.center().x();
    int x = rightHalf ? panel.right() + 1 - size.width() : panel.left();
    int y = panel.top() - size.height();
    if (y < area.top()) {
        y = panel.bottom() + 1;
        if (y + size.height() > area.bottom() + 1) {
            x = rightHalf ? panel.left() - size.width() : panel.right() + 1;
            y = panel.bottom() + 1 - size.height();
        }
    }
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return {x, y};
}

// A title as a menu shows it word for word: "&" would mark a shortcut letter
// and a tab start the shortcut column. Song and application names are not ours.
QString menuText(QString title)
{
    for (QChar &ch : title) {
        if (ch.category() == QChar::Other_Control || ch == QChar::LineSeparator ||
            ch == QChar::ParagraphSeparator)
            ch = u' ';
    }
    return title.replace(u'&', QStringLiteral("&&"));
}

} // namespace

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
    // Starting it again always works; openbox and others take Alt + right-click for themselves.
    std::fputs("Bopling: no system tray is running yet; the menu appears in the tray once one "
               "runs. Until then, start Bopling again (from the application menu or with "
               "\"bopling\") to open its menu next to the panel. Where the window manager "
               "leaves Alt + right-click alone, holding Alt over the panel and right-clicking it "
               "opens the menu too.\n",
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

void TrayIcon::popupBeside(const QRect &panel)
{
    // Built now so that its size is known; it is built again as it opens.
    rebuild();
    const QScreen *screen = QGuiApplication::screenAt(panel.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : panel;
    contextMenu->popup(besidePanel(panel, contextMenu->sizeHint(), area));
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
            QMenu *sub = menu->addMenu(menuText(item.title));
            sub->setEnabled(item.enabled);
            fill(sub, item.submenu);
            continue;
        }
        QAction *action = menu->addAction(menuText(item.title));
        if (!item.icon.isEmpty())
            action->setIcon(QIcon::fromTheme(item.icon));
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
