#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zorblinth::idle {

// What the watcher decides, whatever tells it that the session went idle: when the saver is
// started, and who keeps it away. The sources, the inhibitors and the saver's process turn
// their events into these calls and do what the answer says.
class IdleWatch {
public:
    enum class Action {
        none,
        startSaver,
        endSaver, // with SIGTERM, which never locks
    };

    // The source says: no input for the whole timeout.
    Action sessionIdle();
    // The source says: input again.
    void sessionActive();

    // The saver that startSaver asked for runs, or could not be started (then saverEnded).
    void saverStarted();
    // Ended, by the user or failing. Either way the idle period it was started for counts as
    // served: the next start needs input first (before or after the end), so a saver that
    // fails at once is never restarted in a loop.
    void saverEnded();
    bool saverRunning() const { return saverRunning_; }

    // The desktop's own blank or lock came up (GNOME's shield, the session locked). A saver
    // running now would go on unseen behind it, and after the unlock would want one more key
    // (and with --lock, lock the session a second time): it is ended. Its idle period counts as
    // served. A saver that asked for the lock itself and waits for it is ended too: its request
    // was made before the session could say it is locked, so the end changes nothing of it.
    Action shieldRaised();

    // Inhibit(application, reason) from the bus peer caller: the cookie to hand back.
    std::uint32_t inhibit(const std::string& caller);
    // UnInhibit(cookie); false when the cookie is unknown or another caller's.
    bool uninhibit(const std::string& caller, std::uint32_t cookie);
    // The caller left the bus: its inhibits end with it.
    void callerLeft(const std::string& caller);
    // The bus itself went away, and every caller with it.
    void callersGone();
    bool inhibited() const { return !cookies_.empty(); }
    // Once the last inhibit has ended, the source must count the timeout again from now, as a
    // video that just ended is not a session left alone for the whole timeout.
    bool restartTimeoutAfterInhibit();

private:
    bool idle_ = false;
    bool served_ = false;
    bool saverRunning_ = false;
    bool inhibitEnded_ = false;
    std::uint32_t nextCookie_ = 1;
    std::map<std::uint32_t, std::string> cookies_;
};

} // namespace zorblinth::idle
