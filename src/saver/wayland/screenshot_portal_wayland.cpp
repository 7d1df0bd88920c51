#include "saver/wayland/screenshot_portal_wayland.hpp"

#include "saver/posix/termination_signals_posix.hpp"
#include "saver/wayland/portal_picture_wayland.hpp"
#include "saver/wayland/session_bus_wayland.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <functional>
#include <string_view>

#include <poll.h>
#include <unistd.h>

namespace zorblinth::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* storeService = "org.freedesktop.impl.portal.PermissionStore";
constexpr const char* storePath = "/org/freedesktop/impl/portal/PermissionStore";
constexpr const char* storeInterface = "org.freedesktop.impl.portal.PermissionStore";
constexpr const char* portalService = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* screenshotInterface = "org.freedesktop.portal.Screenshot";
constexpr const char* requestInterface = "org.freedesktop.portal.Request";

// What the store has for an unknown key: no answer yet, which is no.
constexpr std::string_view notFound = "org.freedesktop.portal.Error.NotFound";

// One conversation with the permission store and the portal, and what each answer said.
struct Conversation {
    Bus bus;

    Slot lookup;
    bool looked = false;
    bool allowed = false;
    std::string lookupFailure;

    std::string requestPath;
    Slot screenshot;
    Slot response;
    std::string portalOwner; // who answered the call: only it may send the response
    std::string responder;
    std::optional<std::uint32_t> responseCode;
    std::string uri;
    std::string screenshotFailure;

    bool screenshotFinished() const {
        return !screenshotFailure.empty() || (responseCode && !portalOwner.empty());
    }
};

std::uint64_t microsecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        std::max(deadline - Clock::now(), Clock::duration(std::chrono::milliseconds(1))));
    return static_cast<std::uint64_t>(left.count());
}

// The store's answer a{sas}v: whether the key "" (programs outside a sandbox) lists "yes".
int takeLookup(sd_bus_message* message, void* data, sd_bus_error*) {
    auto& talk = *static_cast<Conversation*>(data);
    talk.looked = true;
    talk.lookup.reset();
    if (const sd_bus_error* error = sd_bus_message_get_error(message)) {
        talk.lookupFailure =
            error->name && notFound == error->name
                ? "the portal's permission store has no screenshot permission for this program"
                : "the portal's permission store did not answer: " + errorText(*error);
        return 0;
    }
    bool listed = false;
    bool malformed = sd_bus_message_enter_container(message, 'a', "{sas}") <= 0;
    while (!malformed && sd_bus_message_enter_container(message, 'e', "sas") > 0) {
        const char* app = nullptr;
        if (sd_bus_message_read_basic(message, 's', &app) <= 0 ||
            sd_bus_message_enter_container(message, 'a', "s") <= 0) {
            malformed = true;
            break;
        }
        const char* permission = nullptr;
        int read;
        while ((read = sd_bus_message_read_basic(message, 's', &permission)) > 0)
            if (std::string_view(app).empty()) {
                listed = true;
                talk.allowed = talk.allowed || std::string_view(permission) == "yes";
            }
        malformed = read < 0 || sd_bus_message_exit_container(message) < 0 ||
                    sd_bus_message_exit_container(message) < 0;
    }
    if (malformed)
        talk.lookupFailure = "the portal's permission store gave an answer the saver cannot read";
    else if (!talk.allowed)
        talk.lookupFailure = listed ? "the portal's permission store does not allow this program "
                                      "screenshots without asking"
                                    : "the portal's permission store has no screenshot "
                                      "permission for this program";
    return 0;
}

int takeScreenshotReply(sd_bus_message* message, void* data, sd_bus_error*) {
    auto& talk = *static_cast<Conversation*>(data);
    talk.screenshot.reset();
    if (const sd_bus_error* error = sd_bus_message_get_error(message)) {
        talk.screenshotFailure =
            "the screenshot portal did not take the call: " + errorText(*error);
        return 0;
    }
    const char* handle = nullptr;
    if (sd_bus_message_read(message, "o", &handle) <= 0 || talk.requestPath != handle) {
        talk.screenshotFailure = "the portal answered on a request of its own naming";
        return 0;
    }
    talk.portalOwner = sd_bus_message_get_sender(message) ? sd_bus_message_get_sender(message) : "";
    if (talk.portalOwner.empty())
        talk.screenshotFailure = "the portal's answer came from nobody";
    else if (talk.responseCode && talk.responder != talk.portalOwner)
        talk.screenshotFailure = "another program answered for the portal";
    return 0;
}

