#include "overlay/LayerPanel.h"

#include "settings/SystemLog.h"

#include "fractional-scale-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>

#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace bopling {

namespace {

// Versions Bopling speaks; a compositor offering less is spoken to in its own.
constexpr std::uint32_t kCompositorVersion = 4;
constexpr std::uint32_t kLayerShellVersion = 4;
constexpr std::uint32_t kSeatVersion = 5;
constexpr std::uint32_t kOutputVersion = 4;
constexpr std::uint32_t kShmVersion = 1;
// The key and button codes of the Linux input layer.
constexpr std::uint32_t kEscapeKey = 1;
constexpr std::uint32_t kLeftButton = 0x110;
// Fractional scales come in 120ths.
constexpr double kFractionalScaleUnit = 120;

} // namespace

struct LayerPanel::Connection
{
    struct Output
    {
        std::uint32_t id = 0;
        wl_output *output = nullptr;
        QString name;
        int scale = 1;
    };

    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_compositor *compositor = nullptr;
    wl_shm *shm = nullptr;
    zwlr_layer_shell_v1 *layerShell = nullptr;
    std::uint32_t layerShellVersion = 0;
    // Where the compositor offers both, pictures are drawn at its fractional scale.
    wp_viewporter *viewporter = nullptr;
    wp_fractional_scale_manager_v1 *fractionalScales = nullptr;
    wl_seat *seat = nullptr;
    wl_pointer *pointer = nullptr;
    wl_keyboard *keyboard = nullptr;
    std::vector<Output> outputs;
    wl_surface *surface = nullptr;
    zwlr_layer_surface_v1 *layerSurface = nullptr;
    wp_viewport *viewport = nullptr;
    wp_fractional_scale_v1 *fractionalScale = nullptr;
    // The compositor's preferred scale for the surface; 0 until it says.
    double preferredScale = 0;
    wl_callback *frame = nullptr;
    wl_output *surfaceOutput = nullptr;
    QSocketNotifier *notifier = nullptr;

    ~Connection()
    {
        // The notifier belongs to the panel; it may be the one calling here.
        if (notifier)
            notifier->setEnabled(false);
        destroySurface();
        if (pointer)
            wl_pointer_destroy(pointer);
        if (keyboard)
            wl_keyboard_destroy(keyboard);
        if (seat)
            wl_seat_destroy(seat);
        for (const Output &output : outputs)
            wl_output_destroy(output.output);
        if (layerShell)
            zwlr_layer_shell_v1_destroy(layerShell);
        if (viewporter)
            wp_viewporter_destroy(viewporter);
        if (fractionalScales)
            wp_fractional_scale_manager_v1_destroy(fractionalScales);
        if (shm)
            wl_shm_destroy(shm);
        if (compositor)
            wl_compositor_destroy(compositor);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
    }

    // The surface and what hangs on it.
    void destroySurface()
    {
        if (frame)
            wl_callback_destroy(frame);
        if (viewport)
            wp_viewport_destroy(viewport);
        if (fractionalScale)
            wp_fractional_scale_v1_destroy(fractionalScale);
        if (layerSurface)
            zwlr_layer_surface_v1_destroy(layerSurface);
        if (surface)
            wl_surface_destroy(surface);
        frame = nullptr;
        viewport = nullptr;
        fractionalScale = nullptr;
        layerSurface = nullptr;
        surface = nullptr;
        preferredScale = 0;
    }

    Output *output(wl_output *object)
    {
        const auto it = std::find_if(outputs.begin(), outputs.end(),
                                     [object](const Output &o) { return o.output == object; });
        return it == outputs.end() ? nullptr : &*it;
    }
};

// One shared-memory picture the compositor reads until it releases it.
struct LayerPanel::Buffer
{
    wl_buffer *buffer = nullptr;
    void *data = MAP_FAILED;
    std::size_t size = 0;
    QImage image;
    bool busy = false;

    ~Buffer()
    {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (data != MAP_FAILED)
            munmap(data, size);
    }
};

// The C call-backs of the Wayland objects, handing each event to the panel.
struct LayerPanelListeners
{
    static LayerPanel *panel(void *data) { return static_cast<LayerPanel *>(data); }

