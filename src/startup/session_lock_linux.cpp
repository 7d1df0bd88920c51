#include "startup/session_lock_linux.hpp"

namespace zorblinth::posix {

bool LogindLocker::requestLock(std::chrono::milliseconds patience) {
    // Finding the session and the request share the one patience.
    const auto deadline = LogindSession::Clock::now() + patience;
    session_ = LogindSession::find(deadline, why_);
    return session_ && session_->lock(deadline, why_);
}

bool LogindLocker::locked(std::chrono::milliseconds patience) {
    return session_ && session_->lockedHint(LogindSession::Clock::now() + patience).value_or(false);
}

} // namespace zorblinth::posix
