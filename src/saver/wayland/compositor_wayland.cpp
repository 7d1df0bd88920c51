#include "saver/wayland/compositor_wayland.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string_view>

#include <poll.h>

namespace zorblinth::wayland {

namespace {

constexpr wl_output_listener outputListener{
    .geometry =
        [](void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
           std::int32_t, const char*, const char*, std::int32_t transform) {
            auto& output = *static_cast<Output*>(data);
            output.transform = transform;
            if (!output.xdgOutput) {
                output.x = x;
                output.y = y;
            }
        },
    .mode =
        [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
            if ((flags & WL_OUTPUT_MODE_CURRENT) == 0)
                return;
            auto& output = *static_cast<Output*>(data);
            output.pixelWidth = width;
            output.pixelHeight = height;
        },
    .done = [](void* data, wl_output*) { static_cast<Output*>(data)->described = true; },
    .scale = [](void* data, wl_output*,
                std::int32_t factor) { static_cast<Output*>(data)->scale = std::max(factor, 1); },
    .name = [](void* data, wl_output*,
               const char* name) { static_cast<Output*>(data)->connector = name; },
    .description = [](void*, wl_output*, const char*) {},
};

constexpr zxdg_output_v1_listener xdgOutputListener{
    .logical_position =
        [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
            auto& output = *static_cast<Output*>(data);
            output.x = x;
            output.y = y;
        },
    .logical_size =
        [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
            auto& output = *static_cast<Output*>(data);
            output.logicalWidth = width;
            output.logicalHeight = height;
        },
    .done = [](void*, zxdg_output_v1*) {},
    .name = [](void*, zxdg_output_v1*, const char*) {},
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

void describeInLayout(zxdg_output_manager_v1* manager, Output& output) {
    if (!manager || output.xdgOutput)
        return;
    output.xdgOutput.reset(zxdg_output_manager_v1_get_xdg_output(manager, output.output.get()));
    zxdg_output_v1_add_listener(output.xdgOutput.get(), &xdgOutputListener, &output);
}

template <typename Interface>
Interface* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface,
                std::uint32_t offered, std::uint32_t wanted) {
    return static_cast<Interface*>(
        wl_registry_bind(registry, name, &interface, std::min(offered, wanted)));
}

} // namespace

LayoutArea Output::layoutArea() const {
    if (logicalWidth > 0 && logicalHeight > 0)
        return {x, y, logicalWidth, logicalHeight};
    const std::int32_t width = sideways() ? pixelHeight : pixelWidth;
    const std::int32_t height = sideways() ? pixelWidth : pixelHeight;
    return {x, y, width / scale, height / scale};
}

const wl_registry_listener Compositor::registryListener{
    .global =
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
            static_cast<Compositor*>(data)->announce(registry, name, interface, version);
        },
    .global_remove = [](void* data, wl_registry*,
                        std::uint32_t name) { static_cast<Compositor*>(data)->withdraw(name); },
};

Compositor::Compositor(wl_display* display, std::function<void(wl_seat*)> seatAnnounced)
    : display_(display), registry_(wl_display_get_registry(display)),
      seatAnnounced_(std::move(seatAnnounced)) {
    wl_registry_add_listener(registry_.get(), &registryListener, this);
}

void Compositor::announce(wl_registry* registry, std::uint32_t name, const char* interfaceName,
                          std::uint32_t version) {
    Globals& globals = globals_;
    const std::string_view interface = interfaceName;
    if (interface == wl_compositor_interface.name && !globals.compositor) {
        globals.compositorVersion = std::min(version, 4u);
        globals.compositor.reset(
            bind<wl_compositor>(registry, name, wl_compositor_interface, version, 4));
    } else if (interface == wl_shm_interface.name && !globals.shm) {
        globals.shm.reset(bind<wl_shm>(registry, name, wl_shm_interface, version, 1));
    } else if (interface == wl_seat_interface.name && !globals.seat) {
        globals.seat.reset(bind<wl_seat>(registry, name, wl_seat_interface, version, 5));
        if (seatAnnounced_)
            seatAnnounced_(globals.seat.get());
    } else if (interface == wl_output_interface.name) {
        auto output = std::make_unique<Output>();
        output->name = name;
        output->output.reset(bind<wl_output>(registry, name, wl_output_interface, version, 4));
        // Before version 2 there is no done event: what the bind tells is all there is.
        output->described = std::min(version, 3u) < 2;
        wl_output_add_listener(output->output.get(), &outputListener, output.get());
        describeInLayout(globals.xdgOutputs.get(), *output);
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
    } else if (interface == zxdg_output_manager_v1_interface.name && !globals.xdgOutputs) {
        globals.xdgOutputs.reset(bind<zxdg_output_manager_v1>(
            registry, name, zxdg_output_manager_v1_interface, version, 3));
        for (const auto& output : globals.outputs)
            describeInLayout(globals.xdgOutputs.get(), *output);
    }
}

// An output taken away: marked, so that the saver takes its surface off it first.
void Compositor::withdraw(std::uint32_t name) {
    for (const auto& output : globals_.outputs)
        if (output->name == name)
            output->gone = true;
}

void Compositor::forgetGoneOutputs() {
    std::erase_if(globals_.outputs, [](const auto& output) { return output->gone; });
}

void Compositor::dispatchPending() {
    if (wl_display_dispatch_pending(display_) < 0 || wl_display_get_error(display_) != 0)
        lost_ = true;
}

void Compositor::waitForEvents(int timeoutMilliseconds) {
    while (wl_display_prepare_read(display_) != 0) {
        dispatchPending();
        if (lost_)
            return;
    }
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        lost_ = true;
        return;
    }
    std::array<pollfd, 2> waits{
        {{wl_display_get_fd(display_), POLLIN, 0}, {signals_.wakeFd(), POLLIN, 0}}};
    const nfds_t count = waits[1].fd >= 0 ? 2 : 1;
    if (poll(waits.data(), count, timeoutMilliseconds) > 0 && waits[0].revents != 0) {
        if (wl_display_read_events(display_) < 0)
            lost_ = true;
    } else {
        wl_display_cancel_read(display_);
    }
    dispatchPending();
}

bool Compositor::waitUntil(Clock::duration patience, const std::function<bool()>& done) {
    const auto deadline = Clock::now() + patience;
    while (!done() && !ending()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return false;
        waitForEvents(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
    return done();
}

bool Compositor::roundTrip(Clock::duration patience) {
    bool answered = false;
    static constexpr wl_callback_listener listener{
        .done = [](void* answered, wl_callback*,
                   std::uint32_t) { *static_cast<bool*>(answered) = true; },
    };
    const Proxy<wl_callback> sync(wl_display_sync(display_));
    wl_callback_add_listener(sync.get(), &listener, &answered);
    waitUntil(patience, [&answered] { return answered; });
    if (!answered && !ending())
        unanswered_ = true;
    return answered && !lost_;
}

void Compositor::flush() {
    wl_display_flush(display_);
}

} // namespace zorblinth::wayland
