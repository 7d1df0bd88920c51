#include "saver/wayland/seat_wayland.hpp"

#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace zorblinth::wayland {

void Keyboard::useKeymap(std::uint32_t format, int file, std::uint32_t size) {
    state.reset();
    keymap.reset();
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && context && size > 0) {
        void* const text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file, 0);
        if (text != MAP_FAILED) {
            keymap.reset(xkb_keymap_new_from_buffer(context.get(), static_cast<const char*>(text),
                                                    strnlen(static_cast<const char*>(text), size),
                                                    XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS));
            munmap(text, size);
        }
    }
    close(file);
    if (keymap)
        state.reset(xkb_state_new(keymap.get()));
}

InputEvent Keyboard::keyDown(std::uint32_t linuxKeyCode) const {
    if (!state)
        return {InputKind::key};
    const xkb_keycode_t code = linuxKeyCode + 8; // evdev codes start at 8 in XKB
    return {InputKind::key,
            {},
            xkb_state_key_get_utf32(state.get(), code),
            xkb_state_mod_name_is_active(state.get(), XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) >
                0};
}

const wl_pointer_listener SeatInput::pointerListener{
    .enter =
        [](void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
           wl_fixed_t y) {
            auto& self = *static_cast<SeatInput*>(data);
            // No cursor over the saver.
            wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
            self.under_ = self.find_(surface);
            self.pointerEntered_ = self.pointerEntered_ || self.under_ != nullptr;
            if (self.surfaceGoneUnderPointer_ && self.under_ != nullptr) {
                self.surfaceGoneUnderPointer_ = false;
                self.movedBySystem_({InputKind::mouseMove, self.under_->pointerPixel(x, y), 0,
                                     false, self.under_->id()});
                return;
            }
            self.moved(x, y, true);
        },
    .leave = [](void* data, wl_pointer*, std::uint32_t,
                wl_surface*) { static_cast<SeatInput*>(data)->under_ = nullptr; },
    .motion = [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x,
                 wl_fixed_t y) { static_cast<SeatInput*>(data)->moved(x, y); },
    .button =
        [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t,
           std::uint32_t state) {
            if (state == WL_POINTER_BUTTON_STATE_PRESSED)
                static_cast<SeatInput*>(data)->take_({InputKind::mouseButton});
        },
    .axis = [](void* data, wl_pointer*, std::uint32_t, std::uint32_t,
               wl_fixed_t) { static_cast<SeatInput*>(data)->take_({InputKind::wheel}); },
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    .axis_value120 = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

const wl_keyboard_listener SeatInput::keyboardListener{
    .keymap =
        [](void* data, wl_keyboard*, std::uint32_t format, std::int32_t file, std::uint32_t size) {
            static_cast<SeatInput*>(data)->keys_.useKeymap(format, file, size);
        },
    // Keys already down when the saver took the keyboard were pressed before it: not a sign.
    .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
           std::uint32_t state) {
            auto& self = *static_cast<SeatInput*>(data);
            if (state == WL_KEYBOARD_KEY_STATE_PRESSED)
                self.take_(self.keys_.keyDown(key));
        },
    .modifiers =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
           std::uint32_t locked, std::uint32_t group) {
            auto& keys = static_cast<SeatInput*>(data)->keys_;
            if (keys.state)
                xkb_state_update_mask(keys.state.get(), depressed, latched, locked, 0, 0, group);
        },
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

const wl_seat_listener SeatInput::seatListener{
    .capabilities =
        [](void* data, wl_seat* seat, std::uint32_t capabilities) {
            static_cast<SeatInput*>(data)->capabilities(seat, capabilities);
        },
    .name = [](void*, wl_seat*, const char*) {},
};

void SeatInput::listen(wl_seat* seat) {
    wl_seat_add_listener(seat, &seatListener, this);
}

void SeatInput::capabilities(wl_seat* seat, std::uint32_t capabilities) {
    const bool hasPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    const bool hasKeyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (hasPointer && !pointer_) {
        pointer_.reset(wl_seat_get_pointer(seat));
        wl_pointer_add_listener(pointer_.get(), &pointerListener, this);
    } else if (!hasPointer) {
        pointer_.reset();
        under_ = nullptr;
    }
    if (hasKeyboard && !keyboard_) {
        keyboard_.reset(wl_seat_get_keyboard(seat));
        wl_keyboard_add_listener(keyboard_.get(), &keyboardListener, this);
    } else if (!hasKeyboard) {
        keyboard_.reset();
    }
}

void SeatInput::moved(wl_fixed_t x, wl_fixed_t y, bool entered) {
    // Only over one of the saver's surfaces do positions mean anything.
    if (under_ != nullptr)
        take_({InputKind::mouseMove, under_->pointerPixel(x, y), 0, false, under_->id(), entered});
}

void SeatInput::forget(const PointerTarget* surface) {
    if (under_ == surface) {
        under_ = nullptr;
        surfaceGoneUnderPointer_ = true;
    }
}

} // namespace zorblinth::wayland