    static constexpr wl_output_listener output{
        .geometry = [](void *, wl_output *, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                       std::int32_t, const char *, const char *, std::int32_t) {},
        .mode = [](void *, wl_output *, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
        .done = [](void *, wl_output *) {},
        .scale =
            [](void *data, wl_output *object, std::int32_t factor) {
                if (auto *known = panel(data)->wayland->output(object))
                    known->scale = std::max(1, factor);
            },
        .name =
            [](void *data, wl_output *object, const char *name) {
                if (auto *known = panel(data)->wayland->output(object))
                    known->name = QString::fromUtf8(name);
            },
        .description = [](void *, wl_output *, const char *) {},
    };

    static constexpr wl_seat_listener seat{
        .capabilities = [](void *data, wl_seat *,
                           std::uint32_t caps) { panel(data)->seatChanged(caps); },
        .name = [](void *, wl_seat *, const char *) {},
    };

    static constexpr wl_registry_listener registry{
        .global =
            [](void *data, wl_registry *registry, std::uint32_t id, const char *interface,
               std::uint32_t version) {
                LayerPanel::Connection &c = *panel(data)->wayland;
                const auto bind = [&](const wl_interface *kind, std::uint32_t highest) {
                    return wl_registry_bind(registry, id, kind, std::min(version, highest));
                };
                if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
                    c.compositor = static_cast<wl_compositor *>(
                        bind(&wl_compositor_interface, kCompositorVersion));
                } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
                    c.shm = static_cast<wl_shm *>(bind(&wl_shm_interface, kShmVersion));
                } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
                    c.layerShellVersion = std::min(version, kLayerShellVersion);
                    c.layerShell = static_cast<zwlr_layer_shell_v1 *>(
                        bind(&zwlr_layer_shell_v1_interface, kLayerShellVersion));
                } else if (std::strcmp(interface, wp_viewporter_interface.name) == 0) {
                    c.viewporter = static_cast<wp_viewporter *>(bind(&wp_viewporter_interface, 1));
                } else if (std::strcmp(interface, wp_fractional_scale_manager_v1_interface.name) ==
                           0) {
                    c.fractionalScales = static_cast<wp_fractional_scale_manager_v1 *>(
                        bind(&wp_fractional_scale_manager_v1_interface, 1));
                } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c.seat) {
                    c.seat = static_cast<wl_seat *>(bind(&wl_seat_interface, kSeatVersion));
                    wl_seat_add_listener(c.seat, &seat, data);
                } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
                    auto *object =
                        static_cast<wl_output *>(bind(&wl_output_interface, kOutputVersion));
                    c.outputs.push_back({id, object, QString(), 1});
                    wl_output_add_listener(object, &output, data);
                }
            },
        .global_remove =
            [](void *data, wl_registry *, std::uint32_t id) {
                // A layer surface on the output that went is closed by the
                // compositor, which says so first.
                LayerPanel::Connection &c = *panel(data)->wayland;
                const auto it = std::find_if(c.outputs.begin(), c.outputs.end(),
                                             [id](const auto &o) { return o.id == id; });
                if (it == c.outputs.end())
                    return;
                if (c.surfaceOutput == it->output)
                    c.surfaceOutput = nullptr;
                wl_output_destroy(it->output);
                c.outputs.erase(it);
            },
    };

    static constexpr wl_pointer_listener pointer{
        .enter =
            [](void *data, wl_pointer *, std::uint32_t, wl_surface *surface, wl_fixed_t x,
               wl_fixed_t y) {
                LayerPanel *p = panel(data);
                p->pointerEntered(surface && surface == p->wayland->surface, wl_fixed_to_double(x),
                                  wl_fixed_to_double(y));
            },
        .leave = [](void *data, wl_pointer *, std::uint32_t,
                    wl_surface *) { panel(data)->pointerLeft(); },
        .motion =
            [](void *data, wl_pointer *, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
                panel(data)->pointerMoved(wl_fixed_to_double(x), wl_fixed_to_double(y));
            },
        .button =
            [](void *data, wl_pointer *, std::uint32_t, std::uint32_t, std::uint32_t button,
               std::uint32_t state) {
                if (button == kLeftButton)
                    panel(data)->buttonChanged(state == WL_POINTER_BUTTON_STATE_PRESSED);
            },
        .axis = [](void *, wl_pointer *, std::uint32_t, std::uint32_t, wl_fixed_t) {},
        .frame = [](void *, wl_pointer *) {},
        .axis_source = [](void *, wl_pointer *, std::uint32_t) {},
        .axis_stop = [](void *, wl_pointer *, std::uint32_t, std::uint32_t) {},
        .axis_discrete = [](void *, wl_pointer *, std::uint32_t, std::int32_t) {},
        .axis_value120 = [](void *, wl_pointer *, std::uint32_t, std::int32_t) {},
    };

    static constexpr wl_keyboard_listener keyboard{
        // The key map is not needed: Escape has the same code everywhere.
        .keymap = [](void *, wl_keyboard *, std::uint32_t, std::int32_t fd,
                     std::uint32_t) { close(fd); },
        .enter =
            [](void *data, wl_keyboard *, std::uint32_t, wl_surface *surface, wl_array *) {
                LayerPanel *p = panel(data);
                p->keyboardEntered(surface && surface == p->wayland->surface);
            },
        .leave =
            [](void *data, wl_keyboard *, std::uint32_t, wl_surface *surface) {
                LayerPanel *p = panel(data);
                p->keyboardLeft(surface && surface == p->wayland->surface);
            },
        .key =
            [](void *data, wl_keyboard *, std::uint32_t, std::uint32_t, std::uint32_t key,
               std::uint32_t state) {
                if (state == WL_KEYBOARD_KEY_STATE_PRESSED)
                    panel(data)->keyPressed(key);
            },
        .modifiers = [](void *, wl_keyboard *, std::uint32_t, std::uint32_t, std::uint32_t,
                        std::uint32_t, std::uint32_t) {},
        .repeat_info = [](void *, wl_keyboard *, std::int32_t, std::int32_t) {},
    };

    static constexpr zwlr_layer_surface_v1_listener layerSurface{
        .configure = [](void *data, zwlr_layer_surface_v1 *, std::uint32_t serial,
                        std::uint32_t width,
                        std::uint32_t height) { panel(data)->configured(serial, width, height); },
        .closed = [](void *data, zwlr_layer_surface_v1 *) { panel(data)->closed(); },
    };

    static constexpr wp_fractional_scale_v1_listener fractionalScale{
        .preferred_scale =
            [](void *data, wp_fractional_scale_v1 *, std::uint32_t scale) {
                LayerPanel *p = panel(data);
                p->wayland->preferredScale = scale / kFractionalScaleUnit;
                p->contentChanged();
            },
    };

    static constexpr wl_callback_listener frame{
        .done = [](void *data, wl_callback *, std::uint32_t) { panel(data)->frameDone(); },
    };

    static constexpr wl_buffer_listener buffer{
        .release = [](void *data,
                      wl_buffer *) { static_cast<LayerPanel::Buffer *>(data)->busy = false; },
    };
};

