#include "saver/wayland/kwin_screenshot_wayland.hpp"

#include "saver/posix/termination_signals_posix.hpp"
#include "saver/wayland/session_bus_wayland.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zorblinth::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kwinService = "org.kde.KWin.ScreenShot2";
constexpr const char* kwinPath = "/org/kde/KWin/ScreenShot2";
constexpr const char* kwinInterface = "org.kde.KWin.ScreenShot2";

// One screen asked for: KWin's answer, and the pixels it writes into the pipe after it.
struct Request {
    std::string screen;
    Slot reply;
    FileDescriptor pipe; // our read end
    std::vector<std::byte> bytes;
    std::optional<PictureDescription> description;
    bool pipeClosed = false;
    std::string failure;

    bool finished() const { return !failure.empty() || (description && pipeClosed); }
    void fail(std::string why) {
        if (failure.empty())
            failure = std::move(why);
        reply.reset();
        pipe.reset();
    }
};

// Reads one value of a vardict entry of the type we expect; other types leave it unread.
template <typename Value> bool readVariant(sd_bus_message* message, char type, Value& value) {
    const char contents[] = {type, '\0'};
    if (sd_bus_message_enter_container(message, 'v', contents) <= 0)
        return false;
    const bool read = sd_bus_message_read_basic(message, type, &value) > 0;
    sd_bus_message_exit_container(message);
    return read;
}

// KWin's answer: a vardict describing the pixels.
bool readDescription(sd_bus_message* message, PictureDescription& description) {
    if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0)
        return false;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read_basic(message, 's', &key) <= 0)
            return false;
        const std::string_view name(key);
        bool read = true;
        if (name == "type") {
            const char* type = nullptr;
            read = readVariant(message, 's', type);
            if (read)
                description.type = type;
        } else if (name == "format") {
            read = readVariant(message, 'u', description.format);
        } else if (name == "width") {
            read = readVariant(message, 'u', description.width);
        } else if (name == "height") {
            read = readVariant(message, 'u', description.height);
        } else if (name == "stride") {
            read = readVariant(message, 'u', description.stride);
        } else {
            read = sd_bus_message_skip(message, "v") >= 0;
        }
        if (!read || sd_bus_message_exit_container(message) < 0)
            return false;
    }
    return sd_bus_message_exit_container(message) >= 0;
}

int takeReply(sd_bus_message* message, void* data, sd_bus_error*) {
    auto& request = *static_cast<Request*>(data);
    if (const sd_bus_error* error = sd_bus_message_get_error(message)) {
        request.fail("KWin refused the picture of " + request.screen + ": " + errorText(*error));
        return 0;
    }
    PictureDescription description;
    if (!readDescription(message, description)) {
        request.fail("KWin's answer for " + request.screen + " is not a description of a picture");
        return 0;
    }
    request.description = description;
    return 0;
}

// Takes what the pipe holds now, without waiting.
void readPipe(Request& request) {
    std::byte chunk[1 << 16];
    while (request.pipe.get() >= 0) {
        const ssize_t count = read(request.pipe.get(), chunk, sizeof chunk);
        if (count > 0) {
            if (request.bytes.size() + count > largestPictureBytes)
                return request.fail("KWin wrote more than a picture of " + request.screen);
            request.bytes.insert(request.bytes.end(), chunk, chunk + count);
        } else if (count == 0) {
            request.pipeClosed = true;
            request.pipe.reset();
        } else if (errno != EINTR) {
            if (errno != EAGAIN)
                request.fail("cannot read KWin's picture of " + request.screen + ": " +
                             std::strerror(errno));
            return;
        }
    }
}

// Sends the request for one screen, without the cursor and at the screen's own pixel size.
void ask(sd_bus* bus, Request& request, Clock::time_point deadline) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return request.fail(std::string("cannot make a pipe: ") + std::strerror(errno));
    request.pipe = FileDescriptor(ends[0]);
    // Ours only: the writer's end stays blocking, as a writer expects.
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    const FileDescriptor writeEnd(ends[1]); // the message keeps a copy of its own

    sd_bus_message* made = nullptr;
    int result = sd_bus_message_new_method_call(bus, &made, kwinService, kwinPath, kwinInterface,
                                                "CaptureScreen");
    const Message call(made);
    if (result >= 0)
        result = sd_bus_message_append(call.get(), "s", request.screen.c_str());
    if (result >= 0)
        result = sd_bus_message_append(call.get(), "a{sv}", 2, "include-cursor", "b", 0,
                                       "native-resolution", "b", 1);
    if (result >= 0)
        result = sd_bus_message_append(call.get(), "h", writeEnd.get());
    const auto patience = std::chrono::duration_cast<std::chrono::microseconds>(
        std::max(deadline - Clock::now(), Clock::duration(std::chrono::milliseconds(1))));
    sd_bus_slot* slot = nullptr;
    if (result >= 0)
        result = sd_bus_call_async(bus, &slot, call.get(), takeReply, &request,
                                   static_cast<std::uint64_t>(patience.count()));
    if (result < 0)
        return request.fail("cannot ask KWin for a picture: " + errorText(result));
    request.reply.reset(slot);
}

