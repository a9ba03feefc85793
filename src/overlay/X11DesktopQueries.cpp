#include "overlay/X11DesktopQueries.h"

#include "overlay/DesktopSession.h"

#include <QGuiApplication>
#include <QRect>
#include <QSocketNotifier>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bopling {

namespace {

// _NET_WM_DESKTOP value that means "every desktop".
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;
// _NET_WM_STATE client message actions and source indication (an application).
constexpr std::uint32_t kStateRemove = 0;
constexpr std::uint32_t kStateAdd = 1;
constexpr std::uint32_t kSourceApplication = 1;
// The Escape key's keysym.
constexpr xcb_keysym_t kEscapeKeysym = 0xff1b;
// Core button numbers of the left and right buttons.
constexpr std::uint32_t kLeftButton = 1;
constexpr std::uint32_t kRightButton = 3;
// Deeper than any window manager frame, tray socket and client nest.
constexpr int kMaxWindowDepth = 16;

// An XInput2 event selection for every master device; a selection replaces
// the one before, so it always names every event wanted.
struct RawEventMask
{
    explicit RawEventMask(std::uint32_t wanted) : bits(wanted)
    {
        head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
        head.mask_len = 1;
    }
    xcb_input_event_mask_t head{};
    std::uint32_t bits;
};

xcb_window_t rootOf(xcb_connection_t *connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// A property of 32-bit values; empty when it is missing or of another format.
std::vector<std::uint32_t> property32(xcb_connection_t *connection, xcb_window_t window,
                                      xcb_atom_t property, xcb_atom_t type)
{
    std::vector<std::uint32_t> values;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, 64), nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const std::uint32_t *>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

} // namespace

X11DesktopQueries::X11DesktopQueries(xcb_connection_t *connection) : connection(connection) {}

X11DesktopQueries::~X11DesktopQueries()
{
    eventNotifier.reset();
    if (events)
        xcb_disconnect(events);
}

std::uint32_t X11DesktopQueries::atom(const char *name)
{
    // An atom keeps its number for as long as the server runs, so each name
    // costs one round trip.
    const auto known = atoms.find(name);
    if (known != atoms.end())
        return known->second;
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const std::uint32_t value = reply->atom;
    std::free(reply);
    atoms.emplace(name, value);
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
        // The panel never takes the keyboard: Qt already sets the input hint to
        // false, but it also offers WM_TAKE_FOCUS, and a window that does is
        // given the focus on map by compositors such as sway (ICCCM's
        // "globally active" input). Without it the panel has no input model.
        const std::uint32_t protocols = atom("WM_PROTOCOLS");
        std::vector<std::uint32_t> offered = property32(connection, id, protocols, XCB_ATOM_ATOM);
        const auto takeFocus = std::remove(offered.begin(), offered.end(), atom("WM_TAKE_FOCUS"));
        if (takeFocus != offered.end()) {
            offered.erase(takeFocus, offered.end());
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, protocols, XCB_ATOM_ATOM, 32,
                                static_cast<std::uint32_t>(offered.size()), offered.data());
        }
        // A window manager reads these properties when the window is mapped; Qt
        // keeps state atoms it did not set itself when it maps the window.
        xcb_change_property(connection, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 3,
                            wanted);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32,
                            1, &kAllDesktops);
    } else {
        // Once mapped, only requests to the root window change them.
        sendToWindowManager(id, state, {kStateAdd, wanted[0], wanted[1], kSourceApplication});
        sendToWindowManager(id, state, {kStateAdd, wanted[2], XCB_ATOM_NONE, kSourceApplication});
        sendToWindowManager(id, desktop, {kAllDesktops, kSourceApplication, 0, 0});
    }
    xcb_flush(connection);
}

void X11DesktopQueries::keepAbove(QWindow *window, bool above)
{
    if (!window || !window->isVisible())
        return;
    sendToWindowManager(static_cast<std::uint32_t>(window->winId()), atom("_NET_WM_STATE"),
                        {above ? kStateAdd : kStateRemove, atom("_NET_WM_STATE_ABOVE"),
                         XCB_ATOM_NONE, kSourceApplication});
    xcb_flush(connection);
}

void X11DesktopQueries::sendToWindowManager(std::uint32_t window, std::uint32_t type,
                                            const std::array<std::uint32_t, 4> &data)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

