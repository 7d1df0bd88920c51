#include "saver/saver_window_wayland.hpp"

#include "saver/picture_wayland.hpp"
#include "saver/saver_session.hpp"
#include "saver/termination_signals_posix.hpp"
#include "saver/wayland_handles_wayland.hpp"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace zorblinth::wayland {

void DisplayDisconnect::operator()(wl_display* display) const {
    wl_display_disconnect(display);
}

DisplayConnection connectToCompositor() {
    return DisplayConnection(wl_display_connect(nullptr));
}

namespace {

using Clock = std::chrono::steady_clock;

// How long the compositor may take to copy the output before the saver starts from black.
constexpr auto capturePatience = std::chrono::seconds(2);

// The globals the saver uses, bound at the versions it speaks.
struct Output {
    Proxy<wl_output> output;
    std::uint32_t name = 0;
    std::int32_t scale = 1;
    std::int32_t pixelWidth = 0; // the current mode, as the hardware scans it out
    std::int32_t pixelHeight = 0;
    std::int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;

    // A quarter turn either way: what the hardware calls width the user sees as height.
    bool sideways() const { return transform % 2 == 1; }
};

struct Globals {
    Proxy<wl_compositor> compositor;
    std::uint32_t compositorVersion = 0;
    Proxy<wl_shm> shm;
    Proxy<wl_seat> seat;
    Proxy<zwlr_layer_shell_v1> layerShell;
    Proxy<xdg_wm_base> windowManager;
    Proxy<zwlr_screencopy_manager_v1> screencopy;
    std::uint32_t screencopyVersion = 0;
    Proxy<wp_viewporter> viewporter;
    std::vector<std::unique_ptr<Output>> outputs;
};

// A wl_shm buffer in a file of its own, mapped for us to write.
class ShmBuffer {
public:
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height,
                                             std::uint32_t format, int strideBytes) {
        const std::size_t size = static_cast<std::size_t>(strideBytes) * height;
        const int file = memfd_create("zorblinth-buffer", MFD_CLOEXEC);
        if (file < 0)
            return nullptr;
        if (ftruncate(file, static_cast<off_t>(size)) != 0) {
            close(file);
            return nullptr;
        }
        void* const data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
        if (data == MAP_FAILED) {
            close(file);
            return nullptr;
        }
        wl_shm_pool* const pool = wl_shm_create_pool(shm, file, static_cast<std::int32_t>(size));
        wl_buffer* const buffer =
            wl_shm_pool_create_buffer(pool, 0, width, height, strideBytes, format);
        wl_shm_pool_destroy(pool);
        close(file);
        return std::unique_ptr<ShmBuffer>(
            new ShmBuffer(buffer, data, size, width, height, strideBytes));
    }

    ~ShmBuffer() {
        wl_buffer_destroy(buffer_);
        munmap(data_, size_);
    }
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    wl_buffer* get() const { return buffer_; }
    std::byte* data() const { return static_cast<std::byte*>(data_); }
    int width() const { return width_; }
    int height() const { return height_; }
    int strideBytes() const { return strideBytes_; }
    // Held by the compositor from a commit until it releases it: not ours to write then.
    bool busy = false;

private:
    ShmBuffer(wl_buffer* buffer, void* data, std::size_t size, int width, int height,
              int strideBytes)
        : buffer_(buffer), data_(data), size_(size), width_(width), height_(height),
          strideBytes_(strideBytes) {
        static constexpr wl_buffer_listener listener{
            .release = [](void* self, wl_buffer*) { static_cast<ShmBuffer*>(self)->busy = false; },
        };
        wl_buffer_add_listener(buffer_, &listener, this);
    }

    wl_buffer* buffer_;
    void* data_;
    std::size_t size_;
    int width_;
    int height_;
    int strideBytes_;
};