std::unique_ptr<LayerPanel> LayerPanel::connect()
{
    // Only where the session says it is a Wayland one: an X11 session on a
    // machine that also runs a compositor stays with X11.
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->display = wl_display_connect(nullptr);
    if (!connection->display)
        return nullptr;
    std::unique_ptr<LayerPanel> panel(new LayerPanel(std::move(connection)));
    Connection &c = *panel->wayland;
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &LayerPanelListeners::registry, panel.get());
    // Once at start, before anything is shown: the globals, then what the
    // outputs and the seat say about themselves.
    if (wl_display_roundtrip(c.display) < 0 || wl_display_roundtrip(c.display) < 0)
        return nullptr;
    if (!c.compositor || !c.shm || !c.layerShell)
        return nullptr;
    c.notifier =
        new QSocketNotifier(wl_display_get_fd(c.display), QSocketNotifier::Read, panel.get());
    QObject::connect(c.notifier, &QSocketNotifier::activated, panel.get(), &LayerPanel::dispatch);
    // Requests made anywhere in the program's turn go out before it waits.
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, panel.get(),
                         &LayerPanel::flush);
    return panel;
}

LayerPanel::LayerPanel(std::unique_ptr<Connection> connection) : wayland(std::move(connection)) {}

LayerPanel::~LayerPanel()
{
    // The buffers go before the connection that made them.
    for (auto &buffer : buffers)
        buffer.reset();
    wayland.reset();
}

void LayerPanel::dispatch()
{
    if (!wayland || !wayland->display)
        return;
    // Called when the socket has data, so reading does not wait.
    if (wl_display_dispatch(wayland->display) < 0)
        connectionLost();
}

void LayerPanel::flush()
{
    if (!wayland || !wayland->display)
        return;
    // Events read along with a reply wait in the queue without waking the socket.
    if (wl_display_dispatch_pending(wayland->display) < 0) {
        connectionLost();
        return;
    }
    wl_display_flush(wayland->display);
}