bool allFinished(const std::vector<std::unique_ptr<Request>>& requests) {
    return std::all_of(requests.begin(), requests.end(),
                       [](const auto& request) { return request->finished(); });
}

// Runs the bus and reads the pipes until every request is finished, the deadline passes or a
// termination signal comes.
void waitForPictures(sd_bus* bus, std::vector<std::unique_ptr<Request>>& requests,
                     Clock::time_point deadline) {
    while (!allFinished(requests) && !posix::TerminationSignals::requested()) {
        int processed;
        while ((processed = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (processed < 0) {
            for (auto& request : requests)
                request->fail("lost the session bus: " + errorText(processed));
            return;
        }
        if (allFinished(requests))
            return;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return;
        std::vector<pollfd> waits{
            {sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
            {posix::TerminationSignals::wakeFd(), POLLIN, 0}};
        for (const auto& request : requests)
            if (request->pipe.get() >= 0)
                waits.push_back({request->pipe.get(), POLLIN, 0});
        const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(left);
        if (poll(waits.data(), waits.size(), static_cast<int>(timeout.count())) < 0 &&
            errno != EINTR)
            return;
        for (auto& request : requests)
            readPipe(*request);
    }
}

ScreenCapture captureOf(Request& request) {
    if (!request.failure.empty())
        return {std::nullopt, std::move(request.failure)};
    if (!request.finished())
        return {std::nullopt, "KWin gave no picture of " + request.screen + " in time"};
    const DescriptionCheck check = checkDescription(*request.description);
    if (!check.problem.empty())
        return {std::nullopt, "KWin's picture of " + request.screen + ": " + check.problem};
    if (request.bytes.size() < check.bytes)
        return {std::nullopt, "KWin's picture of " + request.screen + " ended early"};
    const PictureDescription& description = *request.description;
    ScreenPicture picture{std::move(request.bytes), static_cast<int>(description.width),
                          static_cast<int>(description.height),
                          static_cast<std::ptrdiff_t>(description.stride),
                          *kwinPixelFormat(description.format)};
    picture.bytes.resize(check.bytes);
    return {std::move(picture), {}};
}

} // namespace

std::optional<PixelFormat> kwinPixelFormat(std::uint32_t qimageFormat) {
    // QImage's RGB32, ARGB32 and its premultiplied form are 0xAARRGGBB words; RGBX8888, RGBA8888
    // and its premultiplied form are bytes R, G, B, A in memory. The desktop is opaque, so
    // premultiplied pixels are the same.
    constexpr PixelFormat bytesRgba =
        std::endian::native == std::endian::little ? PixelFormat{0, 8, 16} : PixelFormat{24, 16, 8};
    switch (qimageFormat) {
    case 4:
    case 5:
    case 6:
        return xrgbPixels;
    case 16:
    case 17:
    case 18:
        return bytesRgba;
    default:
        return std::nullopt;
    }
}

DescriptionCheck checkDescription(const PictureDescription& description) {
    if (description.type != "raw")
        return {0, "not raw pixels (type \"" + description.type + "\")"};
    if (!kwinPixelFormat(description.format))
        return {0, "pixels in a format the saver does not read (" +
                       std::to_string(description.format) + ")"};
    if (description.width == 0 || description.height == 0 ||
        description.width > largestScreenSide || description.height > largestScreenSide)
        return {0, "an impossible size (" + std::to_string(description.width) + "x" +
                       std::to_string(description.height) + ")"};
    if (description.stride / 4 < description.width)
        return {0, "rows shorter than the picture is wide"};
    const std::size_t bytes = std::size_t{description.stride} * description.height;
    if (bytes > largestPictureBytes)
        return {0, "larger than any screen"};
    return {bytes, {}};
}

std::vector<ScreenCapture> captureScreens(std::span<const std::string> screenNames,
                                          Clock::time_point deadline) {
    std::vector<ScreenCapture> captures(screenNames.size());
    sd_bus* opened = nullptr;
    const int result = sd_bus_open_user(&opened);
    const Bus bus(opened);
    if (result < 0) {
        for (auto& capture : captures)
            capture.failure = "no session bus for KWin's screenshots: " + errorText(result);
        return captures;
    }
    // Each request's address is handed to the bus, so they must not move.
    std::vector<std::unique_ptr<Request>> requests;
    for (const std::string& name : screenNames) {
        requests.push_back(std::make_unique<Request>());
        requests.back()->screen = name;
        ask(bus.get(), *requests.back(), deadline);
    }
    waitForPictures(bus.get(), requests, deadline);
    for (std::size_t i = 0; i < requests.size(); ++i)
        captures[i] = captureOf(*requests[i]);
    return captures;
}

} // namespace zorblinth::wayland
