#include "overlay/X11DesktopQueries.h"

#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace bopling {

namespace {

// _NET_WM_DESKTOP value that means "every desktop".
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;
// _NET_WM_STATE client message actions and source indication (an application).
constexpr std::uint32_t kStateAdd = 1;
constexpr std::uint32_t kSourceApplication = 1;

} // namespace

X11DesktopQueries::X11DesktopQueries(xcb_connection_t *connection) : connection(connection) {}

std::uint32_t X11DesktopQueries::atom(const char *name)
{
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const std::uint32_t value = reply->atom;
    std::free(reply);
    return value;
}

void X11DesktopQueries::preparePanel(QWindow *window)
{
    if (!window)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const std::uint32_t state = atom("_NET_WM_STATE");
    const std::uint32_t desktop = atom("_NET_WM_DESKTOP");
    const std::uint32_t wanted[] = {atom("_NET_WM_STATE_STICKY"),
                                    atom("_NET_WM_STATE_SKIP_TASKBAR"),
                                    atom("_NET_WM_STATE_SKIP_PAGER")};

    if (!window->isVisible()) {
        // A window manager reads these properties when the window is mapped; Qt
        // keeps state atoms it did not set itself when it maps the window.
        xcb_change_property(connection, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 3,
                            wanted);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32,
                            1, &kAllDesktops);
    } else {
        // Once mapped, only requests to the root window change them.
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const auto send = [&](std::uint32_t type, std::uint32_t d0, std::uint32_t d1,
                              std::uint32_t d2, std::uint32_t d3) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = id;
            event.type = type;
            event.data.data32[0] = d0;
            event.data.data32[1] = d1;
            event.data.data32[2] = d2;
            event.data.data32[3] = d3;
            xcb_send_event(connection, 0, screen->root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                               XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char *>(&event));
        };
        send(state, kStateAdd, wanted[0], wanted[1], kSourceApplication);
        send(state, kStateAdd, wanted[2], XCB_ATOM_NONE, kSourceApplication);
        send(desktop, kAllDesktops, kSourceApplication, 0, 0);
    }
    xcb_flush(connection);
}

} // namespace bopling
