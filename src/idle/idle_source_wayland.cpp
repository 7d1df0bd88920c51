#include "idle/idle_source_linux.hpp"

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

#include <wayland-client.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

#include <poll.h>

namespace zorblinth::idle {

namespace {

// A compositor that has not answered the first round trip within this is taken as absent.
constexpr int answerMilliseconds = 3000;

// The compositor tells idle and resumed itself, and leaves out the time while a client holds
// zwp_idle_inhibitor_v1 (a video playing): nothing to ask, nothing to wake for.
class WaylandIdleSource final : public IdleSource {
public:
    explicit WaylandIdleSource(wl_display* display, long timeout)
        : display_(display), timeout_(static_cast<std::uint32_t>(timeout)) {}
    ~WaylandIdleSource() override {
        release();
        if (notifier_)
            ext_idle_notifier_v1_destroy(notifier_);
        if (kdeIdle_)
            org_kde_kwin_idle_destroy(kdeIdle_);
        if (seat_)
            wl_seat_destroy(seat_);
        if (registry_)
            wl_registry_destroy(registry_);
        wl_display_disconnect(display_);
    }
    WaylandIdleSource(const WaylandIdleSource&) = delete;
    WaylandIdleSource& operator=(const WaylandIdleSource&) = delete;

    // Finds the globals; false when the compositor offers no idle protocol or does not answer.
    bool bind() {
        registry_ = wl_display_get_registry(display_);
        wl_registry_add_listener(registry_, &registryListener, this);
        if (!roundTrip() || !seat_ || (!notifier_ && !kdeIdle_))
            return false;
        watch();
        return wl_display_flush(display_) >= 0 || errno == EAGAIN;
    }

    const char* name() const override {
        return notifier_ ? "the Wayland compositor (ext_idle_notifier_v1)"
                         : "the Wayland compositor (org_kde_kwin_idle)";
    }
    int fd() const override { return wl_display_get_fd(display_); }
    int wakeAfterMilliseconds() const override { return -1; }
    void restartTimeout() override {
        // A new notification counts from its creation.
        release();
        watch();
        wl_display_flush(display_);
    }

    Event update(bool readable) override {
        if (readable) {
            while (wl_display_prepare_read(display_) != 0)
                if (wl_display_dispatch_pending(display_) < 0)
                    return Event::lost;
            if (wl_display_read_events(display_) < 0)
                return Event::lost;
        }
        if (wl_display_dispatch_pending(display_) < 0 || wl_display_get_error(display_) != 0)
            return Event::lost;
        wl_display_flush(display_);
        if (events_.empty())
            return Event::none;
        const Event next = events_.front();
        events_.pop_front();
        return next;
    }

private:
    void watch() {
        if (notifier_) {
            notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, timeout_, seat_);
            ext_idle_notification_v1_add_listener(notification_, &notificationListener, this);
        } else {
            kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, timeout_);
            org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &kdeTimeoutListener, this);
        }
    }

    void release() {
        if (notification_)
            ext_idle_notification_v1_destroy(notification_);
        if (kdeTimeout_)
            org_kde_kwin_idle_timeout_release(kdeTimeout_);
        notification_ = nullptr;
        kdeTimeout_ = nullptr;
        events_.clear();
    }

    // Waits for the compositor's answer to all sent so far, with a deadline.
    bool roundTrip() {
        bool done = false;
        wl_callback* sync = wl_display_sync(display_);
        static constexpr wl_callback_listener syncListener{
            [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
        wl_callback_add_listener(sync, &syncListener, &done);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMilliseconds);
        while (!done) {
            while (wl_display_prepare_read(display_) != 0)
                wl_display_dispatch_pending(display_);
            wl_display_flush(display_);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd connection{wl_display_get_fd(display_), POLLIN, 0};
            if (left.count() <= 0 || poll(&connection, 1, static_cast<int>(left.count())) <= 0) {
                wl_display_cancel_read(display_);
                break;
            }
            if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0)
                break;
        }
        wl_callback_destroy(sync);
        return done;
    }

    static void announce(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t) {
        auto& self = *static_cast<WaylandIdleSource*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self.seat_)
            self.seat_ =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
            self.notifier_ = static_cast<ext_idle_notifier_v1*>(
                wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
        else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
            self.kdeIdle_ = static_cast<org_kde_kwin_idle*>(
                wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
    }
    static void withdraw(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener registryListener{announce, withdraw};

    static void push(void* data, Event event) {
        static_cast<WaylandIdleSource*>(data)->events_.push_back(event);
    }
    static constexpr ext_idle_notification_v1_listener notificationListener{
        [](void* data, ext_idle_notification_v1*) { push(data, Event::idle); },
        [](void* data, ext_idle_notification_v1*) { push(data, Event::active); }};
    static constexpr org_kde_kwin_idle_timeout_listener kdeTimeoutListener{
        [](void* data, org_kde_kwin_idle_timeout*) { push(data, Event::idle); },
        [](void* data, org_kde_kwin_idle_timeout*) { push(data, Event::active); }};

    wl_display* display_;
    std::uint32_t timeout_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    ext_idle_notifier_v1* notifier_ = nullptr;
    org_kde_kwin_idle* kdeIdle_ = nullptr;
    ext_idle_notification_v1* notification_ = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
    std::deque<Event> events_;
};

} // namespace

std::unique_ptr<IdleSource> openWaylandIdleSource(long timeoutMilliseconds, bool& reached) {
    wl_display* display = wl_display_connect(nullptr);
    reached = display != nullptr;
    if (!display)
        return nullptr;
    auto source = std::make_unique<WaylandIdleSource>(display, timeoutMilliseconds);
    if (!source->bind())
        return nullptr;
    return source;
}

} // namespace zorblinth::idle
