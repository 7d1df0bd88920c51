#pragma once

#include <viewporter-client-protocol.h>
#include <wayland-client.h>
// The layer shell's header names a parameter "namespace", a word C++ keeps for itself.
#define namespace layerNamespace
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#undef namespace
#include <wlr-screencopy-unstable-v1-client-protocol.h>
#include <xdg-output-unstable-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <memory>

namespace zorblinth::wayland {

// How each kind of protocol object is let go of: release where the protocol has it (the
// compositor then forgets it too), destroy otherwise.
inline void letGo(wl_registry* registry) {
    wl_registry_destroy(registry);
}
inline void letGo(wl_compositor* compositor) {
    wl_compositor_destroy(compositor);
}
inline void letGo(wl_shm* shm) {
    wl_shm_destroy(shm);
}
inline void letGo(wl_callback* callback) {
    wl_callback_destroy(callback);
}
inline void letGo(wl_surface* surface) {
    wl_surface_destroy(surface);
}
inline void letGo(wl_output* output) {
    if (wl_output_get_version(output) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
        wl_output_release(output);
    else
        wl_output_destroy(output);
}
inline void letGo(wl_seat* seat) {
    if (wl_seat_get_version(seat) >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(seat);
    else
        wl_seat_destroy(seat);
}
inline void letGo(wl_pointer* pointer) {
    if (wl_pointer_get_version(pointer) >= WL_POINTER_RELEASE_SINCE_VERSION)
        wl_pointer_release(pointer);
    else
        wl_pointer_destroy(pointer);
}
inline void letGo(wl_keyboard* keyboard) {
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(keyboard);
    else
        wl_keyboard_destroy(keyboard);
}
inline void letGo(zwlr_layer_shell_v1* shell) {
    if (zwlr_layer_shell_v1_get_version(shell) >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION)
        zwlr_layer_shell_v1_destroy(shell);
    else
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(shell));
}
inline void letGo(zwlr_layer_surface_v1* surface) {
    zwlr_layer_surface_v1_destroy(surface);
}
inline void letGo(xdg_wm_base* base) {
    xdg_wm_base_destroy(base);
}
inline void letGo(xdg_surface* surface) {
    xdg_surface_destroy(surface);
}
inline void letGo(xdg_toplevel* toplevel) {
    xdg_toplevel_destroy(toplevel);
}
inline void letGo(zwlr_screencopy_manager_v1* manager) {
    zwlr_screencopy_manager_v1_destroy(manager);
}
inline void letGo(zwlr_screencopy_frame_v1* frame) {
    zwlr_screencopy_frame_v1_destroy(frame);
}
inline void letGo(zxdg_output_manager_v1* manager) {
    zxdg_output_manager_v1_destroy(manager);
}
inline void letGo(zxdg_output_v1* output) {
    zxdg_output_v1_destroy(output);
}
inline void letGo(wp_viewporter* viewporter) {
    wp_viewporter_destroy(viewporter);
}
inline void letGo(wp_viewport* viewport) {
    wp_viewport_destroy(viewport);
}

struct LetGo {
    template <typename Object> void operator()(Object* object) const { letGo(object); }
};

// One protocol object of ours, let go of with its owner.
template <typename Object> using Proxy = std::unique_ptr<Object, LetGo>;

// xkbcommon's reference-counted objects.
template <typename Object, void (*unref)(Object*)> struct Unref {
    void operator()(Object* object) const { unref(object); }
};
template <typename Object, void (*unref)(Object*)>
using XkbPointer = std::unique_ptr<Object, Unref<Object, unref>>;

} // namespace zorblinth::wayland
