#pragma once

#include "app/LaunchOptions.h"
#include "app/MediaPlayers.h"
#include "app/StatusMenu.h"
#include "overlay/PlacementActions.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace bopling {

class Analyzer;
class AudioTap;
class Creature;
class CreatureLibrary;
class CreatureWindowController;
class DebugChannel;
class DesktopQueries;
class DragView;
class FamiliarsCall;
class FileFeeder;
class HoverFade;
class MenuActions;
class OverlayPanel;
class RendererHost;
class RendererProtocol;
class Settings;
class TerminationSignals;
class TrayIcon;

// The application controller: owns every long-lived object, starts them in a
// fixed order, moves analysis results to the page every 33 ms, answers the
// menu, and stops capture on the way out. Lives on the main thread for the
// whole process.
class AppDelegate final : public QObject
{
    Q_OBJECT

public:
    // Frame timer period: about thirty ticks a second.
    static constexpr int kFrameMilliseconds = 33;
    // Its period once a silent tick has gone out: the analyzer brings the
    // frame timer back as soon as it hears sound, so this only backs it up.
    static constexpr int kQuietFrameMilliseconds = 1000;
    // The state log's period in debug mode.
    static constexpr int kStateLogMilliseconds = 2000;
    // How long the way out waits for capture to stop.
    static constexpr double kStopWaitSeconds = 1.5;
    // After this long the menu stops waiting for the Claude lookup.
    static constexpr int kClaudeLookupMilliseconds = 6000;
    // The grab check's period: how soon the panel follows the pointer, Alt
    // and the menu. While the panel is at rest with the pointer elsewhere the
    // check sleeps, and pointer motion wakes it.
    static constexpr int kGrabCheckMilliseconds = 60;
    // A move by the window manager is stored once the panel has rested this long.
    static constexpr int kWindowManagerMoveMilliseconds = 250;
    // The full-screen check's period, besides the desktop's notifications.
    static constexpr int kFullScreenCheckMilliseconds = 1000;

    // Copies the environment; creates the settings, the panel, the tap, the
    // analyzer and the feeder, none of them started.
    explicit AppDelegate(QHash<QString, QString> env = LaunchOptions::processEnvironment(),
                         QObject *parent = nullptr);
    ~AppDelegate() override;

    // Start-up: loads the page, places and shows the panel, creates the tray
    // icon, wires the samples, installs the signal handlers, starts the audio
    // source (unless paused) and the timers. False when the resource folder is
    // missing, which makes the program unusable.
    bool applicationDidFinishLaunching();
    // The way out: stops the creature run and capture, waiting at most 1.5 s
    // for capture. Runs once, from QCoreApplication::aboutToQuit.
    void applicationWillTerminate();

    // Placement actions; the tag is the stored value the menu item stands for.
    void setLayout(int tag);
    void setCorner(int tag);
    void setSize(int tag);
    void snapToPreset();
    // Unlocks the panel for moving until a click elsewhere or Escape.
    void startMove();
    // Hides the panel while the active window is full screen on its screen,
    // and shows it again afterwards; never shows a panel it did not hide.
    void checkFullScreen();
    void toggleFade();
    // The debug channel's hover override; none goes by the pointer.
    void setDebugHover(std::optional<bool> hover);
    void screensChanged();
    void applyPlacement();

    // Controller actions of the menu.
    void togglePause();
    void retryTap();
    void openPrivacy();
    void quit();
    // "Listen to": one application by the name the menu shows, or, with an
    // empty name, everything.
    void listenTo(const QString &application);
    // "Show song titles"; turning it off takes a shown title off the page.
    void setSongTitles(bool on);

    // The creature window, made on first use: for a new creature, or to edit
    // a stored one.
    void openNew();
    void openForEdit(const Creature &creature);
    // A creature was stored: the familiars follow it and go to the page again.
    void creatureSaved(const QString &stored, const std::optional<QString> &replaced);

    QString statusText() const;
    bool isDebug() const { return options.debug; }

    // Sends the renderer configuration (and the familiars) while the page is ready.
    void pushConfig();
    // The frame timer's work: at most one tick to the page.
    void tick();

