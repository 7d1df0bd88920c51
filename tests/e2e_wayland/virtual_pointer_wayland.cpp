// A pointer for tests on a compositor without input devices: one virtual pointer for the whole
// session, driven by lines on standard input, each answered with "ok" once the compositor has
// taken it:
//   to X Y [W H]   move to (X, Y) on an output layout of W x H, or of the size given on the
//                  command line (the compositor maps it onto its layout's bounding box, so
//                  with several outputs the size has to be the whole layout's)
//   move DX DY     move by (DX, DY)
//   press CODE     a button down (Linux event code: 272 left, 273 right, 274 middle)
//   release CODE   the button up
//   wheel STEPS    turn the vertical wheel (negative: up)
// Usage: zorblinth_virtual_pointer_wayland WIDTH HEIGHT
#include <wayland-client.h>
#include <wlr-virtual-pointer-unstable-v1-client-protocol.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void announce(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
    auto& globals = *static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals.seat)
        globals.seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        globals.manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void withdraw(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener registryListener{announce, withdraw};

std::uint32_t milliseconds() {
    static std::uint32_t clock = 0;
    return clock += 10;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " WIDTH HEIGHT\n";
        return 64;
    }
    const auto width = static_cast<std::uint32_t>(std::atoi(argv[1]));
    const auto height = static_cast<std::uint32_t>(std::atoi(argv[2]));
    wl_display* const display = wl_display_connect(nullptr);
    if (!display) {
        std::cerr << "no Wayland compositor\n";
        return 3;
    }
    Globals globals;
    wl_registry* const registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_display_roundtrip(display);
    if (!globals.manager) {
        std::cerr << "the compositor offers no virtual pointers\n";
        return 3;
    }
    zwlr_virtual_pointer_v1* const pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
    wl_display_roundtrip(display);
    std::cout << "ready" << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        long a = 0;
        long b = 0;
        words >> command >> a >> b;
        long extentWidth = 0;
        long extentHeight = 0;
        if (!(words >> extentWidth >> extentHeight) || extentWidth <= 0 || extentHeight <= 0) {
            extentWidth = width;
            extentHeight = height;
        }
        const std::uint32_t time = milliseconds();
        if (command == "to") {
            zwlr_virtual_pointer_v1_motion_absolute(
                pointer, time, static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b),
                static_cast<std::uint32_t>(extentWidth), static_cast<std::uint32_t>(extentHeight));
        } else if (command == "move") {
            zwlr_virtual_pointer_v1_motion(pointer, time, wl_fixed_from_int(static_cast<int>(a)),
                                           wl_fixed_from_int(static_cast<int>(b)));
        } else if (command == "press" || command == "release") {
            zwlr_virtual_pointer_v1_button(pointer, time, static_cast<std::uint32_t>(a),
                                           command == "press" ? WL_POINTER_BUTTON_STATE_PRESSED
                                                              : WL_POINTER_BUTTON_STATE_RELEASED);
        } else if (command == "wheel") {
            zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(pointer, time, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                                  wl_fixed_from_int(static_cast<int>(a) * 15),
                                                  static_cast<std::int32_t>(a));
        } else {
            std::cout << "unknown command" << std::endl;
            continue;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            std::cerr << "lost the compositor\n";
            return 3;
        }
        std::cout << "ok" << std::endl;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
