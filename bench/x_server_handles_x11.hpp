#pragma once

#include "x_server_x11.hpp"

#include "saver/x11/x11_handles_x11.hpp"

#include <sys/types.h>

#include <memory>
#include <string>

namespace zorblinth::bench {

// An Xvfb of its own on a display number it picks itself; stopped when this goes.
class PrivateXvfb {
public:
    // Empty name() when it did not tell its display within the deadline, or ended.
    explicit PrivateXvfb(int deadlineMs);
    ~PrivateXvfb();
    PrivateXvfb(const PrivateXvfb&) = delete;
    PrivateXvfb& operator=(const PrivateXvfb&) = delete;

    const std::string& name() const { return name_; }

private:
    void stop(int signal);

    pid_t pid_ = -1;
    std::string name_;
};

struct XServer::Handles {
    std::unique_ptr<PrivateXvfb> xvfb; // outlives the connection to it
    x11::DisplayConnection connection;
};

} // namespace zorblinth::bench
