#pragma once

#include <QPoint>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>

class QWindow;

namespace bopling {

// What the overlay asks of the desktop beyond Qt: the window manager hints that
// keep the panel on every desktop and out of task bars and pagers, the pointer
// and keyboard state the move mode looks at, and button presses, Escape and
// pointer motion anywhere on the desktop. X11 has an implementation; elsewhere
// the null one answers what Qt alone knows. Main thread only.
class DesktopQueries
{
public:
    DesktopQueries() = default;
    virtual ~DesktopQueries() = default;
    DesktopQueries(const DesktopQueries &) = delete;
    DesktopQueries &operator=(const DesktopQueries &) = delete;

    // Marks `window` as shown on every desktop and skipped by task bars and
    // pagers. Works before and after the window is mapped.
    virtual void preparePanel(QWindow *window) = 0;
    // Puts the mapped `window` into the layer above normal windows, or back
    // among them. Qt's own stays-on-top flag cannot be used for this: changing
    // it makes Qt replace the native window the next time it is shown, and the
    // new one has none of the hints above.
    virtual void keepAbove(QWindow *window, bool above) = 0;

    // The pointer in Qt's global coordinates.
    virtual QPoint pointerPosition();
    // Whether the pointer is over one of this application's own windows (a
    // menu, the tray icon, a dialog) rather than another application's.
    virtual bool pointerOverOwnWindow();
    // Whether the display puts the pointer inside `window` itself, which then
    // must take the pointer (not ignore mouse events). Under XWayland this is
    // how a pointer that has gone on to a native Wayland window is told from
    // one resting on the window: its position stays where it was last seen.
    virtual bool pointerInWindow(const QWindow &window);
    // Whether an Alt key is held down at this moment.
    virtual bool altHeld();
    // Whether a pointer button is held down at this moment, whichever window
    // has the pointer (the window manager's, while it moves a window).
    virtual bool buttonHeld();
    // Whether the Escape key is held down at this moment, whichever window has
    // the keyboard.
    virtual bool escapeHeld() = 0;
    // From now on calls `onPress` for every left or right button press on the
    // desktop, in any application. False when the desktop cannot report them.
    virtual bool watchButtonPresses(std::function<void()> onPress) = 0;
    // From now on calls `onPress` for every press of the Escape key, however
    // short, whichever window has the keyboard. False when the desktop cannot
    // report them.
    virtual bool watchEscapePresses(std::function<void()> onPress) = 0;
    // Calls `onMotion` once, when the pointer next moves, and listens no
    // further until asked again. False when the desktop cannot report motion.
    virtual bool wakeOnPointerMotion(std::function<void()> onMotion) = 0;
    // Hands over at once what the desktop has already reported, so that a
    // press that came before a change of state is not taken for one after it.
    virtual void deliverPendingEvents() {}

    // The active window's rectangle, in the window manager's pixels, while it
    // is in the full-screen state; none otherwise.
    virtual std::optional<QRect> fullScreenWindow() = 0;
    // From now on calls `onChange` when another window becomes active, the
    // desktop changes, or the active window's state changes (a window going
    // full screen keeps the focus). False when the desktop cannot report it.
    virtual bool watchActiveWindow(std::function<void()> onChange) = 0;

    // The implementation for the platform the application runs on.
    static std::unique_ptr<DesktopQueries> create();
};

// For platforms without X11: the window stays as Qt made it; neither Escape,
// presses in other applications, pointer motion nor full-screen windows can
// be seen.
class NullDesktopQueries final : public DesktopQueries
{
public:
    void preparePanel(QWindow *) override {}
    void keepAbove(QWindow *, bool) override {}
    bool escapeHeld() override { return false; }
    bool watchButtonPresses(std::function<void()>) override { return false; }
    bool watchEscapePresses(std::function<void()>) override { return false; }
    bool wakeOnPointerMotion(std::function<void()>) override { return false; }
    std::optional<QRect> fullScreenWindow() override { return std::nullopt; }
    bool watchActiveWindow(std::function<void()>) override { return false; }
};

} // namespace bopling