void LayerPanel::connectionLost()
{
    const int error = wl_display_get_error(wayland->display);
    systemLog(QStringLiteral("Bopling: lost the connection to the compositor (%1); the panel is "
                             "gone until Bopling starts again")
                  .arg(QString::fromLocal8Bit(std::strerror(error))));
    for (auto &buffer : buffers)
        buffer.reset();
    wayland.reset();
}

void LayerPanel::seatChanged(unsigned capabilities)
{
    Connection &c = *wayland;
    const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    const bool hasKeyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    if (hasPointer && !c.pointer) {
        c.pointer = wl_seat_get_pointer(c.seat);
        wl_pointer_add_listener(c.pointer, &LayerPanelListeners::pointer, this);
    } else if (!hasPointer && c.pointer) {
        wl_pointer_destroy(c.pointer);
        c.pointer = nullptr;
    }
    if (hasKeyboard && !c.keyboard) {
        c.keyboard = wl_seat_get_keyboard(c.seat);
        wl_keyboard_add_listener(c.keyboard, &LayerPanelListeners::keyboard, this);
    } else if (!hasKeyboard && c.keyboard) {
        wl_keyboard_destroy(c.keyboard);
        c.keyboard = nullptr;
    }
}

void LayerPanel::setGeometry(const QRect &rect, const QRect &area, bool strip,
                             const QString &screen)
{
    const LayerPlacement placed = layerPlacement(strip, rect, area);
    const bool moved = placed != placement || area != visibleArea || rect != frame;
    frame = rect;
    visibleArea = area;
    placement = placed;
    const bool otherScreen = screen != screenName;
    screenName = screen;
    if (!wayland || !wayland->surface)
        return;
    // A layer surface stays on the output it was made for.
    if (otherScreen) {
        destroySurface();
        createSurface();
        return;
    }
    if (!moved)
        return;
    applyState();
    // While moving, the panel moves within the surface: its picture is drawn anew.
    if (!clickThrough) {
        dirty = true;
        drawIfDue();
    }
    wl_surface_commit(wayland->surface);
    flush();
}

void LayerPanel::setClickThrough(bool through)
{
    if (through == clickThrough)
        return;
    clickThrough = through;
    if (through)
        pressed = false;
    dirty = true;
    if (!wayland || !wayland->surface)
        return;
    applyState();
    wl_surface_commit(wayland->surface);
    flush();
}

void LayerPanel::show()
{
    shown = true;
    if (wayland && !wayland->surface)
        createSurface();
}

void LayerPanel::hide()
{
    shown = false;
    if (wayland && wayland->surface) {
        destroySurface();
        flush();
    }
}

void LayerPanel::contentChanged()
{
    dirty = true;
    drawIfDue();
}

void LayerPanel::createSurface()
{
    Connection &c = *wayland;
    c.surfaceOutput = nullptr;
    for (const Connection::Output &output : c.outputs)
        if (output.name == screenName)
            c.surfaceOutput = output.output;
    // Without names to go by, a single output is the one; otherwise the
    // compositor chooses (the focused output, as a rule).
    if (!c.surfaceOutput && c.outputs.size() == 1)
        c.surfaceOutput = c.outputs.front().output;
    c.surface = wl_compositor_create_surface(c.compositor);
    c.layerSurface = zwlr_layer_shell_v1_get_layer_surface(
        c.layerShell, c.surface, c.surfaceOutput, ZWLR_LAYER_SHELL_V1_LAYER_TOP, "bopling");
    zwlr_layer_surface_v1_add_listener(c.layerSurface, &LayerPanelListeners::layerSurface, this);
    if (c.viewporter && c.fractionalScales) {
        c.viewport = wp_viewporter_get_viewport(c.viewporter, c.surface);
        c.fractionalScale =
            wp_fractional_scale_manager_v1_get_fractional_scale(c.fractionalScales, c.surface);
        wp_fractional_scale_v1_add_listener(c.fractionalScale,
                                            &LayerPanelListeners::fractionalScale, this);
    }
    applyState();
    // The first commit carries no picture: the compositor answers with the size.
    wl_surface_commit(c.surface);
    flush();
}

