#include "app/AppDelegate.h"

#include "app/Alerts.h"
#include "app/DebugChannel.h"
#include "app/Familiars.h"
#include "app/MenuActions.h"
#include "app/SoundSettings.h"
#include "app/StateLog.h"
#include "app/StatusLine.h"
#include "app/TerminationSignals.h"
#include "app/TrayIcon.h"
#include "audio/Analyzer.h"
#include "audio/AudioTap.h"
#include "audio/FileFeeder.h"
#include "audio/PulseBackend.h"
#include "creatures/ClaudeRunner.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/window/CreatureWindowController.h"
#include "overlay/DesktopQueries.h"
#include "overlay/DragView.h"
#include "overlay/HoverFade.h"
#include "overlay/OverlayPanel.h"
#include "render/FamiliarsCall.h"
#include "render/LightHost.h"
#include "render/RendererProtocol.h"
#include "render/ScriptCalls.h"
#include "settings/Resources.h"
#include "settings/Settings.h"
#include "settings/SystemLog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <span>

namespace bopling {

namespace {

// The list placement works on: every screen, primary first, with its visible
// area in global coordinates with y upwards.
QList<ScreenInfo> currentScreens()
{
    QList<ScreenInfo> screens;
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return screens;
    const QRectF primaryArea(primary->geometry());
    QList<QScreen *> all = QGuiApplication::screens();
    all.removeOne(const_cast<QScreen *>(primary));
    all.prepend(const_cast<QScreen *>(primary));
    for (const QScreen *screen : all) {
        screens.append({screenNumber(screen->name()),
                        frameFromQt(QRectF(screen->availableGeometry()), primaryArea),
                        frameFromQt(QRectF(screen->geometry()), primaryArea)});
    }
    return screens;
}

} // namespace

AppDelegate::AppDelegate(QHash<QString, QString> environment, QObject *parent)
    : QObject(parent), env(std::move(environment)), options(LaunchOptions::fromEnvironment(env)),
      settings(Settings::shared()), panel(std::make_unique<OverlayPanel>()),
      tap(std::make_unique<AudioTap>(std::make_unique<PulseBackend>())),
      analyzer(std::make_shared<Analyzer>()), feeder(std::make_unique<FileFeeder>()),
      drag(new DragView), library(std::make_unique<CreatureLibrary>())
{
    const auto evaluate = [this](const QString &script) {
        if (host)
            host->evaluate(script);
    };
    familiars = std::make_unique<FamiliarsCall>(evaluate, settings, *library);
    protocol = std::make_unique<RendererProtocol>(
        evaluate, &RendererProtocol::wallClock, settings,
        [this] {
            const Frame frame = panel->frame();
            return QSizeF(frame.width, frame.height);
        },
        familiars.get());

    PlacementActions::Panel placed;
    placed.screens = &currentScreens;
    placed.frame = [this] { return panel->frame(); };
    placed.setFrame = [this](const Frame &frame) { panel->setFrame(frame); };
    placed.sizeChanged = [this] { pushConfig(); };
    placement = std::make_unique<PlacementActions>(settings, std::move(placed));
    fade = std::make_unique<HoverFade>(
        &HoverFade::monotonicSeconds,
        HoverFade::Panel{[this] { return panel->alphaValue(); },
                         [this](double alpha) { panel->setAlphaValue(alpha); }});

    MenuActions::Hooks hooks;
    hooks.pushConfig = [this] { pushConfig(); };
    hooks.confirmRemoval = &confirmRemoval;
    hooks.claudeMissing = [this] { return claudeMissing(); };
    hooks.openNew = [this] { openNew(); };
    hooks.openForEdit = [this](const Creature &creature) { openForEdit(creature); };
    hooks.openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    menuActions = std::make_unique<MenuActions>(settings, *library, std::move(hooks));
}

AppDelegate::~AppDelegate()
{
    // The audio threads call into the analyzer; stop them before anything goes.
    feeder.reset();
    AudioTap::dispose(std::move(tap));
    delete drag.data();
}

bool AppDelegate::applicationDidFinishLaunching()
{
    if (options.debug)
        setSystemLogMirror(true);

    // 1-2. The page, and what its readiness and crashes mean here.
    const QString webFolder = resourcePath(QStringLiteral("web"));
    if (!QFileInfo::exists(webFolder + QStringLiteral("/index.html"))) {
        std::fprintf(stderr, "Bopling: the renderer page is missing from %s; reinstall Bopling.\n",
                     qPrintable(webFolder));
        return false;
    }
    host = makeRendererHost ? makeRendererHost(webFolder) : std::make_unique<LightHost>(webFolder);
    const QPointer<AppDelegate> self(this);
    host->onCrash = [self] {
        if (self)
            self->protocol->pageDidCrash();
    };
    host->onReady = [self] {
        if (self)
            self->protocol->pageDidBecomeReady();
    };

    // 3-4. The page, with the drag layer above it, fills the panel.
    auto *container = new QWidget;
    auto *layout = new QGridLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(host->view(), 0, 0);
    layout->addWidget(drag, 0, 0);
    drag->hide();
    drag->raise();
    panel->setContentView(container);
    drag->onDrag = [self](QPointF location, QPointF grab) {
        if (self)
            self->placement->drag(location, grab);
    };
    drag->onEnd = [self] {
        if (self)
            self->placement->dragEnded();
    };
    panel->onMovedElsewhere = [self] {
        if (self)
            self->panelMovedElsewhere();
    };

    // 5-6.
    applyPlacement();
    panel->setWindowTitle(QStringLiteral("Bopling"));
    panel->orderFrontRegardless();

    // 7. The tray icon; its menu is built each time it opens.
    status = std::make_unique<TrayIcon>(QIcon(resourcePath(QStringLiteral("icons/bopling.svg"))));
    status->buildMenu = [this] { return menuItems(); };
    status->onAction = [this](const MenuItem &item) { perform(item); };
    status->show();
    status->openOnRightClick(drag);

    // 8-10.
    observeScreens();
    startCreatureRunner();
    scheduleClaudeLookup();

    // 11. Samples go straight into the analyzer on the audio source's thread.
    const std::shared_ptr<Analyzer> sink = analyzer;
    tap->onSamples = [sink](const std::vector<float> &samples, double rate) {
        sink->push(std::span<const float>(samples), rate);
    };
    feeder->onSamples = [sink](std::span<const float> samples, double rate) {
        sink->push(samples, rate);
    };

    // 12. SIGTERM and SIGINT end the program through the way out.
    signalSources = std::make_unique<TerminationSignals>();
    connect(signalSources.get(), &TerminationSignals::received, this, [this] { quit(); });

    // 13-14.
    startAudioSource();
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &AppDelegate::tick);
    timer->start(kFrameMilliseconds);
    tick();

