#include "overlay/OverlayPanel.h"

#include "overlay/DesktopQueries.h"
#include "overlay/DesktopSession.h"
#include "overlay/LayerPanel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace bopling {

namespace {

constexpr std::size_t kRequestedFramesKept = 16;

QRectF primaryGeometry()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    return primary ? QRectF(primary->geometry()) : QRectF();
}

} // namespace

OverlayPanel::OverlayPanel()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus)
{
    // Decided before the native window exists: it cannot change afterwards.
    if (DesktopSession::current().panelUnmanaged())
        setWindowFlag(Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    // The first placement gives the panel its size.
    resize(0, 0);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The native window exists from here on, so the window manager hints are
    // in place before the panel is first mapped.
    winId();
    DesktopQueries::create()->preparePanel(windowHandle());
    windowHandle()->installEventFilter(this);
    // Every window of the program passes by here as it is shown or hidden.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

OverlayPanel::~OverlayPanel() = default;

void OverlayPanel::setContentView(QWidget *view)
{
    if (content == view)
        return;
    if (content) {
        layout()->removeWidget(content);
        content->deleteLater();
    }
    content = view;
    if (content)
        layout()->addWidget(content);
}

Frame OverlayPanel::frame() const
{
    return frameFromQt(QRectF(geometry()), primaryGeometry());
}

void OverlayPanel::setFrame(const Frame &frame)
{
    // Qt's geometry is in whole logical pixels. A stored position may hold a fraction: the
    // origin is rounded and the size kept, never widened to cover the fraction.
    const QRectF rect = frameToQt(frame, primaryGeometry());
    const QRect target(rect.topLeft().toPoint(), rect.size().toSize());
    if (target == geometry())
        return;
    // A few are enough: each move report confirms the ones before it.
    if (requested.size() >= kRequestedFramesKept)
        requested.pop_front();
    requested.push_back(target.topLeft());
    setGeometry(target);
    update();
    if (layer) {
        const QScreen *screen = QGuiApplication::screenAt(target.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            // A panel across the whole width is the strip (whose width is
            // even, so it may leave one pixel): it keeps to both sides.
            const QRect area = screen->availableGeometry();
            const bool strip = target.x() == area.x() && target.width() >= area.width() - 1;
            layer->setGeometry(target, area, strip, screen->name());
        }
    }
}

void OverlayPanel::presentOnLayer(std::unique_ptr<LayerPanel> surface)
{
    layer = std::move(surface);
    hide();
}

bool OverlayPanel::onScreen() const
{
    return layer ? layer->isShown() : isVisible();
}

bool OverlayPanel::pointerInside(QPoint pointer) const
{
    return layer ? layer->pointerInside() : geometry().contains(pointer);
}

bool OverlayPanel::ignoresMouseEvents() const
{
    return clickThrough;
}

void OverlayPanel::setIgnoresMouseEvents(bool ignores)
{
    clickThrough = ignores;
    if (layer)
        layer->setClickThrough(ignores);
    // On the QWindow, not the widget: setWindowFlags() would re-create the
    // native window and lose its hints and position.
    if (QWindow *window = windowHandle())
        window->setFlag(Qt::WindowTransparentForInput, ignores);
}

bool OverlayPanel::isOwnWindow(const QWidget *window) const
{
    // Windows the window manager frames: not menus, tool tips or the tray
    // icon's own frameless window.
    constexpr Qt::WindowFlags kUnframed = Qt::FramelessWindowHint | Qt::BypassWindowManagerHint;
    const Qt::WindowType type = window->windowType();
    return window != this && window->isVisible() && !window->isMinimized() &&
           !(window->windowFlags() & kUnframed) &&
           (type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet || type == Qt::Tool);
}

void OverlayPanel::followOwnWindows()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    const bool open = std::any_of(windows.begin(), windows.end(),
                                  [this](const QWidget *window) { return isOwnWindow(window); });
    if (open == ownWindowsOpen)
        return;
    ownWindowsOpen = open;
    DesktopQueries::create()->keepAbove(windowHandle(), !open);
    if (!open && isVisible())
        raise();
}

bool OverlayPanel::eventFilter(QObject *watched, QEvent *event)
{
    // A window is shown before it is mapped, so the panel steps down in time
    // for it to open above; a hidden one may still count as visible here.
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange) &&
        watched != this && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()) {
        if (type == QEvent::Show)
            followOwnWindows();
        else
            QTimer::singleShot(0, this, &OverlayPanel::followOwnWindows);
    }
    // Click-through is an empty input shape on the native window. A window
    // manager that wraps the panel in a frame copies that shape to the frame
    // when it changes, but openbox misses a shape that is already empty when
    // it takes the window on. So the shape is set anew each time the panel has
    // been mapped, which is when its first expose arrives.
    if (watched == windowHandle() && event->type() == QEvent::Expose && inputShapePending &&
        windowHandle()->isExposed()) {
        inputShapePending = false;
        if (clickThrough) {
            windowHandle()->setFlag(Qt::WindowTransparentForInput, false);
            windowHandle()->setFlag(Qt::WindowTransparentForInput, true);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void OverlayPanel::showEvent(QShowEvent *event)
{
    // The window manager drops its hints when the panel is taken off screen;
    // they go back before it is mapped again.
    if (shownBefore)
        DesktopQueries::create()->preparePanel(windowHandle());
    shownBefore = true;
    inputShapePending = true;
    QWidget::showEvent(event);
}

void OverlayPanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    const auto asked = std::find(requested.begin(), requested.end(), geometry().topLeft());
    if (asked != requested.end()) {
        requested.erase(requested.begin(), asked + 1);
        return;
    }
    if (isVisible() && onMovedElsewhere)
        onMovedElsewhere();
}

void OverlayPanel::orderFrontRegardless()
{
    if (layer) {
        layer->show();
        return;
    }
    show();
    if (!ownWindowsOpen) {
        raise();
        return;
    }
    // Shown again, the panel opens above every normal window: it steps down,
    // and the program's own open windows go back above it.
    DesktopQueries::create()->keepAbove(windowHandle(), false);
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (isOwnWindow(window))
            window->raise();
    }
}

void OverlayPanel::orderOut()
{
    if (layer) {
        layer->hide();
        return;
    }
    hide();
}

double OverlayPanel::alphaValue() const
{
    // The window keeps the exact value; QWidget::windowOpacity() rounds it to 1/255.
    return windowHandle() ? windowHandle()->opacity() : windowOpacity();
}

void OverlayPanel::setAlphaValue(double alpha)
{
    setWindowOpacity(alpha);
}

} // namespace bopling
