#include "x_server_handles_x11.hpp"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

namespace zorblinth::bench {

namespace {

constexpr int xvfbDeadlineMs = 10000;

// Reads one line from fd, waiting no longer than the deadline in all; empty when none came.
std::string readLine(int fd, int deadlineMs) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(deadlineMs);
    std::string line;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd readable{fd, POLLIN, 0};
        if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) <= 0)
            return {};
        char c = 0;
        if (read(fd, &c, 1) != 1)
            return {}; // it ended before telling
        if (c == '\n')
            return line;
        line += c;
    }
}

} // namespace

PrivateXvfb::PrivateXvfb(int deadlineMs) {
    int told[2];
    if (pipe(told) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        close(told[0]);
        // Its warnings about fonts and socket folders are not ours to print.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        const std::string fd = std::to_string(told[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(told[1]);
    if (pid_ > 0) {
        const std::string number = readLine(told[0], deadlineMs);
        if (!number.empty())
            name_ = ":" + number;
        else
            stop(SIGKILL); // whatever it is doing, it is not serving
    }
    close(told[0]);
}

PrivateXvfb::~PrivateXvfb() {
    stop(SIGTERM);
}

void PrivateXvfb::stop(int signal) {
    if (pid_ <= 0)
        return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

XServer::XServer() : handles_(std::make_unique<Handles>()) {}
XServer::~XServer() = default;

std::unique_ptr<XServer> XServer::open(std::string& whyNot) {
    std::unique_ptr<XServer> server(new XServer);
    Handles& handles = server->handles();
    std::string name;
    if (const char* given = std::getenv("DISPLAY"); given != nullptr && *given != '\0') {
        name = given;
        server->description_ = "$DISPLAY " + name;
    } else {
        handles.xvfb = std::make_unique<PrivateXvfb>(xvfbDeadlineMs);
        name = handles.xvfb->name();
        if (name.empty()) {
            whyNot = "no $DISPLAY, and Xvfb did not start within 10 s (is it installed?)";
            return nullptr;
        }
        server->description_ = "private Xvfb " + name;
    }
    handles.connection.reset(XOpenDisplay(name.c_str()));
    Display* const display = handles.connection.get();
    if (display == nullptr) {
        whyNot = "cannot open " + server->description_;
        return nullptr;
    }
    const Visual* visual = DefaultVisual(display, DefaultScreen(display));
    if (DefaultDepth(display, DefaultScreen(display)) != 24 || visual->red_mask != 0xFF0000 ||
        visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF) {
        whyNot = server->description_ + " has no 24-bit 0x00RRGGBB default visual";
        return nullptr;
    }
    return server;
}

} // namespace zorblinth::bench