// The keyboard's keymap and state as the compositor describes them.
struct Keyboard {
    XkbPointer<xkb_context, xkb_context_unref> context{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    XkbPointer<xkb_keymap, xkb_keymap_unref> keymap;
    XkbPointer<xkb_state, xkb_state_unref> state;

    void useKeymap(std::uint32_t format, int file, std::uint32_t size) {
        state.reset();
        keymap.reset();
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && context && size > 0) {
            void* const text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file, 0);
            if (text != MAP_FAILED) {
                keymap.reset(xkb_keymap_new_from_buffer(
                    context.get(), static_cast<const char*>(text),
                    strnlen(static_cast<const char*>(text), size), XKB_KEYMAP_FORMAT_TEXT_V1,
                    XKB_KEYMAP_COMPILE_NO_FLAGS));
                munmap(text, size);
            }
        }
        close(file);
        if (keymap)
            state.reset(xkb_state_new(keymap.get()));
    }

    // What a key going down types, and whether Alt is held; a key typing nothing without a
    // keymap.
    InputEvent keyDown(std::uint32_t linuxKeyCode) const {
        if (!state)
            return {InputKind::key};
        const xkb_keycode_t code = linuxKeyCode + 8; // evdev codes start at 8 in XKB
        return {InputKind::key,
                {},
                xkb_state_key_get_utf32(state.get(), code),
                xkb_state_mod_name_is_active(state.get(), XKB_MOD_NAME_ALT,
                                             XKB_STATE_MODS_EFFECTIVE) > 0};
    }
};

// A copy of one output's picture through wlr screencopy.
struct Capture {
    Proxy<zwlr_screencopy_frame_v1> frame;
    std::uint32_t version = 1;
    wl_shm* shm = nullptr;
    std::optional<std::uint32_t> shmFormat;
    PixelFormat format;
    int width = 0;
    int height = 0;
    int strideBytes = 0;
    std::unique_ptr<ShmBuffer> buffer;
    bool yInverted = false;
    bool done = false;
    bool succeeded = false;

    void copy() {
        if (!shmFormat || width <= 0 || height <= 0) {
            finish(false);
            return;
        }
        buffer = ShmBuffer::create(shm, width, height, *shmFormat, strideBytes);
        if (!buffer) {
            finish(false);
            return;
        }
        zwlr_screencopy_frame_v1_copy(frame.get(), buffer->get());
    }
    void finish(bool success) {
        done = true;
        succeeded = success;
    }
};

constexpr zwlr_screencopy_frame_v1_listener captureListener{
    .buffer =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
           std::uint32_t height, std::uint32_t stride) {
            auto& capture = *static_cast<Capture*>(data);
            const auto pixels = capturedPixelFormat(format);
            const bool usable = pixels && width > 0 && height > 0 &&
                                stride >= std::uint64_t{width} * 4 &&
                                std::uint64_t{stride} * height <= INT32_MAX;
            if (capture.shmFormat || !usable) {
                if (capture.version < 3 && !capture.shmFormat) // the only offer: no copy
                    capture.finish(false);
                return;
            }
            capture.shmFormat = format;
            capture.format = *pixels;
            capture.width = static_cast<int>(width);
            capture.height = static_cast<int>(height);
            capture.strideBytes = static_cast<int>(stride);
            if (capture.version < 3) // no buffer_done before version 3: this is the offer
                capture.copy();
        },
    .flags =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
            static_cast<Capture*>(data)->yInverted =
                (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
        },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                std::uint32_t) { static_cast<Capture*>(data)->finish(true); },
    .failed = [](void* data,
                 zwlr_screencopy_frame_v1*) { static_cast<Capture*>(data)->finish(false); },
    .damage = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t,
                 std::uint32_t) {},
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                       std::uint32_t) {},
    .buffer_done = [](void* data,
                      zwlr_screencopy_frame_v1*) { static_cast<Capture*>(data)->copy(); },
};

// What lives across the events of one saver run.
struct SaverWindow {
    wl_display* display = nullptr;
    Globals globals;
    posix::TerminationSignals* signals = nullptr;
    std::optional<SaverSession> session;
    Output* output = nullptr; // where the saver shows, when the compositor named one

