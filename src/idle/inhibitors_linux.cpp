#include "idle/inhibitors_linux.hpp"

#include <string>

namespace zorblinth::idle {

namespace {

constexpr const char* screenSaverName = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverInterface = "org.freedesktop.ScreenSaver";
// Both paths are in use: browsers call the first, older players the second.
constexpr const char* screenSaverPaths[] = {"/org/freedesktop/ScreenSaver", "/ScreenSaver"};
// GNOME's inhibit flag for "idle".
constexpr std::uint32_t gnomeIdleFlag = 8;

} // namespace

std::unique_ptr<Inhibitors> Inhibitors::open(IdleWatch& watch) {
    Bus bus = openSessionBus();
    if (!bus)
        return nullptr;
    std::unique_ptr<Inhibitors> inhibitors(new Inhibitors(std::move(bus), watch));
    sd_bus* const connection = inhibitors->bus_.get();
    static const sd_bus_vtable table[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ss", "u", inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("UnInhibit", "u", "", uninhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    // Only where nobody has the name: a desktop that owns it keeps its own inhibitors.
    if (sd_bus_request_name(connection, screenSaverName, 0) >= 0) {
        inhibitors->ownsName_ = true;
        for (int i = 0; i < 2; ++i) {
            sd_bus_slot* slot = nullptr;
            sd_bus_add_object_vtable(connection, &slot, screenSaverPaths[i], screenSaverInterface,
                                     table, inhibitors.get());
            inhibitors->objects_[i].reset(slot);
        }
        // An inhibit ends when its caller leaves the bus.
        sd_bus_slot* slot = nullptr;
        sd_bus_match_signal(connection, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", ownerChanged,
                            inhibitors.get());
        inhibitors->nameWatch_.reset(slot);
    }
    // Not waiting for the bus to confirm: a refused match only means that the signal never
    // comes, and the start still asks GetActive.
    sd_bus_slot* slot = nullptr;
    const auto confirmed = [](sd_bus_message*, void*, sd_bus_error*) { return 0; };
    if (sd_bus_match_signal_async(connection, &slot, "org.gnome.ScreenSaver",
                                  "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver",
                                  "ActiveChanged", shieldChanged, confirmed, inhibitors.get()) >= 0)
        inhibitors->shieldWatch_.reset(slot);
    return inhibitors;
}

int Inhibitors::inhibit(sd_bus_message* call, void* data, sd_bus_error*) {
    auto& self = *static_cast<Inhibitors*>(data);
    const char* application = nullptr;
    const char* reason = nullptr;
    if (sd_bus_message_read(call, "ss", &application, &reason) < 0)
        return -EINVAL;
    const char* sender = sd_bus_message_get_sender(call);
    const std::uint32_t cookie = self.watch_.inhibit(sender ? sender : "");
    return sd_bus_reply_method_return(call, "u", cookie);
}

int Inhibitors::uninhibit(sd_bus_message* call, void* data, sd_bus_error*) {
    auto& self = *static_cast<Inhibitors*>(data);
    std::uint32_t cookie = 0;
    if (sd_bus_message_read(call, "u", &cookie) < 0)
        return -EINVAL;
    const char* sender = sd_bus_message_get_sender(call);
    self.watch_.uninhibit(sender ? sender : "", cookie);
    return sd_bus_reply_method_return(call, "");
}

int Inhibitors::ownerChanged(sd_bus_message* signal, void* data, sd_bus_error*) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) < 0)
        return 0;
    if (name[0] == ':' && newOwner[0] == '\0')
        static_cast<Inhibitors*>(data)->watch_.callerLeft(name);
    return 0;
}

int Inhibitors::shieldChanged(sd_bus_message* signal, void* data, sd_bus_error*) {
    int active = 0;
    // Raised and lowered again before the watcher looked: nothing to act on.
    if (sd_bus_message_read(signal, "b", &active) > 0)
        static_cast<Inhibitors*>(data)->shieldRaised_ = active != 0;
    return 0;
}

bool Inhibitors::process() {
    int processed = 0;
    while ((processed = sd_bus_process(bus_.get(), nullptr)) > 0) {
    }
    return processed >= 0;
}

bool Inhibitors::desktopInhibits() {
    sd_bus* const bus = bus_.get();
    return askBoolean(bus, "org.gnome.SessionManager", "/org/gnome/SessionManager",
                      "org.gnome.SessionManager", "IsInhibited", "u", gnomeIdleFlag) ||
           askBoolean(bus, "org.freedesktop.PowerManagement",
                      "/org/freedesktop/PowerManagement/Inhibit",
                      "org.freedesktop.PowerManagement.Inhibit", "HasInhibit", "", 0);
}

} // namespace zorblinth::idle