bool X11DesktopQueries::escapeHeld()
{
    const std::uint8_t code = escapeKeyCode();
    if (code == 0)
        return false;
    xcb_query_keymap_reply_t *reply =
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr);
    if (!reply)
        return false;
    const bool down = (reply->keys[code / 8] >> (code % 8)) & 1;
    std::free(reply);
    return down;
}

bool X11DesktopQueries::buttonHeld()
{
    xcb_query_pointer_reply_t *pointer = xcb_query_pointer_reply(
        connection, xcb_query_pointer(connection, rootOf(connection)), nullptr);
    constexpr std::uint16_t buttons =
        XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3;
    const bool held = pointer && (pointer->mask & buttons) != 0;
    std::free(pointer);
    return held;
}

std::uint8_t X11DesktopQueries::escapeKeyCode()
{
    if (escapeCode != 0)
        return escapeCode;
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(reply);
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply);
    const int perCode = reply->keysyms_per_keycode;
    for (int i = 0; perCode > 0 && i < length; ++i) {
        if (symbols[i] == kEscapeKeysym) {
            escapeCode = static_cast<std::uint8_t>(setup->min_keycode + i / perCode);
            break;
        }
    }
    std::free(reply);
    return escapeCode;
}

bool X11DesktopQueries::openEventConnection()
{
    if (events)
        return true;
    xcb_connection_t *opened = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(opened)) {
        xcb_disconnect(opened);
        return false;
    }
    events = opened;
    eventNotifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(events), QSocketNotifier::Read);
    QObject::connect(eventNotifier.get(), &QSocketNotifier::activated, eventNotifier.get(),
                     [this] { readEvents(); });
    return true;
}

void X11DesktopQueries::selectRawEvents(std::uint32_t bits)
{
    const RawEventMask mask(bits);
    xcb_input_xi_select_events(events, rootOf(events), 1, &mask.head);
    xcb_flush(events);
    rawEvents = bits;
}

bool X11DesktopQueries::watchRawEvents(std::uint32_t wanted, std::function<void()> &handler,
                                       std::function<void()> call)
{
    // Once a selection has been taken, the next ones need no round trip.
    if (inputOpcode != 0) {
        selectRawEvents(rawEvents | wanted);
        handler = std::move(call);
        return true;
    }
    if (!openEventConnection())
        return false;
    const xcb_query_extension_reply_t *input = xcb_get_extension_data(events, &xcb_input_id);
    if (!input || !input->present)
        return false;
    // Raw events reach the root window whatever window or grab takes the
    // press itself, from version 2.1 on.
    xcb_input_xi_query_version_reply_t *version =
        xcb_input_xi_query_version_reply(events, xcb_input_xi_query_version(events, 2, 2), nullptr);
    const bool recent = version && (version->major_version > 2 ||
                                    (version->major_version == 2 && version->minor_version >= 1));
    std::free(version);
    if (!recent)
        return false;

    const RawEventMask mask(rawEvents | wanted);
    xcb_generic_error_t *error = xcb_request_check(
        events, xcb_input_xi_select_events_checked(events, rootOf(events), 1, &mask.head));
    if (error) {
        std::free(error);
        return false;
    }
    inputOpcode = input->major_opcode;
    rawEvents = mask.bits;
    handler = std::move(call);
    return true;
}

bool X11DesktopQueries::watchButtonPresses(std::function<void()> onPress)
{
    return watchRawEvents(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS, onButtonPress,
                          std::move(onPress));
}

bool X11DesktopQueries::watchEscapePresses(std::function<void()> onPress)
{
    return escapeKeyCode() != 0 &&
           watchRawEvents(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS, onEscapePress, std::move(onPress));
}

bool X11DesktopQueries::wakeOnPointerMotion(std::function<void()> onMotion)
{
    return watchRawEvents(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION, onPointerMotion, std::move(onMotion));
}

bool X11DesktopQueries::pointerOverOwnWindow()
{
    std::vector<xcb_window_t> own;
    for (const QWindow *window : QGuiApplication::allWindows()) {
        if (window->handle())
            own.push_back(static_cast<xcb_window_t>(window->winId()));
    }
    return pointerInAnyOf(own);
}

bool X11DesktopQueries::pointerInWindow(const QWindow &window)
{
    return window.handle() && pointerInAnyOf({static_cast<xcb_window_t>(window.winId())});
}

