#include "idle/idle_watch.hpp"

#include <iterator>

namespace zorblinth::idle {

IdleWatch::Action IdleWatch::sessionIdle() {
    idle_ = true;
    if (saverRunning_ || served_ || inhibited())
        return Action::none;
    return Action::startSaver;
}

void IdleWatch::sessionActive() {
    idle_ = false;
    served_ = false;
}

void IdleWatch::saverStarted() {
    saverRunning_ = true;
    served_ = true;
}

void IdleWatch::saverEnded() {
    // The input that ended it may have been told before its end: the period stays served
    // only if no input came since it started.
    saverRunning_ = false;
}

IdleWatch::Action IdleWatch::shieldRaised() {
    if (!saverRunning_)
        return Action::none; // the start asks the desktop first
    served_ = true;
    return Action::endSaver;
}

std::uint32_t IdleWatch::inhibit(const std::string& caller) {
    // Never 0, and never one still held: callers treat 0 as failure.
    while (nextCookie_ == 0 || cookies_.contains(nextCookie_))
        ++nextCookie_;
    const std::uint32_t cookie = nextCookie_++;
    cookies_.emplace(cookie, caller);
    return cookie;
}

bool IdleWatch::uninhibit(const std::string& caller, std::uint32_t cookie) {
    const auto found = cookies_.find(cookie);
    if (found == cookies_.end() || found->second != caller)
        return false;
    cookies_.erase(found);
    inhibitEnded_ = cookies_.empty();
    return true;
}

void IdleWatch::callerLeft(const std::string& caller) {
    const bool held = inhibited();
    for (auto cookie = cookies_.begin(); cookie != cookies_.end();)
        cookie = cookie->second == caller ? cookies_.erase(cookie) : std::next(cookie);
    if (held && !inhibited())
        inhibitEnded_ = true;
}

void IdleWatch::callersGone() {
    if (inhibited())
        inhibitEnded_ = true;
    cookies_.clear();
}

bool IdleWatch::restartTimeoutAfterInhibit() {
    const bool ended = inhibitEnded_;
    inhibitEnded_ = false;
    if (ended) {
        // The time counted while inhibited does not count: wait for a full timeout again.
        idle_ = false;
        served_ = false;
    }
    return ended;
}

} // namespace zorblinth::idle
