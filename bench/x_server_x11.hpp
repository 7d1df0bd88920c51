#pragma once

// An X server to draw on: the one $DISPLAY names when it is set, else a private Xvfb started for
// the run and stopped with it. Never waits long for either: a benchmark run must end. Xlib's
// names stay out of this header (they clash with ours, Screen among them): the handles are in
// x_server_handles_x11.hpp.
#include <memory>
#include <string>

namespace zorblinth::bench {

class XServer {
public:
    // nullptr, with the reason in whyNot, when no server with a 24-bit TrueColor screen
    // answered.
    static std::unique_ptr<XServer> open(std::string& whyNot);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Which server, for the record: "$DISPLAY :0" or "private Xvfb :3".
    const std::string& description() const { return description_; }

    struct Handles;
    Handles& handles() { return *handles_; }

private:
    XServer();

    std::unique_ptr<Handles> handles_;
    std::string description_;
};

} // namespace zorblinth::bench
