// A mouse for a headless wlroots compositor, which has none: a virtual
// pointer (wlr-virtual-pointer-unstable-v1) that moves to each "X Y" line of
// standard input (layout pixels of a 1440 x 900 output), and lives until
// standard input ends. The compositor's own commands may move and click it too.
#include <wayland-client.h>

#include <stdio.h>
#include <string.h>

// The protocol's interfaces, written out: no package here ships its XML. A
// request's number is its place in the protocol.
static const struct wl_interface pointerInterface;
static const struct wl_interface *noTypes[5];
static const struct wl_interface *createTypes[] = {&wl_seat_interface, &pointerInterface};
static const struct wl_message managerRequests[] = {{"create_virtual_pointer", "?on", createTypes}};
static const struct wl_interface managerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 1, managerRequests, 0, NULL};
static const struct wl_message pointerRequests[] = {{"motion", "uff", noTypes},
                                                    {"motion_absolute", "uuuuu", noTypes},
                                                    {"button", "uuu", noTypes},
                                                    {"axis", "uuf", noTypes},
                                                    {"frame", "", noTypes}};
static const struct wl_interface pointerInterface = {"zwlr_virtual_pointer_v1", 1, 5,
                                                     pointerRequests,           0, NULL};
enum { kMotionAbsolute = 1, kFrame = 4 };

static struct wl_seat *seat;
static struct wl_proxy *manager;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version)
{
    (void)data, (void)version;
    if (strcmp(interface, "wl_seat") == 0)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, managerInterface.name) == 0)
        manager = wl_registry_bind(registry, name, &managerInterface, 1);
}

static void globalRemove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

int main(void)
{
    static const struct wl_registry_listener listener = {global, globalRemove};
    struct wl_display *display = wl_display_connect(NULL);
    if (display) {
        wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
        wl_display_roundtrip(display);
    }
    if (!seat || !manager) {
        fprintf(stderr, "virtual-pointer: no Wayland display with virtual pointers\n");
        return 1;
    }
    struct wl_proxy *pointer =
        wl_proxy_marshal_constructor(manager, 0, &pointerInterface, seat, NULL);
    wl_display_roundtrip(display);
    char line[128];
    unsigned x, y, time = 0;
    while (fgets(line, sizeof line, stdin)) {
        if (sscanf(line, "%u %u", &x, &y) != 2)
            continue;
        wl_proxy_marshal(pointer, kMotionAbsolute, time += 10, x, y, 1440u, 900u);
        wl_proxy_marshal(pointer, kFrame);
        wl_display_roundtrip(display);
    }
    wl_display_disconnect(display);
    return 0;
}
