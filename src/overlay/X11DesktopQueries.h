#pragma once

#include "overlay/DesktopQueries.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
struct xcb_connection_t;

namespace bopling {

// EWMH hints and queries through Qt's own xcb connection; button and key
// presses, pointer motion and property changes through a second connection of
// its own, read on the main thread when its socket has data, so that Qt's event
// handling never sees those events.
class X11DesktopQueries final : public DesktopQueries
{
public:
    explicit X11DesktopQueries(xcb_connection_t *connection);
    ~X11DesktopQueries() override;

    void preparePanel(QWindow *window) override;
    void keepAbove(QWindow *window, bool above) override;
    bool pointerOverOwnWindow() override;
    bool pointerInWindow(const QWindow &window) override;
    bool escapeHeld() override;
    bool buttonHeld() override;
    bool watchButtonPresses(std::function<void()> onPress) override;
    bool watchEscapePresses(std::function<void()> onPress) override;
    bool wakeOnPointerMotion(std::function<void()> onMotion) override;
    void deliverPendingEvents() override;
    std::optional<QRect> fullScreenWindow() override;
    bool watchActiveWindow(std::function<void()> onChange) override;

private:
    std::uint32_t atom(const char *name);
    // A client message about `window` to the window manager, through the root window.
    void sendToWindowManager(std::uint32_t window, std::uint32_t type,
                             const std::array<std::uint32_t, 4> &data);
    // The key code that carries Escape in the current keyboard map; 0 if none.
    std::uint8_t escapeKeyCode();
    // Opens the second connection; false when the display refuses it.
    bool openEventConnection();
    // Adds `events` (XInput2 raw event mask bits) to those the second
    // connection takes from the root window, and sets `handler` to `call`;
    // false without XInput 2.1.
    bool watchRawEvents(std::uint32_t events, std::function<void()> &handler,
                        std::function<void()> call);
    // Replaces the raw events taken with `bits`, without waiting for an answer.
    void selectRawEvents(std::uint32_t bits);
    void readEvents();
    // Whether one of `windows` holds the pointer, down from the root window.
    bool pointerInAnyOf(const std::vector<std::uint32_t> &windows);
    // The window named by the root window's _NET_ACTIVE_WINDOW; 0 if none.
    std::uint32_t activeWindow();
    // Watches the state of the window that is active now instead of the one before.
    void followActiveWindow();

    xcb_connection_t *connection;
    std::uint8_t escapeCode = 0;
    std::map<std::string, std::uint32_t, std::less<>> atoms;

    xcb_connection_t *events = nullptr;
    std::unique_ptr<QSocketNotifier> eventNotifier;
    std::uint8_t inputOpcode = 0;
    std::uint32_t rawEvents = 0;
    std::function<void()> onButtonPress;
    std::function<void()> onEscapePress;
    std::function<void()> onPointerMotion;

    std::function<void()> onActiveWindowChange;
    std::uint32_t activeAtom = 0;
    std::uint32_t desktopAtom = 0;
    std::uint32_t stateAtom = 0;
    std::uint32_t watchedWindow = 0;
};

} // namespace bopling
