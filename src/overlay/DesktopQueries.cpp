#include "overlay/DesktopQueries.h"

#include "overlay/X11DesktopQueries.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWindow>

namespace bopling {

QPoint DesktopQueries::pointerPosition()
{
    return QCursor::pos();
}

bool DesktopQueries::pointerOverOwnWindow()
{
    return QGuiApplication::topLevelAt(pointerPosition()) != nullptr;
}

bool DesktopQueries::pointerInWindow(const QWindow &window)
{
    return window.geometry().contains(pointerPosition());
}

bool DesktopQueries::altHeld()
{
    // On xcb this asks the X server, so it holds while another window has the keyboard.
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
}

bool DesktopQueries::buttonHeld()
{
    return QGuiApplication::mouseButtons() != Qt::NoButton;
}

std::unique_ptr<DesktopQueries> DesktopQueries::create()
{
    if (auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (xcb_connection_t *connection = x11->connection())
            return std::make_unique<X11DesktopQueries>(connection);
    }
    return std::make_unique<NullDesktopQueries>();
}

} // namespace bopling
