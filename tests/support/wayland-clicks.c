// A native Wayland window for tests: one solid colour (0xff20c040) at
// whatever size the compositor gives it, app_id "bopling-clicks". Prints
// "ready" once it shows and "button X Y" (surface coordinates) for every
// press of a pointer button, each on its own line. It is also the test's
// hands, through a virtual pointer (a headless compositor's seat has none of
// its own): lines on standard input "to X Y" (output coordinates of a
// 1440 x 900 layout), "by DX DY", "press" and "release".
#define _GNU_SOURCE
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm;
static struct wl_seat *seat;
static struct zwlr_virtual_pointer_manager_v1 *pointers;
static struct zwlr_virtual_pointer_v1 *hands;
static struct wl_surface *surface;
static struct wl_buffer *buffer;
static int width = 800, height = 600, shownWidth, shownHeight;
static double pointerX, pointerY;
static int ready;

static void draw(void)
{
    if (buffer && width == shownWidth && height == shownHeight) {
        wl_surface_commit(surface);
        return;
    }
    const int stride = width * 4, size = stride * height;
    const int fd = memfd_create("clicks", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0)
        exit(1);
    uint32_t *pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED)
        exit(1);
    for (int i = 0; i < width * height; ++i)
        pixels[i] = 0xff20c040;
    munmap(pixels, size);
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, size);
    if (buffer)
        wl_buffer_destroy(buffer);
    buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, width, height);
    wl_surface_commit(surface);
    shownWidth = width;
    shownHeight = height;
    if (!ready) {
        ready = 1;
        printf("ready\n");
        fflush(stdout);
    }
}

static void surfaceConfigure(void *data, struct xdg_surface *xdgSurface, uint32_t serial)
{
    (void)data;
    xdg_surface_ack_configure(xdgSurface, serial);
    draw();
}

static void toplevelConfigure(void *data, struct xdg_toplevel *toplevel, int32_t w, int32_t h,
                              struct wl_array *states)
{
    (void)data, (void)toplevel, (void)states;
    if (w > 0 && h > 0)
        width = w, height = h;
}

static void toplevelClose(void *data, struct xdg_toplevel *toplevel)
{
    (void)data, (void)toplevel;
    exit(0);
}

static void ping(void *data, struct xdg_wm_base *base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static void enter(void *data, struct wl_pointer *p, uint32_t serial, struct wl_surface *s,
                  wl_fixed_t x, wl_fixed_t y)
{
    (void)data, (void)p, (void)serial, (void)s;
    pointerX = wl_fixed_to_double(x), pointerY = wl_fixed_to_double(y);
}

static void motion(void *data, struct wl_pointer *p, uint32_t time, wl_fixed_t x, wl_fixed_t y)
{
    (void)data, (void)p, (void)time;
    pointerX = wl_fixed_to_double(x), pointerY = wl_fixed_to_double(y);
}

static void button(void *data, struct wl_pointer *p, uint32_t serial, uint32_t time, uint32_t which,
                   uint32_t state)
{
    (void)data, (void)p, (void)serial, (void)time, (void)which;
    if (state == WL_POINTER_BUTTON_STATE_PRESSED) {
        printf("button %d %d\n", (int)pointerX, (int)pointerY);
        fflush(stdout);
    }
}

static void ignoreLeave(void *d, struct wl_pointer *p, uint32_t s, struct wl_surface *f)
{
    (void)d, (void)p, (void)s, (void)f;
}

static void ignoreAxis(void *d, struct wl_pointer *p, uint32_t t, uint32_t a, wl_fixed_t v)
{
    (void)d, (void)p, (void)t, (void)a, (void)v;
}

// The seat is bound at version 1, whose pointers send only these events.
static const struct wl_pointer_listener pointerListener = {
    .enter = enter, .leave = ignoreLeave, .motion = motion, .button = button, .axis = ignoreAxis};

static void capabilities(void *data, struct wl_seat *s, uint32_t caps)
{
    (void)data;
    static struct wl_pointer *pointer;
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !pointer) {
        pointer = wl_seat_get_pointer(s);
        wl_pointer_add_listener(pointer, &pointerListener, NULL);
    }
}

static const struct wl_seat_listener seatListener = {.capabilities = capabilities};
static const struct xdg_wm_base_listener wmListener = {ping};

static void global(void *data, struct wl_registry *registry, uint32_t id, const char *interface,
                   uint32_t version)
{
    (void)data, (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = wl_registry_bind(registry, id, &wl_compositor_interface, 4);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        shm = wl_registry_bind(registry, id, &wl_shm_interface, 1);
    else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wm = wl_registry_bind(registry, id, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm, &wmListener, NULL);
    } else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        pointers = wl_registry_bind(registry, id, &zwlr_virtual_pointer_manager_v1_interface, 1);
    } else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = wl_registry_bind(registry, id, &wl_seat_interface, 1);
        wl_seat_add_listener(seat, &seatListener, NULL);
    }
}

static void globalRemove(void *data, struct wl_registry *registry, uint32_t id)
{
    (void)data, (void)registry, (void)id;
}

static uint32_t now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static void command(const char *line)
{
    int x, y;
    if (sscanf(line, "to %d %d", &x, &y) == 2)
        zwlr_virtual_pointer_v1_motion_absolute(hands, now(), x, y, 1440, 900);
    else if (sscanf(line, "by %d %d", &x, &y) == 2)
        zwlr_virtual_pointer_v1_motion(hands, now(), wl_fixed_from_int(x), wl_fixed_from_int(y));
    else if (strncmp(line, "press", 5) == 0 || strncmp(line, "release", 7) == 0)
        zwlr_virtual_pointer_v1_button(hands, now(), 0x110, line[0] == 'p');
    else
        return;
    zwlr_virtual_pointer_v1_frame(hands);
}

static const struct wl_registry_listener registryListener = {global, globalRemove};
static const struct xdg_surface_listener surfaceListener = {surfaceConfigure};
static const struct xdg_toplevel_listener toplevelListener = {.configure = toplevelConfigure,
                                                              .close = toplevelClose};

int main(void)
{
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "wayland-clicks: no Wayland display\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, NULL);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm || !pointers) {
        fprintf(stderr,
                "wayland-clicks: the compositor lacks xdg-shell, shm or virtual pointers\n");
        return 1;
    }
    hands = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
    surface = wl_compositor_create_surface(compositor);
    struct xdg_surface *xdgSurface = xdg_wm_base_get_xdg_surface(wm, surface);
    xdg_surface_add_listener(xdgSurface, &surfaceListener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xdgSurface);
    xdg_toplevel_add_listener(toplevel, &toplevelListener, NULL);
    xdg_toplevel_set_app_id(toplevel, "bopling-clicks");
    xdg_toplevel_set_title(toplevel, "clicks");
    wl_surface_commit(surface);
    // Unbuffered: each line is read when poll says it came, none waits in stdio.
    setvbuf(stdin, NULL, _IONBF, 0);
    struct pollfd ready[2] = {{wl_display_get_fd(display), POLLIN, 0}, {0, POLLIN, 0}};
    char line[128];
    for (;;) {
        if (wl_display_dispatch_pending(display) < 0 || wl_display_flush(display) < 0)
            return 1;
        if (poll(ready, 2, -1) < 0)
            return 1;
        if ((ready[0].revents & POLLIN) && wl_display_dispatch(display) < 0)
            return 1;
        if (ready[1].revents & (POLLIN | POLLHUP)) {
            if (!fgets(line, sizeof line, stdin))
                return 0;
            command(line);
        }
    }
}
