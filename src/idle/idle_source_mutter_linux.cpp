#include "idle/idle_source_linux.hpp"
#include "idle/session_bus_linux.hpp"

#include <cstring>
#include <deque>

namespace zorblinth::idle {

namespace {

constexpr const char* monitorName = "org.gnome.Mutter.IdleMonitor";
constexpr const char* monitorPath = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr const char* monitorInterface = "org.gnome.Mutter.IdleMonitor";

// GNOME's compositor counts the idle time itself and tells the watches it was given: one for
// the timeout, then one for the next input. Nothing to ask, nothing to wake for.
class MutterIdleSource final : public IdleSource {
public:
    MutterIdleSource(Bus bus, long timeout) : bus_(std::move(bus)), timeout_(timeout) {}

    // False when GNOME's idle monitor is not on the bus or does not answer.
    bool watch() {
        sd_bus* const bus = bus_.get();
        sd_bus_slot* slot = nullptr;
        if (sd_bus_match_signal(bus, &slot, nullptr, monitorPath, monitorInterface, "WatchFired",
                                fired, this) < 0)
            return false;
        fired_.reset(slot);
        // GNOME's compositor leaving the bus is the session going away.
        // Only its own name's changes: other clients coming and going wake nobody.
        if (sd_bus_add_match(bus, &slot,
                             "type='signal',sender='org.freedesktop.DBus',"
                             "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                             "arg0='org.gnome.Mutter.IdleMonitor'",
                             ownerChanged, this) < 0)
            return false;
        owner_.reset(slot);
        return addIdleWatch(timeout_);
    }

    const char* name() const override { return "GNOME's idle monitor (org.gnome.Mutter)"; }
    int fd() const override { return sd_bus_get_fd(bus_.get()); }
    int wakeAfterMilliseconds() const override { return busTimeoutMilliseconds(bus_.get()); }

    void restartTimeout() override {
        // Its idle watch counts from the last input: a new one at the idle time so far plus
        // the timeout counts the timeout from now.
        removeWatch(idleWatch_);
        removeWatch(activeWatch_);
        idleWatch_ = activeWatch_ = 0;
        events_.clear();
        std::uint64_t idleSoFar = 0;
        if (!callForNumber("GetIdletime", nullptr, 0, idleSoFar))
            lost_ = true;
        else if (!addIdleWatch(static_cast<long>(idleSoFar) + timeout_))
            lost_ = true;
    }

    Event update(bool) override {
        int processed = 0;
        while ((processed = sd_bus_process(bus_.get(), nullptr)) > 0) {
        }
        if (processed < 0 || lost_)
            return Event::lost;
        if (events_.empty())
            return Event::none;
        const Event next = events_.front();
        events_.pop_front();
        return next;
    }

private:
    bool callForNumber(const char* method, const char* signature, std::uint64_t argument,
                       std::uint64_t& answer) {
        Message call;
        sd_bus_message* made = nullptr;
        if (sd_bus_message_new_method_call(bus_.get(), &made, monitorName, monitorPath,
                                           monitorInterface, method) < 0)
            return false;
        call.reset(made);
        sd_bus_message_set_auto_start(call.get(), 0);
        if (signature && sd_bus_message_append(call.get(), signature, argument) < 0)
            return false;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call(bus_.get(), call.get(), callMicroseconds, nullptr, &reply) < 0)
            return false;
        const Message answered(reply);
        const char type = std::strcmp(method, "GetIdletime") == 0 ? 't' : 'u';
        if (type == 't')
            return sd_bus_message_read_basic(answered.get(), 't', &answer) > 0;
        std::uint32_t id = 0;
        const bool read = sd_bus_message_read_basic(answered.get(), 'u', &id) > 0;
        answer = id;
        return read;
    }

    bool addIdleWatch(long milliseconds) {
        std::uint64_t id = 0;
        if (!callForNumber("AddIdleWatch", "t", static_cast<std::uint64_t>(milliseconds), id))
            return false;
        idleWatch_ = static_cast<std::uint32_t>(id);
        return true;
    }

    void removeWatch(std::uint32_t id) {
        if (id != 0)
            sd_bus_call_method_async(bus_.get(), nullptr, monitorName, monitorPath,
                                     monitorInterface, "RemoveWatch", nullptr, nullptr, "u", id);
    }

    static int fired(sd_bus_message* signal, void* data, sd_bus_error*) {
        auto& self = *static_cast<MutterIdleSource*>(data);
        std::uint32_t id = 0;
        if (sd_bus_message_read(signal, "u", &id) < 0)
            return 0;
        if (id == self.idleWatch_ && self.idleWatch_ != 0) {
            self.events_.push_back(Event::idle);
            // A user-active watch fires once, at the next input; its id comes back before
            // that input can, but any other watch of ours firing can only be it.
            sd_bus_call_method_async(sd_bus_message_get_bus(signal), nullptr, monitorName,
                                     monitorPath, monitorInterface, "AddUserActiveWatch",
                                     activeAdded, data, "");
        } else if (id == self.activeWatch_ || self.activeWatch_ == 0) {
            self.activeWatch_ = 0;
            self.events_.push_back(Event::active);
        }
        return 0;
    }

    static int activeAdded(sd_bus_message* reply, void* data, sd_bus_error*) {
        std::uint32_t id = 0;
        if (!sd_bus_message_is_method_error(reply, nullptr) &&
            sd_bus_message_read(reply, "u", &id) > 0)
            static_cast<MutterIdleSource*>(data)->activeWatch_ = id;
        return 0;
    }

    static int ownerChanged(sd_bus_message* signal, void* data, sd_bus_error*) {
        const char* name = nullptr;
        const char* oldOwner = nullptr;
        const char* newOwner = nullptr;
        if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) > 0 &&
            std::strcmp(name, monitorName) == 0 && newOwner[0] == '\0')
            static_cast<MutterIdleSource*>(data)->lost_ = true;
        return 0;
    }

    Bus bus_;
    long timeout_;
    Slot fired_;
    Slot owner_;
    std::uint32_t idleWatch_ = 0;
    std::uint32_t activeWatch_ = 0;
    bool lost_ = false;
    std::deque<Event> events_;
};

} // namespace

std::unique_ptr<IdleSource> openMutterIdleSource(long timeoutMilliseconds) {
    Bus bus = openSessionBus();
    if (!bus)
        return nullptr;
    auto source = std::make_unique<MutterIdleSource>(std::move(bus), timeoutMilliseconds);
    if (!source->watch())
        return nullptr;
    return source;
}

} // namespace zorblinth::idle