void LayerPanel::destroySurface()
{
    wayland->destroySurface();
    // A destroyed surface shows no buffer any more.
    for (auto &buffer : buffers)
        if (buffer)
            buffer->busy = false;
    framePending = false;
    configuredOnce = false;
    configuredSize = QSize();
    overSurface = false;
    keyboardOurs = false;
    dirty = true;
    // A drag on the surface that went (to another output, say) ends where it
    // got to; its release will not come. Afterwards: the end of a drag
    // places the panel again, which may be what brought us here.
    if (std::exchange(pressed, false))
        QTimer::singleShot(0, this, [this] {
            if (onRelease)
                onRelease();
        });
}

void LayerPanel::applyState()
{
    Connection &c = *wayland;
    zwlr_layer_surface_v1 *surface = c.layerSurface;
    if (clickThrough) {
        zwlr_layer_surface_v1_set_size(surface, std::uint32_t(placement.width),
                                       std::uint32_t(placement.height));
        zwlr_layer_surface_v1_set_anchor(surface, placement.anchor);
        zwlr_layer_surface_v1_set_margin(surface, placement.marginTop, placement.marginRight,
                                         placement.marginBottom, placement.marginLeft);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            surface, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    } else {
        // The whole area bars leave free, the panel drawn at its place in it.
        zwlr_layer_surface_v1_set_size(surface, 0, 0);
        zwlr_layer_surface_v1_set_anchor(surface, LayerPlacement::top | LayerPlacement::bottom |
                                                      LayerPlacement::left | LayerPlacement::right);
        zwlr_layer_surface_v1_set_margin(surface, 0, 0, 0, 0);
        // Compositors without on-demand keyboards give it while the panel moves.
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            surface, c.layerShellVersion >= 4
                         ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND
                         : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    }
    // Reserves nothing, and keeps out of what bars reserve.
    zwlr_layer_surface_v1_set_exclusive_zone(surface, 0);
    setInputRegion();
}

void LayerPanel::setInputRegion()
{
    Connection &c = *wayland;
    // While moving, the whole surface: a press beside the panel locks it
    // again, and a drag's motion counts wherever the pointer goes.
    if (!clickThrough) {
        wl_surface_set_input_region(c.surface, nullptr);
        return;
    }
    wl_region *empty = wl_compositor_create_region(c.compositor);
    wl_surface_set_input_region(c.surface, empty);
    wl_region_destroy(empty);
}

bool LayerPanel::pointerInside() const
{
    return overSurface && !clickThrough && QRectF(pictureOffset(), frame.size()).contains(pointer);
}

QPoint LayerPanel::pictureOffset() const
{
    return clickThrough ? QPoint() : frame.topLeft() - visibleArea.topLeft();
}

QPointF LayerPanel::globalPoint(double x, double y) const
{
    const QPoint origin = clickThrough ? frame.topLeft() : visibleArea.topLeft();
    return QPointF(origin) + QPointF(x, y);
}

void LayerPanel::configured(unsigned serial, unsigned width, unsigned height)
{
    zwlr_layer_surface_v1_ack_configure(wayland->layerSurface, serial);
    const QSize size{int(width), int(height)};
    if (size != configuredSize || !configuredOnce)
        dirty = true;
    configuredSize = size;
    configuredOnce = true;
    drawIfDue();
    // The acknowledgement takes effect with a commit, picture or not.
    wl_surface_commit(wayland->surface);
}

void LayerPanel::closed()
{
    // The compositor took the surface away (its output went): a new one goes
    // wherever the panel is placed next, or on the compositor's choice.
    destroySurface();
    if (shown)
        QTimer::singleShot(0, this, [this] {
            if (wayland && shown && !wayland->surface)
                createSurface();
        });
}

void LayerPanel::frameDone()
{
    if (wayland->frame)
        wl_callback_destroy(wayland->frame);
    wayland->frame = nullptr;
    framePending = false;
    drawIfDue();
}

