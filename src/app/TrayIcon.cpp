#include "app/TrayIcon.h"

#include "overlay/DesktopSession.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace bopling {

namespace {

const QString kNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int kWatcherTimeoutMilliseconds = 500;
// An XEmbed tray says nothing to the icons to come: it is looked for, one
// question to the X server, every second at first, then less and less often
// down to this, for as long as none runs.
constexpr int kXEmbedCheckMilliseconds = 1000;
constexpr int kXEmbedCheckLongestMilliseconds = 8000;

// Whether a D-Bus tray runs: the watcher, and a host registered with it. Qt
// asks the same question once, as the first icon is shown, and keeps the
// answer for the whole run.
bool statusNotifierHostRuns()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kNotifierWatcher))
        return false;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kNotifierWatcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << kNotifierWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage answer = bus.call(ask, QDBus::Block, kWatcherTimeoutMilliseconds);
    return answer.type() == QDBusMessage::ReplyMessage &&
           answer.arguments().value(0).value<QDBusVariant>().variant().toBool();
}

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
    : QObject(parent), contextMenu(std::make_unique<QMenu>()), icon(icon)
{
    connect(contextMenu.get(), &QMenu::aboutToShow, this, &TrayIcon::rebuild);
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::show()
{
    if (dock())
        return true;
    // Made now, the icon would take the XEmbed way for good, and a D-Bus
    // tray that starts later would never hear of it. A D-Bus tray announces
    // its watcher and its host on the bus.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto *watcher = new QDBusServiceWatcher(kNotifierWatcher, bus,
                                                QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                &TrayIcon::dockWhenTrayRuns);
        bus.connect(kNotifierWatcher, QStringLiteral("/StatusNotifierWatcher"), kNotifierWatcher,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(dockWhenTrayRuns()));
    }
    dockTimer = new QTimer(this);
    connect(dockTimer, &QTimer::timeout, this, [this] {
        if (DesktopSession::xembedTrayRuns())
            dockWhenTrayRuns();
        else
            dockTimer->setInterval(
                std::min(dockTimer->interval() * 2, kXEmbedCheckLongestMilliseconds));
    });
    dockTimer->start(kXEmbedCheckMilliseconds);
    // Starting Bopling again always works. openbox and others take Alt +
    // right-click for themselves, and in a Wayland session it works only
    // while an X11 window has the keyboard: on GNOME hardly ever.
    std::fputs("Bopling: no system tray is running yet; the menu appears in the tray once one "
               "runs. Until then, start Bopling again (from the application menu or with "
               "\"bopling\") to open its menu next to the panel.",
               stderr);
    if (!DesktopSession::current().xwayland)
        std::fputs(" Where the window manager leaves Alt + right-click alone, holding Alt over "
                   "the panel and right-clicking it opens the menu too.",
                   stderr);
    std::fputs("\n", stderr);
    return false;
}

void TrayIcon::dockWhenTrayRuns()
{
    if (!tray && dock())
        dockTimer->stop();
}

bool TrayIcon::dock()
{
    const bool dbusTray = statusNotifierHostRuns();
    if (!dbusTray && !DesktopSession::xembedTrayRuns())
        return false;
    // Qt chooses between the two kinds of tray as the icon is made, for
    // this one and every later one.
    tray = new QSystemTrayIcon(icon, this);
    tray->setToolTip(QStringLiteral("Bopling"));
    tray->setContextMenu(contextMenu.get());
    // A plain click opens the menu too: the program has no window to show. A
    // D-Bus tray's host shows the menu itself on a right-click; on a left
    // click the pointer's position may be stale (XWayland's, in a Wayland
    // session).
    connect(tray, &QSystemTrayIcon::activated, this,
            [this, dbusTray](QSystemTrayIcon::ActivationReason why) {
                if (why != QSystemTrayIcon::Trigger)
                    return;
                if (!dbusTray)
                    popup(QCursor::pos());
                else if (openElsewhere)
                    openElsewhere();
            });
    // Hosts may read the menu before they say that it is about to open.
    rebuild();
    tray->show();
    return true;
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
        if (!item.toolTip.isEmpty()) {
            action->setToolTip(item.toolTip);
            menu->setToolTipsVisible(true);
        }
        connect(action, &QAction::triggered, this, [this, item] {
            if (onAction)
                onAction(item);
        });
    }
}

} // namespace bopling