// Response(u response, a{sv} results): 0 and the file's URI, or 1 (cancelled), 2 (refused).
int takeResponse(sd_bus_message* message, void* data, sd_bus_error*) {
    auto& talk = *static_cast<Conversation*>(data);
    if (talk.responseCode)
        return 0;
    const char* sender = sd_bus_message_get_sender(message);
    std::uint32_t code = 0;
    if (!sender || sd_bus_message_read_basic(message, 'u', &code) <= 0)
        return 0;
    talk.responder = sender;
    talk.responseCode = code;
    if (!talk.portalOwner.empty() && talk.responder != talk.portalOwner) {
        talk.screenshotFailure = "another program answered for the portal";
        return 0;
    }
    if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0)
        return 0;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read_basic(message, 's', &key) <= 0)
            break;
        if (std::string_view(key) == "uri" &&
            sd_bus_message_enter_container(message, 'v', "s") > 0) {
            const char* uri = nullptr;
            if (sd_bus_message_read_basic(message, 's', &uri) > 0)
                talk.uri = uri;
            sd_bus_message_exit_container(message);
        } else if (sd_bus_message_skip(message, "v") < 0) {
            break;
        }
        if (sd_bus_message_exit_container(message) < 0)
            break;
    }
    return 0;
}

// Runs the bus until `finished`, the deadline or a termination signal; why not, when the bus
// was lost.
std::string runBus(sd_bus* bus, Clock::time_point deadline, const std::function<bool()>& finished) {
    while (!finished() && !posix::TerminationSignals::requested()) {
        int processed;
        while ((processed = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (processed < 0)
            return "lost the session bus: " + errorText(processed);
        if (finished())
            break;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        std::array<pollfd, 2> waits{
            {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
             {posix::TerminationSignals::wakeFd(), POLLIN, 0}}};
        const nfds_t count = waits[1].fd >= 0 ? 2 : 1;
        const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(left);
        if (poll(waits.data(), count, static_cast<int>(timeout.count())) < 0 && errno != EINTR)
            return std::string("cannot wait for the session bus: ") + std::strerror(errno);
    }
    return {};
}

std::string seconds(Clock::duration patience) {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(patience);
    if (milliseconds < std::chrono::seconds(2))
        return std::to_string(milliseconds.count()) + " ms";
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(patience).count()) +
           " s";
}

// Opens the session bus and sends the permission store's Lookup; the failure, if any.
std::string openAndLookUp(Conversation& talk) {
    sd_bus* opened = nullptr;
    const int result = sd_bus_open_user(&opened);
    talk.bus.reset(opened);
    if (result < 0)
        return "no session bus for the screenshot portal: " + errorText(result);
    sd_bus_slot* slot = nullptr;
    const int called =
        sd_bus_call_method_async(talk.bus.get(), &slot, storeService, storePath, storeInterface,
                                 "Lookup", takeLookup, &talk, "ss", "screenshot", "screenshot");
    if (called < 0)
        return "cannot ask the portal's permission store: " + errorText(called);
    talk.lookup.reset(slot);
    return {};
}

// The request object the portal answers on: /org/freedesktop/portal/desktop/request/SENDER/
// TOKEN, SENDER our unique name without its ':' and with '_' for each '.'.
std::string requestPathOf(std::string_view uniqueName, std::string_view token) {
    std::string sender(uniqueName.substr(uniqueName.starts_with(':') ? 1 : 0));
    std::replace(sender.begin(), sender.end(), '.', '_');
    return std::string(portalPath) + "/request/" + sender + "/" + std::string(token);
}

// Subscribes to the request's Response, then calls Screenshot without interaction.
std::string askForScreenshot(Conversation& talk, Clock::time_point deadline) {
    const char* unique = nullptr;
    if (sd_bus_is_ready(talk.bus.get()) <= 0 ||
        sd_bus_get_unique_name(talk.bus.get(), &unique) < 0 || !unique)
        return "the session bus gave the saver no name";
    static std::atomic<unsigned> asked{0};
    const std::string token =
        "zorblinth" + std::to_string(getpid()) + "_" + std::to_string(asked++);
    talk.requestPath = requestPathOf(unique, token);
    sd_bus_slot* slot = nullptr;
    int result =
        sd_bus_match_signal_async(talk.bus.get(), &slot, nullptr, talk.requestPath.c_str(),
                                  requestInterface, "Response", takeResponse, nullptr, &talk);
    if (result < 0)
        return "cannot listen for the portal's answer: " + errorText(result);
    talk.response.reset(slot);

    sd_bus_message* made = nullptr;
    result = sd_bus_message_new_method_call(talk.bus.get(), &made, portalService, portalPath,
                                            screenshotInterface, "Screenshot");
    const Message call(made);
    if (result >= 0)
        result = sd_bus_message_append(call.get(), "sa{sv}", "", 2, "handle_token", "s",
                                       token.c_str(), "interactive", "b", 0);
    if (result >= 0)
        result = sd_bus_call_async(talk.bus.get(), &slot, call.get(), takeScreenshotReply, &talk,
                                   microsecondsLeft(deadline));
    if (result < 0)
        return "cannot ask the portal for a screenshot: " + errorText(result);
    talk.screenshot.reset(slot);
    return {};
}

// Looks the permission up, until `deadline`; the failure, or empty when allowed.
std::string lookUp(Conversation& talk, Clock::time_point deadline, Clock::duration patience) {
    if (std::string failure = openAndLookUp(talk); !failure.empty())
        return failure;
    if (std::string lost = runBus(talk.bus.get(), deadline, [&] { return talk.looked; });
        !lost.empty())
        return lost;
    if (!talk.looked)
        return "the portal's permission store did not answer within " + seconds(patience);
    return talk.lookupFailure;
}

// Calls Screenshot and waits for its Response until `deadline`; the failure, if any.
std::string screenshot(Conversation& talk, Clock::time_point deadline, Clock::duration patience) {
    if (std::string failure = askForScreenshot(talk, deadline); !failure.empty())
        return failure;
    if (std::string lost =
            runBus(talk.bus.get(), deadline, [&] { return talk.screenshotFinished(); });
        !lost.empty())
        return lost;
    if (!talk.screenshotFailure.empty())
        return talk.screenshotFailure;
    if (!talk.screenshotFinished())
        return "the portal did not answer within " + seconds(patience);
    return {};
}

} // namespace