    Proxy<wl_surface> surface;
    Proxy<zwlr_layer_surface_v1> layerSurface;
    Proxy<xdg_surface> windowSurface;
    Proxy<xdg_toplevel> toplevel;
    Proxy<wp_viewport> viewport;
    Proxy<wl_pointer> pointer;
    Proxy<wl_keyboard> keyboard;
    // What the surface shows while the output is copied: nothing.
    std::unique_ptr<ShmBuffer> seeThrough;
    Keyboard keys;

    // The surface's size in the compositor's logical pixels, from the last configure.
    int surfaceWidth = 0;
    int surfaceHeight = 0;
    bool configured = false;
    std::optional<std::uint32_t> configureToAck;

    // The persistent picture; what is on screen is a copy in one of the buffers.
    std::vector<std::uint32_t> pixels;
    PixelSurface picture;
    std::array<std::unique_ptr<ShmBuffer>, 2> buffers;

    bool pointerEntered = false;
    bool closed = false;
    bool lost = false;

    bool ending() const {
        return closed || lost || signals->requested() || (session && session->ended());
    }

    void take(const InputEvent& event) {
        if (session)
            session->take(event);
    }

    int scale() const { return output ? output->scale : 1; }
    bool sideways() const { return output && output->sideways(); }

    // The picture's size as the user sees it on the surface: the picture is kept the way the
    // output's hardware scans it out (as the compositor copies it), turned where the output is.
    int shownWidth() const { return sideways() ? picture.height : picture.width; }
    int shownHeight() const { return sideways() ? picture.width : picture.height; }

    // Where the pointer is in the output's pixels, as the user sees them; before the picture
    // exists (the pointer may enter while the output is copied), where it will be.
    Point pointerPixel(wl_fixed_t x, wl_fixed_t y) const {
        const int width = picture.width > 0 ? shownWidth() : surfaceWidth * scale();
        const int height = picture.height > 0 ? shownHeight() : surfaceHeight * scale();
        return picturePixel(wl_fixed_to_double(x), wl_fixed_to_double(y), surfaceWidth,
                            surfaceHeight, width, height);
    }
};

// --- the compositor's events -----------------------------------------------------------------

constexpr wl_output_listener outputListener{
    .geometry = [](void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t, const char*, const char*,
                   std::int32_t transform) { static_cast<Output*>(data)->transform = transform; },
    .mode =
        [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
            if ((flags & WL_OUTPUT_MODE_CURRENT) == 0)
                return;
            auto& output = *static_cast<Output*>(data);
            output.pixelWidth = width;
            output.pixelHeight = height;
        },
    .done = [](void*, wl_output*) {},
    .scale = [](void* data, wl_output*,
                std::int32_t factor) { static_cast<Output*>(data)->scale = std::max(factor, 1); },
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

constexpr wl_pointer_listener pointerListener{
    .enter =
        [](void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface*, wl_fixed_t x,
           wl_fixed_t y) {
            auto& window = *static_cast<SaverWindow*>(data);
            // No cursor over the saver.
            wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
            window.pointerEntered = true;
            window.take({InputKind::mouseMove, window.pointerPixel(x, y)});
        },
    .leave = [](void*, wl_pointer*, std::uint32_t, wl_surface*) {},
    .motion =
        [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
            auto& window = *static_cast<SaverWindow*>(data);
            window.take({InputKind::mouseMove, window.pointerPixel(x, y)});
        },
    .button =
        [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t,
           std::uint32_t state) {
            if (state == WL_POINTER_BUTTON_STATE_PRESSED)
                static_cast<SaverWindow*>(data)->take({InputKind::mouseButton});
        },
    .axis = [](void* data, wl_pointer*, std::uint32_t, std::uint32_t,
               wl_fixed_t) { static_cast<SaverWindow*>(data)->take({InputKind::wheel}); },
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    .axis_value120 = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

constexpr wl_keyboard_listener keyboardListener{
    .keymap =
        [](void* data, wl_keyboard*, std::uint32_t format, std::int32_t file, std::uint32_t size) {
            static_cast<SaverWindow*>(data)->keys.useKeymap(format, file, size);
        },
    // Keys already down when the saver took the keyboard were pressed before it: not a sign.
    .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
           std::uint32_t state) {
            auto& window = *static_cast<SaverWindow*>(data);
            if (state == WL_KEYBOARD_KEY_STATE_PRESSED)
                window.take(window.keys.keyDown(key));
        },
    .modifiers =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
           std::uint32_t locked, std::uint32_t group) {
            auto& keys = static_cast<SaverWindow*>(data)->keys;
            if (keys.state)
                xkb_state_update_mask(keys.state.get(), depressed, latched, locked, 0, 0, group);
        },
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

constexpr wl_seat_listener seatListener{
    .capabilities =
        [](void* data, wl_seat* seat, std::uint32_t capabilities) {
            auto& window = *static_cast<SaverWindow*>(data);
            const bool hasPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
            const bool hasKeyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
            if (hasPointer && !window.pointer) {
                window.pointer.reset(wl_seat_get_pointer(seat));
                wl_pointer_add_listener(window.pointer.get(), &pointerListener, &window);
            } else if (!hasPointer) {
                window.pointer.reset();
            }
            if (hasKeyboard && !window.keyboard) {
                window.keyboard.reset(wl_seat_get_keyboard(seat));
                wl_keyboard_add_listener(window.keyboard.get(), &keyboardListener, &window);
            } else if (!hasKeyboard) {
                window.keyboard.reset();
            }
        },
    .name = [](void*, wl_seat*, const char*) {},
};

template <typename Interface>
Interface* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface,
                std::uint32_t offered, std::uint32_t wanted) {
    return static_cast<Interface*>(
        wl_registry_bind(registry, name, &interface, std::min(offered, wanted)));
}

