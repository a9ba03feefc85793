#pragma once

#include <QRect>
#include <QString>

#include <optional>

namespace bopling {

// Whose window manager runs the X server the program talks to. In a Wayland
// session that is the compositor's own, inside XWayland. Main thread only.
struct DesktopSession
{
    // The name the window manager gives itself (_NET_WM_NAME of its EWMH check
    // window): "Openbox", "KWin", "GNOME Shell", "wlroots wm" (sway, Hyprland
    // and the other wlroots compositors); empty when none runs.
    QString windowManager;
    // Whether the X server is XWayland, which knows the pointer only while it
    // is over one of its own windows.
    bool xwayland = false;

    // Whether the panel is better left unmanaged (override-redirect). A wlroots
    // compositor centres or tiles the X11 windows it manages, keeps them on one
    // workspace and gives them the keyboard when clicked, whatever their input
    // hint; an unmanaged window stays where it is put, shows on every
    // workspace above the others and gets the keyboard only if its window
    // type asks for it. Under X11 window managers the panel stays managed:
    // they keep it on top and on every desktop through its hints.
    bool panelUnmanaged() const { return windowManager == QLatin1String("wlroots wm"); }

    // The session of the display the application is connected to.
    static DesktopSession current();

    // Whether an XEmbed system tray runs on the display.
    static bool xembedTrayRuns();

    // Under sway, the area its focused window covers while it is full screen,
    // asked over sway's IPC socket ($SWAYSOCK). XWayland does not see native
    // Wayland windows at all, so their full screen is known only this way.
    // None elsewhere, or when sway does not answer in time.
    static std::optional<QRect> swayFullScreenArea();
};

} // namespace bopling