    // 15-16.
    startMoveAndFullScreenChecks();
    observeWorkspace();

    // 17. The debug command channel and state log.
    if (options.debug) {
        debugChannel = std::make_unique<DebugChannel>(*this, options.commandFolder);
        debugChannel->start();
    }
    if (options.debug && options.logPath) {
        debugTimer = new QTimer(this);
        connect(debugTimer, &QTimer::timeout, this, &AppDelegate::writeStateLine);
        debugTimer->start(kStateLogMilliseconds);
    }
    return true;
}

void AppDelegate::applicationWillTerminate()
{
    if (terminated)
        return;
    terminated = true;
    stopCreatureRunner();
    tap->stopAndWait(kStopWaitSeconds);
}

void AppDelegate::startAudioSource()
{
    if (options.testAudio) {
        feeder->start(*options.testAudio);
        return;
    }
    if (!settings.paused())
        tap->start();
}

void AppDelegate::observeScreens()
{
    const auto watch = [this](QScreen *screen) {
        connect(screen, &QScreen::geometryChanged, this, &AppDelegate::screensChanged);
        connect(screen, &QScreen::availableGeometryChanged, this, &AppDelegate::screensChanged);
    };
    for (QScreen *screen : QGuiApplication::screens())
        watch(screen);
    auto *app = qGuiApp;
    connect(app, &QGuiApplication::screenAdded, this, [this, watch](QScreen *screen) {
        watch(screen);
        screensChanged();
    });
    // A screen's removal is seen before it is gone from the list, so the
    // placement waits for the event loop to come round.
    connect(app, &QGuiApplication::screenRemoved, this,
            [this] { QTimer::singleShot(0, this, &AppDelegate::screensChanged); });
    connect(app, &QGuiApplication::primaryScreenChanged, this, &AppDelegate::screensChanged);
}

