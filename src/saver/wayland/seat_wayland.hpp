#pragma once

#include "saver/ending.hpp"
#include "saver/wayland/pointer_target_wayland.hpp"
#include "saver/wayland/wayland_handles_wayland.hpp"

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <functional>

namespace zorblinth::wayland {

// The keyboard's keymap and state as the compositor describes them.
struct Keyboard {
    XkbPointer<xkb_context, xkb_context_unref> context{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    XkbPointer<xkb_keymap, xkb_keymap_unref> keymap;
    XkbPointer<xkb_state, xkb_state_unref> state;

    void useKeymap(std::uint32_t format, int file, std::uint32_t size);
    // What a key going down types, and whether Alt is held; a key typing nothing without a
    // keymap.
    InputEvent keyDown(std::uint32_t linuxKeyCode) const;
};

// The seat's keyboard and pointer, their events told in the saver's words: keys as the keymap
// types them, pointer positions in the pixels of the output surface the pointer is over, tagged
// with that surface's id. The cursor is hidden on every enter. Where the surface under the
// pointer went away with its output, the compositor puts the pointer on another: that enter is
// told to `movedBySystem` instead, as no sign of the user.
class SeatInput {
public:
    using Take = std::function<void(const InputEvent&)>;
    using FindSurface = std::function<const PointerTarget*(wl_surface*)>;

    SeatInput(Take take, Take movedBySystem, FindSurface find)
        : take_(std::move(take)), movedBySystem_(std::move(movedBySystem)), find_(std::move(find)) {
    }
    SeatInput(const SeatInput&) = delete;
    SeatInput& operator=(const SeatInput&) = delete;

    // Listens to the seat's capabilities; devices come and go with them.
    void listen(wl_seat* seat);
    // The pointer has entered one of the saver's surfaces.
    bool pointerEntered() const { return pointerEntered_; }
    // A surface about to go away: the pointer is no longer over it.
    void forget(const PointerTarget* surface);

private:
    static const wl_seat_listener seatListener;
    static const wl_pointer_listener pointerListener;
    static const wl_keyboard_listener keyboardListener;

    void capabilities(wl_seat* seat, std::uint32_t capabilities);
    void moved(wl_fixed_t x, wl_fixed_t y, bool entered = false);

    Take take_;
    Take movedBySystem_;
    FindSurface find_;
    Proxy<wl_pointer> pointer_;
    Proxy<wl_keyboard> keyboard_;
    Keyboard keys_;
    const PointerTarget* under_ = nullptr; // the surface the pointer is over
    bool pointerEntered_ = false;
    bool surfaceGoneUnderPointer_ = false;
};

} // namespace zorblinth::wayland
