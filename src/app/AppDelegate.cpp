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
#include "overlay/DesktopSession.h"
#include "overlay/DragView.h"
#include "overlay/HoverFade.h"
#include "overlay/LayerPanel.h"
#include "overlay/OverlayPanel.h"
#include "render/FamiliarsCall.h"
#include "render/LightHost.h"
#include "render/RendererProtocol.h"
#include "render/SceneView.h"
#include "render/ScriptCalls.h"
#include "settings/Resources.h"
#include "settings/Settings.h"
#include "settings/SystemLog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <span>

namespace bopling {

namespace {

// The shared settings, read for the first time here: in debug mode, what
// reading them reports (a damaged file) shows in the terminal too.
Settings &settingsFor(const LaunchOptions &options)
{
    if (options.debug)
        setSystemLogMirror(true);
    return Settings::shared();
}

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

// The longest song text the status line shows.
constexpr qsizetype kStatusSongLength = 80;

// "Listen to"'s rows for the applications that play now: one per name (the
// program's file name for a stream without one), in the order they started.
QList<ListenChoice> listenChoices(const std::vector<PlaybackStream> &streams,
                                  const std::optional<QString> &chosen)
{
    QList<ListenChoice> choices;
    for (const PlaybackStream &stream : streams) {
        const QString name = stream.application.isEmpty() ? stream.binary : stream.application;
        if (name.trimmed().isEmpty())
            continue;
        const bool isChosen = chosen && AudioTap::belongsTo(stream, *chosen);
        const auto same = std::find_if(choices.begin(), choices.end(), [&](const ListenChoice &c) {
            return c.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (same != choices.end()) {
            same->chosen = same->chosen || isChosen;
            if (same->icon.isEmpty())
                same->icon = stream.icon;
            continue;
        }
        choices.append({name, stream.icon, isChosen});
    }
    return choices;
}

} // namespace

AppDelegate::AppDelegate(QHash<QString, QString> environment, QObject *parent)
    : QObject(parent), env(std::move(environment)), options(LaunchOptions::fromEnvironment(env)),
      settings(settingsFor(options)), panel(std::make_unique<OverlayPanel>()),
      tap(std::make_unique<AudioTap>(std::make_unique<PulseBackend>())),
      analyzer(std::make_shared<Analyzer>()), feeder(std::make_unique<FileFeeder>()),
      players(std::make_unique<MediaPlayers>()), drag(new DragView),
      library(std::make_unique<CreatureLibrary>())
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
    placed.setFrame = [this](const Frame &frame) {
        panel->setFrame(frame);
        // The panel may have come under a pointer that does not move.
        wakeGrabCheck();
    };
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
    hooks.openUrl = &openLink;
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
    presentOnLayerSurface();
    applyPlacement();
    panel->setWindowTitle(QStringLiteral("Bopling"));
    panel->orderFrontRegardless();

    // 7. The tray icon; its menu is built each time it opens.
    status = std::make_unique<TrayIcon>(QIcon(resourcePath(QStringLiteral("icons/bopling.svg"))));
    status->buildMenu = [this] { return menuItems(); };
    status->onAction = [this](const MenuItem &item) { perform(item); };
    status->openElsewhere = [this] { openMenuBesidePanel(); };
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

    // What is listened to, and the media players whose songs are shown.
    tap->listenTo(settings.listenTo());
    players->setApplication(settings.listenTo());
    players->onTrack = [this](const MediaPlayers::Track &track) { songChanged(track); };
    players->start();

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

void AppDelegate::presentOnLayerSurface()
{
    // The light host's picture can be drawn anywhere; the web host's only in its own window.
    const QPointer<SceneView> scene = qobject_cast<SceneView *>(host->view());
    if (x11PanelOnly || !scene)
        return;
    std::unique_ptr<LayerPanel> layer = LayerPanel::connect();
    if (!layer)
        return;
    const QPointer<AppDelegate> self(this);
    layer->paintContent = [self, scene](QPainter &painter, double scale) {
        if (scene)
            scene->paint(painter, scale);
        if (self && self->grabbable) {
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            const Frame frame = self->panel->frame();
            DragView::paintFrame(painter, QRectF(0, 0, frame.width, frame.height));
        }
    };
    scene->onPictureChanged = [surface = layer.get()] { surface->contentChanged(); };
    // The surface's drags go through the drag layer, as the mouse's do.
    layer->onPress = [self](QPointF at) {
        if (!self)
            return;
        const Frame frame = self->panel->frame();
        self->drag->pressAt(DragView::storedLocation(at), QPointF(frame.x, frame.y));
    };
    layer->onMotion = [self](QPointF at) {
        if (self)
            self->drag->dragTo(DragView::storedLocation(at));
    };
    layer->onRelease = [self] {
        if (self)
            self->drag->release();
    };
    // The keyboard goes to the panel once it is clicked.
    layer->onEscape = [self] {
        if (self)
            self->escapePressed();
    };
    layer->onClickElsewhere = layer->onEscape;
    panel->presentOnLayer(std::move(layer));
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
    // A layer surface is a native Wayland window: it knows the pointer itself.
    pointerFreezes = DesktopSession::current().xwayland && !panel->layerPanel();
    grabTimer = new QTimer(this);
    grabTimer->setTimerType(Qt::PreciseTimer);
    connect(grabTimer, &QTimer::timeout, this, &AppDelegate::grabCheck);

    windowManagerMove = new QTimer(this);
    windowManagerMove->setSingleShot(true);
    windowManagerMove->setInterval(kWindowManagerMoveMilliseconds);
    connect(windowManagerMove, &QTimer::timeout, this,
            [this] { placement->windowManagerMoveEnded(DragView::pointerLocation()); });

    fullScreenTimer = new QTimer(this);
    connect(fullScreenTimer, &QTimer::timeout, this, &AppDelegate::checkFullScreen);
    fullScreenTimer->start(kFullScreenCheckMilliseconds);

    // Without it, clicking elsewhere does not lock; Escape and the menu still do.
    const QPointer<AppDelegate> self(this);
    clickMonitor = queries->watchButtonPresses([self] {
        if (self)
            self->buttonPressedSomewhere();
    });
    // Without them Escape is looked for at each grab check.
    escapeMonitor = queries->watchEscapePresses([self] {
        if (self)
            self->escapePressed();
    });
    grabCheck();
}

void AppDelegate::grabCheck()
{
    lastGrabCheck.start();
    const QPoint pointer = queries->pointerPosition();
    const bool hover =
        debugHover ? *debugHover
                   : panel->pointerInside(pointer) &&
                         (!pointerFreezes || queries->pointerInWindow(*panel->windowHandle()));
    // Where the desktop does not report Escape presses, the key's state now is
    // all there is to go by (a tap between two checks goes unseen).
    if (unlocked && !escapeMonitor && queries->escapeHeld())
        unlocked = false;
    // A drag in progress keeps the panel grabbable when Alt is let go. So does
    // a button held since it became grabbable, as in the window manager's
    // Alt + drag: the panel's geometry stays where that drag began until the
    // window manager lets go, so the pointer soon seems to be off the panel.
    const bool grab = unlocked || drag->isDragging() || (hover && queries->altHeld()) ||
                      (grabbable && queries->buttonHeld());
    fade->update(settings.fadeOnHover(), hover, grab);
    if (grab != grabbable) {
        grabbable = grab;
        drag->setVisible(grab);
        drag->update();
    }
    // For the pointer test above the panel takes the pointer while it may
    // fade; under XWayland clicks never pass through to native windows anyway.
    const bool takesPointer = grab || (pointerFreezes && settings.fadeOnHover());
    if (panel->ignoresMouseEvents() == takesPointer)
        panel->setIgnoresMouseEvents(!takesPointer);
    // A panel at rest with the pointer elsewhere stays so until the pointer
    // moves or Bopling itself changes something, and each of those wakes the
    // check; Alt matters only over the panel. Where the desktop does not
    // report motion, the check never sleeps.
    const bool atRest = !hover && !grab && !debugHover && !fade->fading() &&
                        fade->fadeTarget() == HoverFade::kNormalOpacity;
    const QPointer<AppDelegate> self(this);
    if (atRest && queries->wakeOnPointerMotion([self] {
            if (self)
                self->wakeGrabCheck();
        }))
        grabTimer->stop();
    else if (!grabTimer->isActive() || grabTimer->interval() != kGrabCheckMilliseconds)
        grabTimer->start(kGrabCheckMilliseconds);
}

void AppDelegate::wakeGrabCheck()
{
    if (!grabTimer || grabTimer->isActive())
        return;
    const qint64 since = lastGrabCheck.isValid() ? lastGrabCheck.elapsed() : kGrabCheckMilliseconds;
    if (since >= kGrabCheckMilliseconds)
        grabCheck();
    else
        grabTimer->start(int(kGrabCheckMilliseconds - since));
}

bool AppDelegate::pointerOverPanel() const
{
    return panel->pointerInside(queries->pointerPosition());
}

void AppDelegate::buttonPressedSomewhere()
{
    // A press on the tray icon, a menu or another of Bopling's own windows is
    // no click elsewhere: it opens the menu that says the panel is moving.
    if (unlocked && !pointerOverPanel() && !queries->pointerOverOwnWindow())
        unlocked = false;
}

void AppDelegate::escapePressed()
{
    if (!unlocked)
        return;
    unlocked = false;
    grabCheck();
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
    wakeGrabCheck();
}

void AppDelegate::setDebugHover(std::optional<bool> hover)
{
    debugHover = hover;
    wakeGrabCheck();
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
        wakeGrabCheck();
    }
}

bool AppDelegate::isFullScreenSpace() const
{
    // The compositor keeps its top layer below full-screen windows itself.
    if (panel->layerPanel())
        return false;
    const QScreen *screen = panel->screen();
    if (!screen)
        return false;
    const std::optional<QRect> window = queries->fullScreenWindow();
    return window && coversScreen(*window, screen->geometry(), screen->devicePixelRatio());
}

void AppDelegate::toggleFade()
{
    settings.setFadeOnHover(!settings.fadeOnHover());
    // Under XWayland whether the panel takes the pointer goes with the setting.
    wakeGrabCheck();
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

void AppDelegate::listenTo(const QString &application)
{
    settings.setListenTo(application.trimmed().isEmpty() ? std::nullopt
                                                         : std::optional(application));
    tap->listenTo(settings.listenTo());
    players->setApplication(settings.listenTo());
    // Tempo and silence start over with what is heard now.
    analyzer->reset();
}

void AppDelegate::setSongTitles(bool on)
{
    settings.setSongTitles(on);
    if (!on && protocol->pageReady() && host)
        host->evaluate(ScriptCalls::hideNowPlaying());
}

void AppDelegate::songChanged(const MediaPlayers::Track &track)
{
    if (settings.songTitles() && protocol->pageReady() && host)
        host->evaluate(ScriptCalls::nowPlaying(track.title, track.artist));
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
    in.listeningTo = settings.listenTo();
    if (const std::optional<MediaPlayers::Track> song = players->playing();
        song && settings.songTitles()) {
        const QString text = song->artist.isEmpty()
                                 ? song->title
                                 : song->title + QStringLiteral(" - ") + song->artist;
        in.song = text.size() > kStatusSongLength
                      ? text.left(kStatusSongLength - 1).trimmed() + QChar(0x2026)
                      : text;
    }
    return bopling::statusText(in);
}

void AppDelegate::pushConfig()
{
    protocol->pushConfig();
}

void AppDelegate::tick()
{
    protocol->tick([this] { return analyzer->takeSnapshot(); });
    const QPointer<AppDelegate> self(this);
    // From the audio thread to `then` on the main thread.
    const auto wake = [self](void (AppDelegate::*then)()) {
        return [self, then] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, then] {
                    if (self)
                        (self.data()->*then)();
                },
                Qt::QueuedConnection);
        };
    };
    // A beat goes to the page as soon as it is heard, not at the next frame.
    analyzer->wakeOnEvents(wake(&AppDelegate::tickNow));
    // Once the silent tick has gone out, the analyzer says when sound is
    // back and the timer only looks in now and then.
    int period = kFrameMilliseconds;
    if (protocol->lastSilent() == true && analyzer->wakeOnSound(wake(&AppDelegate::resumeFrames)))
        period = kQuietFrameMilliseconds;
    if (timer->interval() != period)
        timer->setInterval(period);
}

void AppDelegate::resumeFrames()
{
    if (timer->interval() != kFrameMilliseconds)
        tickNow();
}

void AppDelegate::tickNow()
{
    // The frames go on from this one.
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
    state.playing = listenChoices(tap->playbackStreams(), state.listenTo);
    for (const Creature &creature : library->all())
        state.creatures.append(creature.name);
    state.unlocked = unlocked;
    state.fadeUnavailable = panel->layerPanel() != nullptr;
    // Starts the search for the CLI unless one has been started before.
    ClaudeRunner::lookUpClaude();
    state.claudeMissing = claudeMissing();
    return buildStatusMenu(state);
}

void AppDelegate::openMenuBesidePanel()
{
    if (status)
        status->popupBeside(panel->geometry());
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
    case MenuAction::listenTo:
        listenTo(item.representedObject);
        break;
    case MenuAction::toggleSongTitles:
        setSongTitles(!settings.songTitles());
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