void AppDelegate::startCreatureRunner()
{
    ClaudeRunner::sweepTemporaryFolders();
    ClaudeRunner::lookUpClaude();
}

void AppDelegate::scheduleClaudeLookup()
{
    const QPointer<AppDelegate> self(this);
    QTimer::singleShot(kClaudeLookupMilliseconds, this, [self] {
        if (self)
            self->claudeLookedUp = true;
    });
}

void AppDelegate::startMoveAndFullScreenChecks()
{
    queries = DesktopQueries::create();
    grabTimer = new QTimer(this);
    grabTimer->setTimerType(Qt::PreciseTimer);
    connect(grabTimer, &QTimer::timeout, this, &AppDelegate::grabCheck);
    grabTimer->start(kGrabCheckMilliseconds);
    grabCheck();

    windowManagerMove = new QTimer(this);
    windowManagerMove->setSingleShot(true);
    windowManagerMove->setInterval(kWindowManagerMoveMilliseconds);
    connect(windowManagerMove, &QTimer::timeout, this, [this] { placement->dragEnded(); });

    fullScreenTimer = new QTimer(this);
    connect(fullScreenTimer, &QTimer::timeout, this, &AppDelegate::checkFullScreen);
    fullScreenTimer->start(kFullScreenCheckMilliseconds);

    // Without it, clicking elsewhere does not lock; Escape and the menu still do.
    const QPointer<AppDelegate> self(this);
    clickMonitor = queries->watchButtonPresses([self] {
        if (self)
            self->buttonPressedSomewhere();
    });
}

void AppDelegate::grabCheck()
{
    const QPoint pointer = queries->pointerPosition();
    const QRect frame = panel->geometry();
    const bool hover = debugHover ? *debugHover : frame.contains(pointer);
    if (unlocked && queries->escapeHeld())
        unlocked = false;
    // A drag in progress keeps the panel grabbable when Alt is let go.
    const bool grab = unlocked || drag->isDragging() || (hover && queries->altHeld());
    fade->update(settings.fadeOnHover(), hover, grab);
    if (grab != grabbable) {
        grabbable = grab;
        panel->setIgnoresMouseEvents(!grab);
        drag->setVisible(grab);
        drag->update();
    }
    // With the pointer far from a panel at rest, the next look can wait about
    // as long as a quick hand needs to bring the pointer over it.
    const int distance = std::max({frame.left() - pointer.x(), pointer.x() - frame.right(),
                                   frame.top() - pointer.y(), pointer.y() - frame.bottom()});
    const bool atRest = !grab && !unlocked && !debugHover && !fade->fading() &&
                        fade->fadeTarget() == HoverFade::kNormalOpacity;
    const int period = atRest && distance > kFarPointerPixels
                           ? std::clamp(distance / kPointerPixelsPerMillisecond,
                                        kFarGrabCheckMilliseconds, kFarthestGrabCheckMilliseconds)
                           : kGrabCheckMilliseconds;
    if (grabTimer->interval() != period)
        grabTimer->setInterval(period);
}

bool AppDelegate::pointerOverPanel() const
{
    return panel->geometry().contains(queries->pointerPosition());
}