    // The tray menu as it would open now.
    QList<MenuItem> menuItems() const;
    // Runs the action of the item chosen in the menu.
    void perform(const MenuItem &item);
    // Opens the menu next to the panel: Bopling was started again.
    void openMenuBesidePanel();

    OverlayPanel &overlayPanel() const { return *panel; }
    RendererHost *rendererHost() const { return host.get(); }

    // Keeps the panel an X11 window where the compositor offers layer surfaces.
    bool x11PanelOnly = false;
    // Makes the renderer host at start-up; the light host when unset.
    std::function<std::unique_ptr<RendererHost>(const QString &webFolder)> makeRendererHost;

private:
    // The debug command channel works on the controller's parts as one of them.
    friend class DebugChannel;

    void observeScreens();
    // Shows the panel on a layer surface where the compositor offers them.
    void presentOnLayerSurface();
    void startAudioSource();
    // Back to the full frame rate, with a tick now: sound is back or pause
    // was toggled.
    void resumeFrames();
    // A tick now, and the frames go on from it.
    void tickNow();
    void writeStateLine();
    // A media player started a new track: the page shows it for a while.
    void songChanged(const MediaPlayers::Track &track);
    // Start-up and way-out steps that belong to features built separately: the
    // creature runner, moving the panel by hand and full-screen hiding.
    void startCreatureRunner();
    void scheduleClaudeLookup();
    void startMoveAndFullScreenChecks();
    void observeWorkspace();
    void stopCreatureRunner();
    // Moving the panel by hand.
    void grabCheck();
    // Runs the grab check within a grab period, and never twice in one.
    void wakeGrabCheck();
    bool pointerOverPanel() const;
    void buttonPressedSomewhere();
    void escapePressed();
    void panelMovedElsewhere();
    bool isFullScreenSpace() const;
    CreatureWindowController &creatureWindowController();
    // The search for Claude Code has had its time and found nothing.
    bool claudeMissing() const;

    const QHash<QString, QString> env;
    const LaunchOptions options;

    Settings &settings;
    std::unique_ptr<OverlayPanel> panel;
    std::unique_ptr<RendererHost> host;
    std::unique_ptr<AudioTap> tap;
    // Shared with the audio callbacks, which hold the analyzer, not the controller.
    std::shared_ptr<Analyzer> analyzer;
    std::unique_ptr<FileFeeder> feeder;
    std::unique_ptr<MediaPlayers> players;
    std::unique_ptr<TrayIcon> status;
    std::unique_ptr<TerminationSignals> signalSources;
    QTimer *timer = nullptr;
    // Owned by the panel's content view once start-up has placed it.
    QPointer<DragView> drag;
    bool unlocked = false;
    bool grabbable = false;
    QTimer *grabTimer = nullptr;
    QElapsedTimer lastGrabCheck;
    // Whether the desktop reports presses in other applications and Escape presses.
    bool clickMonitor = false;
    bool escapeMonitor = false;
    // Stores a window manager's move once the panel rests.
    QTimer *windowManagerMove = nullptr;
    std::unique_ptr<DesktopQueries> queries;
    // XWayland keeps the last position it saw when the pointer goes on to a
    // native Wayland window; only the panel's own window tells it has left.
    bool pointerFreezes = false;
    QTimer *fullScreenTimer = nullptr;
    bool fullScreenHidden = false;
    std::optional<bool> debugHover;
    std::unique_ptr<HoverFade> fade;
    bool claudeLookedUp = false;
    QTimer *debugTimer = nullptr;
    bool terminated = false;

    std::unique_ptr<CreatureLibrary> library;
    std::unique_ptr<FamiliarsCall> familiars;
    std::unique_ptr<RendererProtocol> protocol;
    std::unique_ptr<PlacementActions> placement;
    std::unique_ptr<MenuActions> menuActions;
    // Made on first use and kept; it reads the library, so it goes first.
    std::unique_ptr<CreatureWindowController> creatureWindow;
    // Debug mode only; it reaches into the parts above, so it goes first.
    std::unique_ptr<DebugChannel> debugChannel;
};

} // namespace bopling
