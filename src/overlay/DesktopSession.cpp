#include "overlay/DesktopSession.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <climits>
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

// sway's IPC: "i3-ipc", the payload's length and the message type, then the payload.
constexpr char kIpcMagic[] = "i3-ipc";
constexpr std::size_t kIpcHeader = 6 + 2 * sizeof(std::uint32_t);
constexpr std::uint32_t kGetTree = 4;
constexpr int kIpcTimeoutMilliseconds = 250;

// Reads `size` bytes unless sway stays silent for the time allowed.
bool readAll(int fd, char *data, std::size_t size)
{
    while (size > 0) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, kIpcTimeoutMilliseconds) != 1)
            return false;
        const ssize_t got = read(fd, data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// sway's window tree; empty when it cannot be had.
QJsonObject swayTree()
{
    const QByteArray path = qgetenv("SWAYSOCK");
    sockaddr_un address{};
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    QByteArray payload;
    char header[kIpcHeader] = {};
    std::memcpy(header, kIpcMagic, 6);
    std::memcpy(header + 6 + sizeof(std::uint32_t), &kGetTree, sizeof kGetTree);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
        write(fd, header, sizeof header) == ssize_t(sizeof header) &&
        readAll(fd, header, sizeof header) && std::memcmp(header, kIpcMagic, 6) == 0) {
        std::uint32_t length = 0;
        std::memcpy(&length, header + 6, sizeof length);
        payload.resize(qsizetype(length));
        if (!readAll(fd, payload.data(), length))
            payload.clear();
    }
    close(fd);
    return QJsonDocument::fromJson(payload).object();
}

// The focused window below `node`, or an empty object; `output` becomes the
// output it is on.
QJsonObject focusedIn(const QJsonObject &node, QJsonObject &output)
{
    if (node[QLatin1String("type")].toString() == QLatin1String("output"))
        output = node;
    if (node[QLatin1String("focused")].toBool())
        return node;
    for (const char *children : {"nodes", "floating_nodes"})
        for (const QJsonValue child : node[QLatin1String(children)].toArray())
            if (QJsonObject found = focusedIn(child.toObject(), output); !found.isEmpty())
                return found;
    return {};
}

} // namespace

std::optional<QRect> DesktopSession::swayFullScreenArea()
{
    QJsonObject output;
    const QJsonObject focused = focusedIn(swayTree(), output);
    const int mode = focused[QLatin1String("fullscreen_mode")].toInt();
    if (mode == 0)
        return std::nullopt;
    // Full screen across all outputs.
    if (mode > 1)
        return QRect(QPoint(INT_MIN / 2, INT_MIN / 2), QPoint(INT_MAX / 2, INT_MAX / 2));
    // A window full screen on one output covers it; the window's own
    // rectangle may still be the one it had before.
    const QJsonObject rect = output[QLatin1String("rect")].toObject();
    return QRect(rect[QLatin1String("x")].toInt(), rect[QLatin1String("y")].toInt(),
                 rect[QLatin1String("width")].toInt(), rect[QLatin1String("height")].toInt());
}

bool DesktopSession::xembedTrayRuns()
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // The tray of the first screen, the one Qt docks in.
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        connection,
        xcb_get_selection_owner(connection, internAtom(connection, "_NET_SYSTEM_TRAY_S0")),
        nullptr);
    const bool runs = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return runs;
}

DesktopSession DesktopSession::current()
{
    DesktopSession session;
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return session;
    // XWayland names its outputs XWAYLAND0, XWAYLAND1...; from version 23.1
    // on it also has an extension of that name.
    constexpr char kXWayland[] = "XWAYLAND";
    const QList<QScreen *> screens = QGuiApplication::screens();
    xcb_query_extension_reply_t *extension = xcb_query_extension_reply(
        connection, xcb_query_extension(connection, sizeof kXWayland - 1, kXWayland), nullptr);
    session.xwayland = (extension && extension->present) ||
                       std::any_of(screens.begin(), screens.end(), [&](const QScreen *screen) {
                           return screen->name().startsWith(QLatin1String(kXWayland));
                       });
    std::free(extension);
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
