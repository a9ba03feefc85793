#pragma once

#include "audio/Snapshot.h"
#include "settings/Settings.h"

#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

namespace bopling {

class FamiliarsCall;

// When the controller speaks to the renderer page: nothing before the page reports "ready";
// the configuration (and then the familiars) on every "ready" and on demand; at most one
// tick per frame, with one silent tick for a whole silent or paused stretch, level-only
// ticks at most four times a second and every frame with events at once. Owned by the
// controller, which feeds it the page's "ready" and crash notices, the frame timer and the
// setting changes. Main thread.
class RendererProtocol final
{
public:
    using Evaluate = std::function<void(const QString &script)>;
    // Wall-clock time in absolute seconds.
    using Clock = std::function<double()>;
    using PanelSize = std::function<QSizeF()>;
    using TakeSnapshot = std::function<Snapshot()>;

    // Level-only ticks go out when more than this many seconds passed since the last full one.
    static constexpr double kLevelInterval = 0.25;

    // The system's wall clock (seconds since the epoch).
    static double wallClock();

    // `evaluate` runs a script in the page (fire and forget); `panelSize` gives the overlay
    // panel's frame size for the configuration; `familiars`, when given, is pushed after
    // every configuration call and re-sent on every "ready". `settings` and `familiars` must
    // outlive this object.
    RendererProtocol(Evaluate evaluate, Clock clock, Settings &settings, PanelSize panelSize,
                     FamiliarsCall *familiars = nullptr);

    // The page reported "ready": the familiars are forgotten so they go again, then
    // pageReady becomes true and the configuration is pushed.
    void pageDidBecomeReady();
    // The page's render process ended: nothing more is sent until the next "ready".
    void pageDidCrash();

    // Sends qx.config(...) and then the familiars; nothing while the page is not ready.
    // Called on "ready", when the panel's frame changes size, after every setting the page
    // shows changed, and after a creature was saved (see resendFamiliars).
    void pushConfig();

    // Forgets the familiars last sent and pushes the configuration: after a creature was
    // saved, so that a creature edited under the same name goes out again.
    void resendFamiliars();

    // The frame timer's work: sends at most one tick. `takeSnapshot` is called only when the
    // page is ready and the program is not paused.
    void tick(const TakeSnapshot &takeSnapshot);

    // Any pause toggle: the next tick sends again (a silent tick if paused or silent).
    void pauseDidToggle() { lastSilentSent.reset(); }

    bool pageReady() const { return ready; }
    // True after a silent tick with no sound since; false after a snapshot with sound;
    // unset after start and after every pause toggle.
    std::optional<bool> lastSilent() const { return lastSilentSent; }
    // Wall-clock time of the last full tick (0 before the first).
    double lastLevels() const { return lastLevelsSent; }
    // The silent seconds of the latest snapshot taken (the status line reads it).
    double silentSeconds() const { return latestSilentSeconds; }

private:
    void send(const QString &script);
    void sendSilentTickOnce();

    Evaluate evaluate;
    Clock clock;
    Settings &settings;
    PanelSize panelSize;
    FamiliarsCall *familiars;

    bool ready = false;
    std::optional<bool> lastSilentSent;
    double lastLevelsSent = 0;
    double latestSilentSeconds = 0;
};

} // namespace bopling
