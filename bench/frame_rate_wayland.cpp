// Counts the distinct pictures a Wayland output shows a second, from outside any program:
// copies the output through wlr screencopy again and again (each copy waits for the output to
// change), hashes every copy and counts the copies that differ from the one before.
// Usage: frame_rate_wayland [SECONDS [OUTPUT]]   (on $WAYLAND_DISPLAY; OUTPUT counts the
// outputs in the order the compositor lists them, from 0, the default)
#include <wayland-client.h>
#include <wlr-screencopy-unstable-v1-client-protocol.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace {

struct Globals {
    wl_shm* shm = nullptr;
    int outputsToPass = 0; // the outputs listed before the one to count
    wl_output* output = nullptr;
    zwlr_screencopy_manager_v1* screencopy = nullptr;
};

void announce(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto& globals = *static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_shm_interface.name) == 0)
        globals.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, wl_output_interface.name) == 0 && !globals.output &&
             globals.outputsToPass-- == 0)
        globals.output =
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
    else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 && version >= 2)
        globals.screencopy = static_cast<zwlr_screencopy_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, 2));
}

void withdraw(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener registryListener{announce, withdraw};

// One copy in progress, into a buffer made at the first offer and kept.
struct Copy {
    wl_shm* shm = nullptr;
    wl_buffer* buffer = nullptr;
    void* pixels = nullptr;
    std::size_t size = 0;
    bool offered = false;
    bool done = false;
    bool failed = false;
};

void offer(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t format, std::uint32_t width,
           std::uint32_t height, std::uint32_t stride) {
    auto& copy = *static_cast<Copy*>(data);
    if (!copy.buffer) {
        copy.size = static_cast<std::size_t>(stride) * height;
        const int file = memfd_create("frame-rate", MFD_CLOEXEC);
        if (file < 0 || ftruncate(file, static_cast<off_t>(copy.size)) != 0)
            std::abort();
        copy.pixels = mmap(nullptr, copy.size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
        wl_shm_pool* const pool =
            wl_shm_create_pool(copy.shm, file, static_cast<std::int32_t>(copy.size));
        copy.buffer = wl_shm_pool_create_buffer(pool, 0, static_cast<std::int32_t>(width),
                                                static_cast<std::int32_t>(height),
                                                static_cast<std::int32_t>(stride), format);
        wl_shm_pool_destroy(pool);
        close(file);
    }
    if (!copy.offered)
        zwlr_screencopy_frame_v1_copy_with_damage(frame, copy.buffer);
    copy.offered = true;
}

constexpr zwlr_screencopy_frame_v1_listener frameListener{
    .buffer = offer,
    .flags = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t) {},
    .ready = [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                std::uint32_t) { static_cast<Copy*>(data)->done = true; },
    .failed =
        [](void* data, zwlr_screencopy_frame_v1*) {
            static_cast<Copy*>(data)->done = static_cast<Copy*>(data)->failed = true;
        },
    .damage = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t,
                 std::uint32_t) {},
    .linux_dmabuf = nullptr,
    .buffer_done = nullptr,
};

std::uint64_t hash(const void* data, std::size_t size) {
    std::uint64_t value = 0xCBF29CE484222325ull;
    const auto* words = static_cast<const std::uint64_t*>(data);
    for (std::size_t i = 0; i < size / 8; ++i)
        value = (value ^ words[i]) * 0x100000001B3ull;
    return value;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    wl_display* const display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no Wayland compositor\n");
        return 3;
    }
    Globals globals;
    globals.outputsToPass = argc > 2 ? std::atoi(argv[2]) : 0;
    wl_registry* const registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_display_roundtrip(display);
    if (!globals.screencopy || !globals.output || !globals.shm) {
        std::fprintf(stderr, "the compositor offers no screencopy (version 2)\n");
        return 3;
    }

    using Clock = std::chrono::steady_clock;
    Copy copy;
    copy.shm = globals.shm;
    std::uint64_t previous = 0;
    long copies = 0;
    long changes = 0;
    const auto start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        copy.offered = copy.done = copy.failed = false;
        zwlr_screencopy_frame_v1* const frame =
            zwlr_screencopy_manager_v1_capture_output(globals.screencopy, 0, globals.output);
        zwlr_screencopy_frame_v1_add_listener(frame, &frameListener, &copy);
        while (!copy.done)
            if (wl_display_dispatch(display) < 0)
                return 3;
        zwlr_screencopy_frame_v1_destroy(frame);
        if (copy.failed)
            continue;
        ++copies;
        const std::uint64_t value = hash(copy.pixels, copy.size);
        if (copies > 1 && value != previous)
            ++changes;
        previous = value;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%.1f distinct pictures a second (%ld changes in %.1f s, %.1f copies a second)\n",
                changes / elapsed, changes, elapsed, copies / elapsed);
    return 0;
}