void AppDelegate::buttonPressedSomewhere()
{
    if (unlocked && !pointerOverPanel())
        unlocked = false;
}

void AppDelegate::panelMovedElsewhere()
{
    // Window managers take Alt + drag for themselves (openbox does by
    // default), so the panel never sees that press; where the window manager
    // left it counts as where a drag ended.
    if (grabbable && !drag->isDragging())
        windowManagerMove->start();
}

void AppDelegate::observeWorkspace()
{
    // Without them the timer alone notices full-screen windows.
    const QPointer<AppDelegate> self(this);
    queries->watchActiveWindow([self] {
        if (self)
            self->checkFullScreen();
    });
}

void AppDelegate::stopCreatureRunner()
{
    // A process that ignores the request to terminate is killed when its
    // runner goes, or with this process at the latest.
    ClaudeRunner::cancelAll();
    ClaudeRunner::sweepTemporaryFolders();
}

CreatureWindowController &AppDelegate::creatureWindowController()
{
    if (!creatureWindow) {
        creatureWindow = std::make_unique<CreatureWindowController>(*library);
        const QPointer<AppDelegate> self(this);
        creatureWindow->onSaved = [self](const QString &stored,
                                         const std::optional<QString> &replaced) {
            if (self)
                self->creatureSaved(stored, replaced);
        };
    }
    return *creatureWindow;
}

void AppDelegate::openNew()
{
    creatureWindowController().openNew();
}

void AppDelegate::openForEdit(const Creature &creature)
{
    creatureWindowController().openForEdit(creature);
}

void AppDelegate::creatureSaved(const QString &stored, const std::optional<QString> &replaced)
{
    if (const std::optional<QStringList> updated =
            familiarsAfterSave(settings.familiars(), stored, replaced))
        settings.setFamiliars(*updated);
    // The familiars go again even when their names did not change: an edited
    // creature keeps its name but not its moves.
    protocol->resendFamiliars();
}

void AppDelegate::setLayout(int tag)
{
    placement->setLayout(tag);
}

void AppDelegate::setCorner(int tag)
{
    placement->setCorner(tag);
}

void AppDelegate::setSize(int tag)
{
    placement->setSize(tag);
}

void AppDelegate::snapToPreset()
{
    placement->snapToPreset();
}

void AppDelegate::startMove()
{
    // The press on the menu item itself would otherwise lock the panel again
    // when it is read after the item's release.
    if (queries)
        queries->deliverPendingEvents();
    unlocked = true;
}

void AppDelegate::checkFullScreen()
{
    const bool fullScreen = isFullScreenSpace();
    if (fullScreen && !fullScreenHidden) {
        fullScreenHidden = true;
        panel->orderOut();
    } else if (!fullScreen && fullScreenHidden) {
        fullScreenHidden = false;
        panel->orderFrontRegardless();
    }
}

bool AppDelegate::isFullScreenSpace() const
{
    const QScreen *screen = panel->screen();
    if (!screen)
        return false;
    const QRect area = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    return queries->fullScreenOn(QRect(area.topLeft() * ratio, area.size() * ratio));
}

void AppDelegate::toggleFade()
{
    settings.setFadeOnHover(!settings.fadeOnHover());
}

void AppDelegate::screensChanged()
{
    applyPlacement();
}

void AppDelegate::applyPlacement()
{
    placement->applyPlacement();
}

void AppDelegate::togglePause()
{
    const bool paused = !settings.paused();
    settings.setPaused(paused);
    if (paused) {
        tap->stop();
    } else if (!options.testAudio) {
        analyzer->reset();
        tap->start();
    }
    protocol->pauseDidToggle();
    resumeFrames();
}

void AppDelegate::retryTap()
{
    analyzer->reset();
    tap->retry();
}