bool X11DesktopQueries::pointerInAnyOf(const std::vector<std::uint32_t> &windows)
{
    // Down from the root through every window that holds the pointer: the
    // window manager's frame, a tray's socket, and the window inside.
    xcb_window_t window = rootOf(connection);
    for (int depth = 0; window != XCB_WINDOW_NONE && depth < kMaxWindowDepth; ++depth) {
        if (std::find(windows.begin(), windows.end(), window) != windows.end())
            return true;
        xcb_query_pointer_reply_t *pointer =
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, window), nullptr);
        window = pointer && pointer->same_screen ? pointer->child : xcb_window_t(XCB_WINDOW_NONE);
        std::free(pointer);
    }
    return false;
}

void X11DesktopQueries::deliverPendingEvents()
{
    if (events)
        readEvents();
}

void X11DesktopQueries::readEvents()
{
    // Motion arrives in bursts; whoever watches it hears of each burst once.
    bool moved = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(events)) {
        const auto type = event->response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY && onActiveWindowChange) {
            const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            const bool switched = change->window == rootOf(events) &&
                                  (change->atom == activeAtom || change->atom == desktopAtom);
            if (switched)
                followActiveWindow();
            if (switched || (change->window == watchedWindow && change->atom == stateAtom))
                onActiveWindowChange();
        } else if (type == XCB_GE_GENERIC &&
                   reinterpret_cast<const xcb_ge_generic_event_t *>(event)->extension ==
                       inputOpcode) {
            // Raw key presses carry the key code where button presses carry
            // the button.
            const auto *raw = reinterpret_cast<const xcb_input_raw_button_press_event_t *>(event);
            const bool button = raw->detail == kLeftButton || raw->detail == kRightButton;
            if (raw->event_type == XCB_INPUT_RAW_BUTTON_PRESS && button && onButtonPress)
                onButtonPress();
            else if (raw->event_type == XCB_INPUT_RAW_KEY_PRESS && raw->detail == escapeCode &&
                     onEscapePress)
                onEscapePress();
            else if (raw->event_type == XCB_INPUT_RAW_MOTION)
                moved = true;
        }
        std::free(event);
    }
    // A moving pointer sends hundreds of events a second; the watcher hears of
    // the first and then asks again when it wants to.
    if (moved && onPointerMotion) {
        const std::function<void()> call = std::move(onPointerMotion);
        onPointerMotion = nullptr;
        selectRawEvents(rawEvents & ~std::uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION));
        call();
    }
    if (xcb_connection_has_error(events))
        eventNotifier->setEnabled(false);
}

std::optional<QRect> X11DesktopQueries::fullScreenWindow()
{
    const xcb_window_t active = activeWindow();
    // In a Wayland session no X11 window is active while a native one has the keyboard.
    if (active == XCB_WINDOW_NONE)
        return DesktopSession::swayFullScreenArea();
    const auto states = property32(connection, active, atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
    const std::uint32_t fullScreen = atom("_NET_WM_STATE_FULLSCREEN");
    if (std::find(states.begin(), states.end(), fullScreen) == states.end())
        return std::nullopt;
    xcb_get_geometry_reply_t *geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, active), nullptr);
    xcb_translate_coordinates_reply_t *origin = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, active, rootOf(connection), 0, 0),
        nullptr);
    std::optional<QRect> area;
    if (geometry && origin)
        area = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    std::free(geometry);
    std::free(origin);
    return area;
}

std::uint32_t X11DesktopQueries::activeWindow()
{
    const auto active =
        property32(connection, rootOf(connection), atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    return active.empty() ? std::uint32_t(XCB_WINDOW_NONE) : active.front();
}

bool X11DesktopQueries::watchActiveWindow(std::function<void()> onChange)
{
    if (!openEventConnection())
        return false;
    activeAtom = atom("_NET_ACTIVE_WINDOW");
    desktopAtom = atom("_NET_CURRENT_DESKTOP");
    stateAtom = atom("_NET_WM_STATE");
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(events, rootOf(events), XCB_CW_EVENT_MASK, &mask);
    onActiveWindowChange = std::move(onChange);
    followActiveWindow();
    xcb_flush(events);
    return true;
}

void X11DesktopQueries::followActiveWindow()
{
    const xcb_window_t active = activeWindow();
    if (active == watchedWindow)
        return;
    // Only this connection's interest in the window changes; a window that
    // is gone by now answers with an error event, which is dropped.
    const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    if (watchedWindow != XCB_WINDOW_NONE)
        xcb_change_window_attributes(events, watchedWindow, XCB_CW_EVENT_MASK, &none);
    if (active != XCB_WINDOW_NONE)
        xcb_change_window_attributes(events, active, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(events);
    watchedWindow = active;
}

} // namespace bopling
