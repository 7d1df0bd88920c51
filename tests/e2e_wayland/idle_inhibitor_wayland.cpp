// A video player as the compositor sees it: a small window holding zwp_idle_inhibitor_v1 on its
// surface. Prints "ready" once the window is shown with the inhibitor made; drops both and
// ends when standard input ends.
#include <idle-inhibit-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <xdg-shell-client-protocol.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int side = 64;

struct Globals {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
    zwp_idle_inhibit_manager_v1* inhibitors = nullptr;
    bool configured = false;
};

void announce(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
    auto& globals = *static_cast<Globals*>(data);
    const auto bind = [&](const wl_interface& type, std::uint32_t version) {
        return wl_registry_bind(registry, name, &type, version);
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        globals.compositor = static_cast<wl_compositor*>(bind(wl_compositor_interface, 1));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        globals.shm = static_cast<wl_shm*>(bind(wl_shm_interface, 1));
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
        globals.shell = static_cast<xdg_wm_base*>(bind(xdg_wm_base_interface, 1));
    else if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0)
        globals.inhibitors = static_cast<zwp_idle_inhibit_manager_v1*>(
            bind(zwp_idle_inhibit_manager_v1_interface, 1));
}

void withdraw(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener registryListener{announce, withdraw};

void ping(void*, xdg_wm_base* shell, std::uint32_t serial) {
    xdg_wm_base_pong(shell, serial);
}
constexpr xdg_wm_base_listener shellListener{ping};

void configure(void* data, xdg_surface* surface, std::uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    static_cast<Globals*>(data)->configured = true;
}
constexpr xdg_surface_listener surfaceListener{configure};

// A grey square in shared memory.
wl_buffer* greySquare(wl_shm* shm) {
    const int size = side * side * 4;
    const int memory = memfd_create("inhibitor", MFD_CLOEXEC);
    if (memory < 0 || ftruncate(memory, size) != 0)
        return nullptr;
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    if (pixels == MAP_FAILED)
        return nullptr;
    std::memset(pixels, 0x80, size);
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(shm, memory, size);
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, side, side, side * 4, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(memory);
    return buffer;
}

} // namespace

int main() {
    wl_display* const display = wl_display_connect(nullptr);
    if (!display) {
        std::cerr << "no compositor\n";
        return 3;
    }
    Globals globals;
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &globals);
    wl_display_roundtrip(display);
    if (!globals.compositor || !globals.shm || !globals.shell || !globals.inhibitors) {
        std::cerr << "the compositor lacks a global this needs\n";
        return 3;
    }
    xdg_wm_base_add_listener(globals.shell, &shellListener, nullptr);
    wl_surface* const surface = wl_compositor_create_surface(globals.compositor);
    xdg_surface* const shellSurface = xdg_wm_base_get_xdg_surface(globals.shell, surface);
    xdg_surface_add_listener(shellSurface, &surfaceListener, &globals);
    xdg_toplevel* const toplevel = xdg_surface_get_toplevel(shellSurface);
    xdg_toplevel_set_title(toplevel, "inhibitor");
    wl_surface_commit(surface);
    while (!globals.configured && wl_display_dispatch(display) >= 0) {
    }
    zwp_idle_inhibitor_v1* const inhibitor =
        zwp_idle_inhibit_manager_v1_create_inhibitor(globals.inhibitors, surface);
    wl_surface_attach(surface, greySquare(globals.shm), 0, 0);
    wl_surface_commit(surface);
    wl_display_roundtrip(display);
    std::puts("ready");
    std::fflush(stdout);

    // Until standard input ends, answering the compositor's pings meanwhile.
    pollfd watched[2] = {{0, POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
    char line[64];
    for (;;) {
        wl_display_flush(display);
        if (poll(watched, 2, -1) < 0)
            break;
        if (watched[0].revents != 0 && read(0, line, sizeof line) <= 0)
            break;
        if (watched[1].revents != 0 && wl_display_dispatch(display) < 0)
            break;
    }
    zwp_idle_inhibitor_v1_destroy(inhibitor);
    xdg_toplevel_destroy(toplevel);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