void announce(void* data, wl_registry* registry, std::uint32_t name, const char* interfaceName,
              std::uint32_t version) {
    auto& window = *static_cast<SaverWindow*>(data);
    Globals& globals = window.globals;
    const std::string_view interface = interfaceName;
    if (interface == wl_compositor_interface.name && !globals.compositor) {
        globals.compositorVersion = std::min(version, 4u);
        globals.compositor.reset(
            bind<wl_compositor>(registry, name, wl_compositor_interface, version, 4));
    } else if (interface == wl_shm_interface.name && !globals.shm) {
        globals.shm.reset(bind<wl_shm>(registry, name, wl_shm_interface, version, 1));
    } else if (interface == wl_seat_interface.name && !globals.seat) {
        globals.seat.reset(bind<wl_seat>(registry, name, wl_seat_interface, version, 5));
        wl_seat_add_listener(globals.seat.get(), &seatListener, &window);
    } else if (interface == wl_output_interface.name) {
        auto output = std::make_unique<Output>();
        output->name = name;
        output->output.reset(bind<wl_output>(registry, name, wl_output_interface, version, 3));
        wl_output_add_listener(output->output.get(), &outputListener, output.get());
        globals.outputs.push_back(std::move(output));
    } else if (interface == zwlr_layer_shell_v1_interface.name && !globals.layerShell) {
        globals.layerShell.reset(
            bind<zwlr_layer_shell_v1>(registry, name, zwlr_layer_shell_v1_interface, version, 4));
    } else if (interface == xdg_wm_base_interface.name && !globals.windowManager) {
        globals.windowManager.reset(
            bind<xdg_wm_base>(registry, name, xdg_wm_base_interface, version, 2));
        static constexpr xdg_wm_base_listener pong{
            .ping = [](void*, xdg_wm_base* base,
                       std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
        };
        xdg_wm_base_add_listener(globals.windowManager.get(), &pong, nullptr);
    } else if (interface == zwlr_screencopy_manager_v1_interface.name && !globals.screencopy) {
        globals.screencopyVersion = std::min(version, 3u);
        globals.screencopy.reset(bind<zwlr_screencopy_manager_v1>(
            registry, name, zwlr_screencopy_manager_v1_interface, version, 3));
    } else if (interface == wp_viewporter_interface.name && !globals.viewporter) {
        globals.viewporter.reset(
            bind<wp_viewporter>(registry, name, wp_viewporter_interface, version, 1));
    }
}

// An output taken away: the saver on it has nothing left to cover.
void withdraw(void* data, wl_registry*, std::uint32_t name) {
    auto& window = *static_cast<SaverWindow*>(data);
    auto& outputs = window.globals.outputs;
    const auto gone = std::find_if(outputs.begin(), outputs.end(),
                                   [name](const auto& o) { return o->name == name; });
    if (gone == outputs.end())
        return;
    if (gone->get() == window.output)
        window.closed = true;
    else
        outputs.erase(gone);
}

constexpr wl_registry_listener registryListener{.global = announce, .global_remove = withdraw};

constexpr zwlr_layer_surface_v1_listener layerSurfaceListener{
    .configure =
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
            auto& window = *static_cast<SaverWindow*>(data);
            window.surfaceWidth = static_cast<int>(width);
            window.surfaceHeight = static_cast<int>(height);
            window.configureToAck = serial;
            window.configured = true;
        },
    .closed = [](void* data,
                 zwlr_layer_surface_v1*) { static_cast<SaverWindow*>(data)->closed = true; },
};

