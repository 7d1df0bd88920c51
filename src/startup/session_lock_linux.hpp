#pragma once

#include "platform/logind_session_linux.hpp"
#include "saver/lock_on_end.hpp"

#include <optional>
#include <string>

namespace zorblinth::posix {

// --lock: the saver's locker is logind, for this process's own session, found only when the
// lock is asked for so that a saver never waits on the system bus while it starts.
class LogindLocker final : public SessionLocker {
public:
    bool requestLock(std::chrono::milliseconds patience) override;
    bool locked(std::chrono::milliseconds patience) override;
    std::string why() const override { return why_; }

private:
    std::optional<LogindSession> session_;
    std::string why_;
};

} // namespace zorblinth::posix