void AppDelegate::openPrivacy()
{
    const std::optional<QStringList> command = findSoundSettings(
        env.value(QStringLiteral("XDG_CURRENT_DESKTOP")),
        [](const QString &program) { return QStandardPaths::findExecutable(program); });
    if (!command || !QProcess::startDetached(command->first(), command->mid(1)))
        showSoundSettingsMissing();
}

void AppDelegate::quit()
{
    QCoreApplication::quit();
}

QString AppDelegate::statusText() const
{
    StatusInputs in;
    in.paused = settings.paused();
    in.testAudio = options.debug && options.testAudio;
    in.building = tap->building();
    in.running = tap->running();
    in.gaveUp = tap->hasGivenUp();
    in.lastError = tap->lastError();
    in.silentSeconds = protocol->silentSeconds();
    return bopling::statusText(in);
}

void AppDelegate::pushConfig()
{
    protocol->pushConfig();
}

void AppDelegate::tick()
{
    protocol->tick([this] { return analyzer->takeSnapshot(); });
    // Once the silent tick has gone out, the analyzer says when sound is
    // back and the timer only looks in now and then.
    int period = kFrameMilliseconds;
    if (protocol->lastSilent() == true) {
        const QPointer<AppDelegate> self(this);
        const auto wake = [self] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self] {
                    if (self)
                        self->resumeFrames();
                },
                Qt::QueuedConnection);
        };
        if (analyzer->wakeOnSound(wake))
            period = kQuietFrameMilliseconds;
    }
    if (timer->interval() != period)
        timer->setInterval(period);
}

void AppDelegate::resumeFrames()
{
    if (timer->interval() == kFrameMilliseconds)
        return;
    timer->start(kFrameMilliseconds);
    tick();
}

QList<MenuItem> AppDelegate::menuItems() const
{
    StatusMenuState state;
    state.readSettings(settings);
    state.statusText = statusText();
    state.silentSeconds = protocol->silentSeconds();
    state.gaveUp = tap->hasGivenUp();
    state.lastError = tap->lastError();
    for (const Creature &creature : library->all())
        state.creatures.append(creature.name);
    state.unlocked = unlocked;
    // Starts the search for the CLI unless one has been started before.
    ClaudeRunner::lookUpClaude();
    state.claudeMissing = claudeMissing();
    return buildStatusMenu(state);
}

bool AppDelegate::claudeMissing() const
{
    return claudeLookedUp && !ClaudeRunner::cachedClaudePath();
}

void AppDelegate::perform(const MenuItem &item)
{
    if (menuActions->perform(item))
        return;
    switch (item.action) {
    case MenuAction::openPrivacy:
        openPrivacy();
        break;
    case MenuAction::retryTap:
        retryTap();
        break;
    case MenuAction::setLayout:
        setLayout(item.tag);
        break;
    case MenuAction::setCorner:
        setCorner(item.tag);
        break;
    case MenuAction::setSize:
        setSize(item.tag);
        break;
    case MenuAction::toggleFade:
        toggleFade();
        break;
    case MenuAction::startMove:
        startMove();
        break;
    case MenuAction::snapToPreset:
        snapToPreset();
        break;
    case MenuAction::togglePause:
        togglePause();
        break;
    case MenuAction::quit:
        quit();
        break;
    default:
        break;
    }
}

void AppDelegate::writeStateLine()
{
    if (!host || !options.logPath)
        return;
    const QPointer<AppDelegate> self(this);
    host->evaluate(ScriptCalls::stats(), [self](const QVariant &result) {
        if (!self || self->terminated)
            return;
        StateLogEntry entry;
        entry.pid = QCoreApplication::applicationPid();
        entry.web = self->host ? self->host->pageProcessID().value_or(0) : 0;
        entry.grab = self->grabbable;
        entry.unlocked = self->unlocked;
        entry.audio = self->statusText();
        entry.silentSeconds = self->protocol->silentSeconds();
        entry.js = StateLogEntry::pageAnswer(result);
        appendStateLine(*self->options.logPath, stateLogLine(entry));
    });
}

} // namespace bopling
