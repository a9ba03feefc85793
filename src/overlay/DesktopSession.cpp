#include "overlay/DesktopSession.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace bopling {

namespace {

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// A property's raw value; empty when it is missing.
QByteArray property(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name,
                    xcb_atom_t type)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, name, type, 0, 256), nullptr);
    QByteArray value;
    if (reply)
        value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

} // namespace

DesktopSession DesktopSession::current()
{
    DesktopSession session;
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return session;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK");
    const QByteArray checkWindow = property(connection, root, check, XCB_ATOM_WINDOW);
    if (checkWindow.size() != sizeof(xcb_window_t))
        return session;
    xcb_window_t wm = 0;
    std::memcpy(&wm, checkWindow.constData(), sizeof wm);
    session.windowManager =
        QString::fromUtf8(property(connection, wm, internAtom(connection, "_NET_WM_NAME"),
                                   internAtom(connection, "UTF8_STRING")));
    return session;
}

} // namespace bopling