PortalScreenshot takePermittedScreenshot(Clock::time_point deadline) {
    const Clock::duration patience = deadline - Clock::now();
    Conversation talk;
    if (std::string failure = lookUp(talk, deadline, patience); !failure.empty())
        return {std::nullopt, std::move(failure)};
    if (std::string failure = screenshot(talk, deadline, patience); !failure.empty())
        return {std::nullopt, std::move(failure)};
    if (*talk.responseCode != 0 || talk.uri.empty())
        return {std::nullopt, "the portal gave no screenshot (response " +
                                  std::to_string(*talk.responseCode) + ")"};
    return {talk.uri, {}};
}

PermissionRequest askScreenshotPermission(Clock::duration patience) {
    const Clock::time_point deadline = Clock::now() + patience;
    Conversation talk;
    // Already allowed: nothing to ask, and no picture taken for nothing.
    const std::string notAllowed = lookUp(talk, deadline, patience);
    if (talk.allowed)
        return {PermissionAnswer::allowed, "the screenshot portal already allows it"};
    if (!talk.bus || !talk.looked)
        return {PermissionAnswer::unavailable, notAllowed};
    if (std::string failure = screenshot(talk, deadline, patience); !failure.empty()) {
        const bool unanswered = !talk.screenshotFinished() && talk.screenshotFailure.empty();
        return {unanswered ? PermissionAnswer::noAnswer : PermissionAnswer::unavailable,
                std::move(failure)};
    }
    if (!talk.uri.empty())
        deletePortalFile(talk.uri);
    switch (*talk.responseCode) {
    case 0:
        return {PermissionAnswer::allowed, "the screenshot portal allows it"};
    case 1:
        return {PermissionAnswer::denied, "the screenshot was cancelled"};
    default:
        return {PermissionAnswer::denied, "the screenshot portal refused it"};
    }
}

} // namespace zorblinth::wayland