constexpr xdg_surface_listener windowSurfaceListener{
    .configure =
        [](void* data, xdg_surface*, std::uint32_t serial) {
            auto& window = *static_cast<SaverWindow*>(data);
            window.configureToAck = serial;
            window.configured = true;
        },
};

constexpr xdg_toplevel_listener toplevelListener{
    .configure =
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
            auto& window = *static_cast<SaverWindow*>(data);
            if (width > 0 && height > 0) { // zero: ours to choose
                window.surfaceWidth = width;
                window.surfaceHeight = height;
            }
        },
    .close = [](void* data, xdg_toplevel*) { static_cast<SaverWindow*>(data)->closed = true; },
    .configure_bounds = [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {},
};

// --- talking to the compositor ---------------------------------------------------------------

void noteLostConnection(SaverWindow& window) {
    if (!window.lost && wl_display_get_error(window.display) != 0)
        window.lost = true;
}

void dispatchPending(SaverWindow& window) {
    if (wl_display_dispatch_pending(window.display) < 0)
        window.lost = true;
    noteLostConnection(window);
}

// Sends what we asked, waits up to `timeout` (forever when negative) for the compositor or a
// signal, and handles whatever arrived.
void waitForEvents(SaverWindow& window, int timeoutMilliseconds) {
    wl_display* const display = window.display;
    while (wl_display_prepare_read(display) != 0) {
        dispatchPending(window);
        if (window.lost)
            return;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        window.lost = true;
        return;
    }
    std::array<pollfd, 2> waits{
        {{wl_display_get_fd(display), POLLIN, 0}, {window.signals->wakeFd(), POLLIN, 0}}};
    const nfds_t count = waits[1].fd >= 0 ? 2 : 1;
    if (poll(waits.data(), count, timeoutMilliseconds) > 0 && waits[0].revents != 0) {
        if (wl_display_read_events(display) < 0)
            window.lost = true;
    } else {
        wl_display_cancel_read(display);
    }
    dispatchPending(window);
}

// Asked now and then by a long tick: handles input that has arrived, and says whether the saver
// is ending, so that the rest of the tick, which nobody would see, is not drawn.
bool endingInputArrived(SaverWindow& window) {
    if (window.ending())
        return true;
    waitForEvents(window, 0);
    return window.ending();
}