LayerPanel::Buffer *LayerPanel::freeBuffer(QSize pixels)
{
    for (auto &buffer : buffers)
        if (buffer && !buffer->busy && buffer->image.size() == pixels)
            return buffer.get();
    for (auto &slot : buffers) {
        if (slot && slot->busy)
            continue;
        auto made = std::make_unique<Buffer>();
        const int stride = pixels.width() * 4;
        made->size = std::size_t(stride) * std::size_t(pixels.height());
        const int fd = memfd_create("bopling-panel", MFD_CLOEXEC);
        if (fd < 0)
            return nullptr;
        if (ftruncate(fd, off_t(made->size)) == 0)
            made->data = mmap(nullptr, made->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (made->data == MAP_FAILED) {
            close(fd);
            return nullptr;
        }
        wl_shm_pool *pool = wl_shm_create_pool(wayland->shm, fd, std::int32_t(made->size));
        made->buffer = wl_shm_pool_create_buffer(pool, 0, pixels.width(), pixels.height(), stride,
                                                 WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        wl_buffer_add_listener(made->buffer, &LayerPanelListeners::buffer, made.get());
        // Premultiplied ARGB in native byte order is the compositor's ARGB8888.
        made->image = QImage(static_cast<uchar *>(made->data), pixels.width(), pixels.height(),
                             stride, QImage::Format_ARGB32_Premultiplied);
        slot = std::move(made);
        return slot.get();
    }
    return nullptr;
}

void LayerPanel::drawIfDue()
{
    if (!wayland || !wayland->surface || !shown || !configuredOnce || !dirty || framePending)
        return;
    Connection &c = *wayland;
    // The compositor's size where it chose one, the panel's own otherwise.
    const QSize size(configuredSize.width() > 0 ? configuredSize.width() : frame.width(),
                     configuredSize.height() > 0 ? configuredSize.height() : frame.height());
    if (size.isEmpty())
        return;
    // At a fractional scale the buffer has the surface's size in device
    // pixels and the viewport shows it at the surface's size; otherwise the
    // output's whole scale. Either way each picture pixel covers whole device
    // pixels (SceneView::paint).
    const bool fractional = c.viewport && c.preferredScale > 0;
    double scale = fractional ? c.preferredScale : 1;
    if (!fractional)
        for (const Connection::Output &output : c.outputs)
            if (output.output == c.surfaceOutput)
                scale = output.scale;
    // A buffer comes free when the compositor releases it, and the picture
    // goes then, at the next frame.
    Buffer *buffer = freeBuffer(QSize(qRound(size.width() * scale), qRound(size.height() * scale)));
    if (!buffer)
        return;
    buffer->image.setDevicePixelRatio(1);
    buffer->image.fill(Qt::transparent);
    buffer->image.setDevicePixelRatio(scale);
    if (paintContent) {
        QPainter painter(&buffer->image);
        painter.translate(pictureOffset());
        painter.setClipRect(QRect(QPoint(), frame.size()));
        paintContent(painter, scale);
    }
    if (fractional) {
        wl_surface_set_buffer_scale(c.surface, 1);
        wp_viewport_set_destination(c.viewport, size.width(), size.height());
    } else {
        wl_surface_set_buffer_scale(c.surface, int(scale));
    }
    wl_surface_attach(c.surface, buffer->buffer, 0, 0);
    wl_surface_damage(c.surface, 0, 0, INT_MAX, INT_MAX);
    c.frame = wl_surface_frame(c.surface);
    wl_callback_add_listener(c.frame, &LayerPanelListeners::frame, this);
    wl_surface_commit(c.surface);
    buffer->busy = true;
    framePending = true;
    dirty = false;
    flush();
}

void LayerPanel::pointerEntered(bool ours, double x, double y)
{
    overSurface = ours;
    if (ours)
        pointer = QPointF(x, y);
}

void LayerPanel::pointerLeft()
{
    overSurface = false;
}

void LayerPanel::pointerMoved(double x, double y)
{
    if (!overSurface && !pressed)
        return;
    pointer = QPointF(x, y);
    if (pressed && onMotion)
        onMotion(globalPoint(x, y));
}

void LayerPanel::buttonChanged(bool down)
{
    if (clickThrough)
        return;
    if (down && !pressed) {
        if (!pointerInside()) {
            if (overSurface && onClickElsewhere)
                onClickElsewhere();
            return;
        }
        pressed = true;
        if (onPress)
            onPress(globalPoint(pointer.x(), pointer.y()));
    } else if (!down && pressed) {
        pressed = false;
        if (onRelease)
            onRelease();
    }
}

void LayerPanel::keyboardEntered(bool ours)
{
    keyboardOurs = ours;
}

void LayerPanel::keyboardLeft(bool ours)
{
    if (!ours || !keyboardOurs)
        return;
    keyboardOurs = false;
    if (onClickElsewhere)
        onClickElsewhere();
}

void LayerPanel::keyPressed(unsigned key)
{
    if (keyboardOurs && key == kEscapeKey && onEscape)
        onEscape();
}

} // namespace bopling
