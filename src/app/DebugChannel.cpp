#include "app/DebugChannel.h"

#include "app/AppDelegate.h"
#include "app/StatusMenu.h"
#include "app/TrayIcon.h"
#include "audio/AudioTap.h"
#include "creatures/ClaudeRunner.h"
#include "creatures/Creature.h"
#include "creatures/CreatureLibrary.h"
#include "creatures/window/CreatureWindowController.h"
#include "creatures/window/PhotoDropView.h"
#include "overlay/DragView.h"
#include "overlay/HoverFade.h"
#include "overlay/OverlayPanel.h"
#include "render/RendererHost.h"
#include "settings/Settings.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QWindow>

namespace bopling {

namespace {

using namespace debug;

// What snapshots are laid on, so that the page's transparent parts show.
const QColor kSnapshotBackground = QColor::fromRgbF(0.24, 0.27, 0.34);

// How long the creature window gets to settle before its snapshot.
constexpr int kWindowSnapshotMilliseconds = 1200;

template <typename... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};

std::optional<QByteArray> readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::optional<Creature> readCreature(const QString &path)
{
    const std::optional<QByteArray> bytes = readWhole(path);
    if (!bytes)
        return std::nullopt;
    try {
        return Creature::decode(*bytes).validated();
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

std::optional<QByteArray> png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return std::nullopt;
    return bytes;
}

} // namespace

DebugChannel::DebugChannel(AppDelegate &owner, QString commandFolder)
    : controller(owner), folder(std::move(commandFolder))
{}

DebugChannel::~DebugChannel() = default;

void DebugChannel::start()
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &DebugChannel::readCommandFile);
    timer->start(kPeriodMilliseconds);
    readCommandFile();
}

QString DebugChannel::fixedPath(const char *name) const
{
    return folder + u'/' + QLatin1String(name);
}

void DebugChannel::readCommandFile()
{
    const std::optional<QString> text = takeCommandFile(fixedPath("qx-cmd.txt"));
    if (!text)
        return;
    for (const DebugCommand &command : parseDebugCommands(*text))
        execute(command);
}

void DebugChannel::execute(const DebugCommand &command)
{
    std::visit(Overloaded{
                   [this](const Snapshot &c) { snapshot(c.path); },
                   [this](const WindowInfo &c) { windowInfo(c.path); },
                   [this](const MakeCreature &c) { makeCreature(c); },
                   [this](const CreatureWindow &c) { creatureWindow(c); },
                   [this](const SaveCreature &c) { saveCreature(c.path); },
                   [this](const MenuDump &c) { menuDump(c.path); },
                   [this](const Script &c) { script(c.code); },
                   [this](const Drag &c) { drag(c.dx, c.dy); },
                   [this](const Set &c) { set(c); },
               },
               command);
}

void DebugChannel::script(const QString &code)
{
    // The answer is there only when the latest script threw.
    const QString error = fixedPath("qx-js-error.txt");
    QFile::remove(error);
    if (controller.host)
        controller.host->evaluateOwn(code, [error](const QString &text) {
            writeResultFile(error, QStringLiteral("js error: %1").arg(text).toUtf8());
        });
}

void DebugChannel::drag(double dx, double dy)
{
    // As a hand that took the panel 40 points in from its lower-left corner
    // and let go after moving by (dx, dy).
    const QPointF grab(40, 40);
    const Frame frame = controller.panel->frame();
    controller.placement->drag(QPointF(frame.x + dx, frame.y + dy) + grab, grab);
    controller.placement->dragEnded();
}