// Waits until `done` or the saver is ending, at most `patience`.
template <typename Condition>
bool waitUntil(SaverWindow& window, Clock::duration patience, Condition done) {
    const auto deadline = Clock::now() + patience;
    while (!done() && !window.ending()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return false;
        waitForEvents(window,
                      static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
    return done();
}

bool roundTrip(SaverWindow& window) {
    if (wl_display_roundtrip(window.display) < 0)
        window.lost = true;
    return !window.lost;
}

// The output's picture as the compositor shows it, without the cursor; empty where the
// compositor offers no copy or the copy fails.
std::optional<Capture> captureOutput(SaverWindow& window) {
    if (!window.globals.screencopy || !window.output)
        return std::nullopt;
    auto capture = std::make_optional<Capture>();
    capture->version = window.globals.screencopyVersion;
    capture->shm = window.globals.shm.get();
    capture->frame.reset(zwlr_screencopy_manager_v1_capture_output(window.globals.screencopy.get(),
                                                                   0, window.output->output.get()));
    zwlr_screencopy_frame_v1_add_listener(capture->frame.get(), &captureListener, &*capture);
    if (!waitUntil(window, capturePatience, [&] { return capture->done; }) || !capture->succeeded)
        return std::nullopt;
    return capture;
}

// Shows a copy of the picture in a buffer the compositor does not hold. With none free the
// frame is dropped: the next one shows everything drawn since.
void present(SaverWindow& window) {
    const auto free = std::find_if(window.buffers.begin(), window.buffers.end(),
                                   [](const auto& buffer) { return buffer && !buffer->busy; });
    if (free == window.buffers.end())
        return;
    ShmBuffer& buffer = **free;
    const PixelSurface& picture = window.picture;
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(buffer.data() + static_cast<std::ptrdiff_t>(y) * buffer.strideBytes(),
                    picture.row(y), sizeof(std::uint32_t) * picture.width);
    wl_surface* const surface = window.surface.get();
    wl_surface_attach(surface, buffer.get(), 0, 0);
    if (window.globals.compositorVersion >= 4)
        wl_surface_damage_buffer(surface, 0, 0, picture.width, picture.height);
    else
        wl_surface_damage(surface, 0, 0, window.surfaceWidth, window.surfaceHeight);
    wl_surface_commit(surface);
    buffer.busy = true;
    wl_display_flush(window.display);
}

// Fits the picture onto the surface: 1:1 in the output's pixels, through the viewporter or an
// integer buffer scale.
void scalePicture(SaverWindow& window) {
    if (window.output && window.globals.compositorVersion >= 2)
        wl_surface_set_buffer_transform(window.surface.get(), window.output->transform);
    const int scale = window.scale();
    const int width = window.shownWidth();
    const int height = window.shownHeight();
    if (width == window.surfaceWidth && height == window.surfaceHeight) {
        if (window.viewport)
            wp_viewport_set_destination(window.viewport.get(), -1, -1);
        return;
    }
    if (window.viewport) {
        wp_viewport_set_destination(window.viewport.get(), window.surfaceWidth,
                                    window.surfaceHeight);
    } else if (window.globals.compositorVersion >= 3 && width == window.surfaceWidth * scale &&
               height == window.surfaceHeight * scale) {
        wl_surface_set_buffer_scale(window.surface.get(), scale);
    }
}

void ackConfigure(SaverWindow& window) {
    if (!window.configureToAck)
        return;
    if (window.layerSurface)
        zwlr_layer_surface_v1_ack_configure(window.layerSurface.get(), *window.configureToAck);
    else
        xdg_surface_ack_configure(window.windowSurface.get(), *window.configureToAck);
    window.configureToAck.reset();
}

bool xdgShellForced() {
    const char* const shell = std::getenv("ZORBLINTH_WAYLAND_SHELL");
    return shell != nullptr && std::string_view(shell) == "xdg";
}

// The saver's surface, in the overlay layer on all four edges of its output, or else a
// full-screen window, not yet showing anything.
bool createSurface(SaverWindow& window) {
    Globals& globals = window.globals;
    window.surface.reset(wl_compositor_create_surface(globals.compositor.get()));
    if (globals.viewporter)
        window.viewport.reset(
            wp_viewporter_get_viewport(globals.viewporter.get(), window.surface.get()));
    wl_output* const output = window.output ? window.output->output.get() : nullptr;
    if (globals.layerShell && !xdgShellForced()) {
        window.layerSurface.reset(zwlr_layer_shell_v1_get_layer_surface(
            globals.layerShell.get(), window.surface.get(), output,
            ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "zorblinth"));
        zwlr_layer_surface_v1* const layer = window.layerSurface.get();
        zwlr_layer_surface_v1_add_listener(layer, &layerSurfaceListener, &window);
        zwlr_layer_surface_v1_set_anchor(
            layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(layer, 0, 0);
        // -1: over panels too, whatever room they keep for themselves.
        zwlr_layer_surface_v1_set_exclusive_zone(layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    } else if (globals.windowManager) {
        window.windowSurface.reset(
            xdg_wm_base_get_xdg_surface(globals.windowManager.get(), window.surface.get()));
        xdg_surface_add_listener(window.windowSurface.get(), &windowSurfaceListener, &window);
        window.toplevel.reset(xdg_surface_get_toplevel(window.windowSurface.get()));
        xdg_toplevel* const toplevel = window.toplevel.get();
        xdg_toplevel_add_listener(toplevel, &toplevelListener, &window);
        xdg_toplevel_set_title(toplevel, std::string(saverWindowTitle).c_str());
        xdg_toplevel_set_app_id(toplevel, "zorblinth");
        xdg_toplevel_set_fullscreen(toplevel, output);
    } else {
        return false;
    }
    wl_surface_commit(window.surface.get()); // no buffer yet: asks for the first configure
    return true;
}

// The picture's size in pixels: the captured frame's, else the surface's in the output's pixels.
void makePicture(SaverWindow& window, const std::optional<Capture>& capture) {
    int width = 0;
    int height = 0;
    if (capture) {
        width = capture->width;
        height = capture->height;
    } else {
        width = window.surfaceWidth * window.scale();
        height = window.surfaceHeight * window.scale();
        if (window.sideways())
            std::swap(width, height);
    }
    window.pixels.assign(static_cast<std::size_t>(width) * height, 0);
    window.picture = {window.pixels.data(), width, height, width, xrgbPixels};
    if (capture)
        copyCapturedFrame({capture->buffer->data(), capture->width, capture->height,
                           capture->strideBytes, capture->format, capture->yInverted},
                          window.picture);
}

bool makeBuffers(SaverWindow& window) {
    for (auto& buffer : window.buffers) {
        buffer =
            ShmBuffer::create(window.globals.shm.get(), window.picture.width, window.picture.height,
                              WL_SHM_FORMAT_XRGB8888, window.picture.width * 4);
        if (!buffer)
            return false;
    }
    return true;
}

// Waits for the compositor to show a frame with what was committed, at most `patience`.
void commitAndWaitForFrame(SaverWindow& window, Clock::duration patience) {
    bool shown = false;
    static constexpr wl_callback_listener listener{
        .done = [](void* shown, wl_callback*, std::uint32_t) { *static_cast<bool*>(shown) = true; },
    };
    const Proxy<wl_callback> frame(wl_surface_frame(window.surface.get()));
    wl_callback_add_listener(frame.get(), &listener, &shown);
    wl_surface_commit(window.surface.get());
    waitUntil(window, patience, [&] { return shown; });
}

// Shows the saver's surface fully transparent, so that the compositor hands it the keyboard
// and the pointer, and the cursor is hidden before the output is copied: a compositor that
// draws the cursor into the output's picture (sway with a software cursor) would otherwise
// freeze it into ours.
void showSeeThrough(SaverWindow& window) {
    window.seeThrough = ShmBuffer::create(window.globals.shm.get(), window.surfaceWidth,
                                          window.surfaceHeight, WL_SHM_FORMAT_ARGB8888,
                                          window.surfaceWidth * 4); // all zero: transparent
    if (!window.seeThrough)
        return;
    wl_surface_attach(window.surface.get(), window.seeThrough->get(), 0, 0);
    wl_surface_damage(window.surface.get(), 0, 0, window.surfaceWidth, window.surfaceHeight);
    commitAndWaitForFrame(window, std::chrono::seconds(1));
    // The pointer enters with that frame, or once a window has been made full-screen, and the
    // saver asks at once for no cursor; one more frame shows the output without it. A pointer
    // on another output never enters.
    waitUntil(window, std::chrono::milliseconds(500), [&] { return window.pointerEntered; });
    ackConfigure(window);
    roundTrip(window);
    commitAndWaitForFrame(window, std::chrono::milliseconds(200));
}

// Ticks on the schedule and handles the compositor's events between ticks until the saver ends.
void runEventLoop(SaverWindow& window) {
    TickSchedule schedule(Clock::now());
    while (!window.ending()) {
        if (window.configureToAck) {
            ackConfigure(window);
            scalePicture(window);
            present(window);
        }
        const auto now = Clock::now();
        if (schedule.due(now)) {
            window.session->tick(window.picture, [&window] { return endingInputArrived(window); });
            if (window.ending())
                break;
            present(window);
            schedule.ticked(Clock::now());
            // A tick that ran late is followed at once by the next: what the compositor sent
            // meanwhile (a buffer back, input) is taken first.
            if (schedule.due(Clock::now()))
                waitForEvents(window, 0);
            continue;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(schedule.untilNext(now));
        waitForEvents(window, static_cast<int>(wait.count()));
    }
}

SaverOutcome fail(std::string_view why) {
    std::cerr << "zorblinth: " << why << '\n';
    return SaverOutcome::windowSystemFailed;
}

SaverOutcome connectionLost(wl_display* display) {
    const int error = wl_display_get_error(display);
    std::cerr << "zorblinth: lost the connection to the Wayland compositor ("
              << std::strerror(error != 0 ? error : EPIPE) << ")\n";
    return SaverOutcome::windowSystemFailed;
}

} // namespace

SaverOutcome runStandaloneSaver(DisplayConnection compositor, const SaverSettings& settings,
                                MonitorChoice /*outputs*/) {
    posix::TerminationSignals signals;

    SaverWindow window;
    window.display = compositor.get();
    window.signals = &signals;
    const Proxy<wl_registry> registry(wl_display_get_registry(window.display));
    wl_registry_add_listener(registry.get(), &registryListener, &window);
    // The globals, then what they tell at once: outputs' modes and scales, the seat's devices.
    if (!roundTrip(window) || !roundTrip(window))
        return connectionLost(window.display);
    const Globals& globals = window.globals;
    if (!globals.compositor || !globals.shm)
        return fail("the Wayland compositor offers no surfaces in shared memory");
    if (!globals.layerShell && !globals.windowManager)
        return fail("the Wayland compositor offers neither layer shell nor xdg-shell");
    // With several outputs the saver covers the first (the compositor's choice would be known
    // only once the surface shows, too late for its picture).
    if (!globals.outputs.empty())
        window.output = globals.outputs.front().get();

    window.session.emplace(std::nullopt, settings);

    // The copy must not contain the saver. In the overlay layer it is taken through the
    // saver's transparent surface, without the cursor; a full-screen window is shown only
    // once it has its picture, since compositors put black behind one.
    const bool copyThroughSurface = globals.layerShell && globals.screencopy && !xdgShellForced();
    std::optional<Capture> capture;
    if (!copyThroughSurface)
        capture = captureOutput(window);
    if (!createSurface(window))
        return fail("cannot create the saver's surface");
    waitUntil(window, std::chrono::hours(1), [&] { return window.configured; });
    if (window.lost)
        return connectionLost(window.display);
    if (window.ending())
        return SaverOutcome::ended;
    if (window.surfaceWidth <= 0 || window.surfaceHeight <= 0) {
        // A window left to size itself: the output's size, or the captured picture's.
        int width = capture ? capture->width : (window.output ? window.output->pixelWidth : 0);
        int height = capture ? capture->height : (window.output ? window.output->pixelHeight : 0);
        if (window.sideways())
            std::swap(width, height);
        window.surfaceWidth = width / window.scale();
        window.surfaceHeight = height / window.scale();
    }
    if (window.surfaceWidth <= 0 || window.surfaceHeight <= 0)
        return fail("the Wayland compositor gave the saver no size");
    ackConfigure(window);
    if (copyThroughSurface) {
        showSeeThrough(window);
        capture = captureOutput(window);
        if (window.lost)
            return connectionLost(window.display);
        if (window.ending())
            return SaverOutcome::ended;
    }
    makePicture(window, capture);
    if (!makeBuffers(window))
        return fail("cannot make shared-memory buffers for the saver's picture");
    scalePicture(window);
    present(window);

    runEventLoop(window);
    if (window.lost)
        return connectionLost(window.display);
    return SaverOutcome::ended;
}

} // namespace zorblinth::wayland
