#include "overlay/DesktopQueries.h"

#include "overlay/X11DesktopQueries.h"

#include <QGuiApplication>

namespace bopling {

std::unique_ptr<DesktopQueries> DesktopQueries::create()
{
    if (auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (xcb_connection_t *connection = x11->connection())
            return std::make_unique<X11DesktopQueries>(connection);
    }
    return std::make_unique<NullDesktopQueries>();
}

} // namespace bopling