void DebugChannel::snapshot(const QString &path)
{
    QWidget *web = controller.host ? controller.host->view() : nullptr;
    const QPixmap grabbed = web ? web->grab() : QPixmap();
    if (grabbed.isNull()) {
        writeResultFile(fixedPath("qx-snap-error.txt"),
                        QByteArrayLiteral("snapshot error: the web view gave no image"));
        return;
    }
    QImage image(grabbed.size(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(grabbed.devicePixelRatio());
    image.fill(kSnapshotBackground);
    {
        QPainter painter(&image);
        painter.drawPixmap(0, 0, grabbed);
        if (DragView *drag = controller.drag; drag && drag->isVisible()) {
            // Only the view's own drawing: the dashed frame over a faint veil.
            drag->render(&painter, drag->geometry().topLeft() - web->geometry().topLeft(),
                         QRegion(), QWidget::DrawChildren);
        }
    }
    if (const std::optional<QByteArray> bytes = png(image))
        writeResultFile(path, *bytes);
}

void DebugChannel::windowInfo(const QString &path)
{
    const OverlayPanel &panel = *controller.panel;
    WindowFacts facts;
    facts.frame = panel.frame();
    facts.visible = panel.onScreen();
    facts.level =
        panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? OverlayPanel::kFloatingLevel : 0;
    facts.screens = int(QGuiApplication::screens().size());
    facts.number = quint64(panel.winId());
    facts.occlusion = panel.windowHandle() && panel.windowHandle()->isExposed();
    facts.alpha = panel.alphaValue();
    facts.ignoresMouse = panel.ignoresMouseEvents();
    facts.hover = controller.debugHover;
    facts.target = controller.fade->fadeTarget();
    writeResultFile(path, windowInfoLine(facts).toUtf8());
}

void DebugChannel::makeCreature(const MakeCreature &make)
{
    const std::optional<QByteArray> photo = readWhole(make.photo);
    if (!photo)
        return;
    const QString out = fixedPath("qx-creature-out.json");
    const QString error = fixedPath("qx-creature-err.txt");
    const QString time = fixedPath("qx-creature-time.txt");
    QFile::remove(out);
    QFile::remove(error);
    // A new runner; the one it replaces stops its run.
    testRunner = std::make_unique<ClaudeRunner>();
    QElapsedTimer clock;
    clock.start();
    testRunner->run(*photo, make.note, make.model,
                    [out, error, time, clock](const ClaudeRunner::Outcome &outcome) {
                        if (outcome.creature)
                            writeResultFile(out, outcome.creature->encode());
                        else
                            writeResultFile(error, outcome.message.toUtf8());
                        writeResultFile(
                            time,
                            QString::asprintf("%.1f s", double(clock.elapsed()) / 1000).toUtf8());
                    });
}

void DebugChannel::creatureWindow(const CreatureWindow &command)
{
    const std::optional<Creature> creature = readCreature(command.creature);
    if (!creature)
        return;
    const std::optional<QByteArray> photo = readWhole(command.photo);
    CreatureWindowController &window = controller.creatureWindowController();
    // Snapshots look the same whatever the desktop's theme.
    window.useLightAppearance();
    if (command.edit) {
        window.openForEdit(*creature);
    } else {
        // As if a drawing had just come back for this photo.
        window.openNew();
        if (photo)
            window.drop->takePhoto(*photo);
        window.status->setText(
            QStringLiteral("Done. Look it over; add a note and Try again if you want changes."));
        window.showResult(*creature);
        window.applySizeRule();
    }
    QTimer::singleShot(kWindowSnapshotMilliseconds, this, [this, out = command.out] {
        const CreatureWindowController &shown = controller.creatureWindowController();
        writeResultFile(out, [&](const QString &draft) { return shown.snapshot(draft); });
    });
}

void DebugChannel::saveCreature(const QString &path)
{
    const std::optional<Creature> creature = readCreature(path);
    if (!creature)
        return;
    QString stored;
    try {
        stored = controller.library->save(*creature);
    } catch (const CreatureLibrary::Error &) {
        return;
    }
    // A new familiar pushes out the oldest.
    QStringList familiars = controller.settings.familiars();
    familiars.append(stored);
    controller.settings.setFamiliars(
        familiars.mid(qMax<qsizetype>(0, familiars.size() - kMaxFamiliars)));
    controller.pushConfig();
}

void DebugChannel::menuDump(const QString &path)
{
    if (!controller.status)
        return;
    writeResultFile(path, menuListing(controller.menuItems()).toUtf8());
}

void DebugChannel::set(const Set &set)
{
    // A key not in the table changes nothing, but the placement and the
    // configuration still go out again.
    if (set.key)
        change(*set.key, set.value);
    controller.applyPlacement();
    controller.pushConfig();
}

void DebugChannel::change(Key key, const SetValue &value)
{
    Settings &settings = controller.settings;
    const auto flag = [&] { return std::get<bool>(value); };
    const auto number = [&] { return std::get<int>(value); };
    switch (key) {
    case Key::layout:
        settings.setLayout(std::get<Layout>(value));
        break;
    case Key::corner:
        settings.setCorner(std::get<Corner>(value));
        break;
    case Key::scene:
        settings.setScene(std::get<Scene>(value));
        break;
    case Key::cornerSize:
        settings.setCornerSize(number());
        break;
    case Key::stripSize:
        settings.setStripSize(number());
        break;
    case Key::intensity:
        settings.setIntensity(number());
        break;
    case Key::warriorCount:
        settings.setWarriorCount(number());
        break;
    case Key::tobble:
        settings.setTobble(flag());
        break;
    case Key::warriors:
        settings.setWarriors(flag());
        break;
    case Key::monsters:
        settings.setMonsters(flag());
        break;
    case Key::paused:
        // Pausing stops capture; unpausing here only stores the setting.
        settings.setPaused(flag());
        if (flag())
            controller.tap->stop();
        break;
    case Key::move:
        controller.unlocked = flag();
        controller.wakeGrabCheck();
        break;
    case Key::hover:
        controller.setDebugHover(std::get<Hover>(value));
        break;
    case Key::listen: {
        const QString name = std::get<QString>(value);
        controller.listenTo(
            name.compare(QLatin1String("everything"), Qt::CaseInsensitive) == 0 ? QString() : name);
        break;
    }
    case Key::songTitles:
        controller.setSongTitles(flag());
        break;
    }
}

} // namespace bopling
