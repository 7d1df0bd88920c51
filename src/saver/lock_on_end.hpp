#pragma once

#include "saver/saver_session.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace zorblinth {

// The session's locker as the saver sees it (on Linux, logind): asked once for the lock, then
// asked whether the session says it is locked. Each call answers within the patience it is
// given, whatever the service behind it does.
class SessionLocker {
public:
    virtual ~SessionLocker() = default;
    // Asks for this session's lock; false, with why() saying why, when there is no one to ask
    // or it refused or did not answer in time.
    virtual bool requestLock(std::chrono::milliseconds patience) = 0;
    // Whether the session says it is locked now; false also when it did not say in time.
    virtual bool locked(std::chrono::milliseconds patience) = 0;
    virtual std::string why() const = 0;
};

// What came of a lock asked for with the saver's end.
enum class LockResult {
    notWanted, // no lock asked, or the saver did not end by the user's input
    locked,    // the lock was requested and accepted (the session said so, or the wait ran out)
    notLocked, // no locker, a refusal, or no answer in time: the session is open
};

// The rule for locking as the saver ends: only after the user's input ended it (never a signal
// or another program taking the screen), the request first, then the saver keeps covering every
// monitor until the session says it is locked, so that the desktop never shows in between, but
// for no longer than coverLimit from the input. The request itself has answerPatience, so that
// a locker that never answers lets the saver end within a second of the input.
class LockOnEnd {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds answerPatience{600};
    static constexpr std::chrono::milliseconds coverLimit{2000};
    // How long each look at the session's state may take, and how long the saver covers between
    // two looks.
    static constexpr std::chrono::milliseconds lookPatience{250};
    static constexpr std::chrono::milliseconds lookInterval{50};

    // Whether a lock is to be asked for: one was wanted and the user's input ended the saver.
    static bool wanted(bool lockAsked, const SaverSession& session) {
        return lockAsked && session.endedByInput();
    }

    // Input ended the saver at `endedAt`, and the lock request was `accepted` or not.
    LockOnEnd(Clock::time_point endedAt, bool accepted)
        : deadline_(endedAt + coverLimit), accepted_(accepted) {}

    // Whether the saver is to go on covering, the session having said `sessionLocked` at `now`.
    bool keepCovering(bool sessionLocked, Clock::time_point now) const {
        return accepted_ && !sessionLocked && now < deadline_;
    }
    // How long the next look at the session may take, and the cover after it, at `now`.
    std::chrono::milliseconds lookPatienceAt(Clock::time_point now) const;
    std::chrono::milliseconds coverAt(Clock::time_point now) const;

    LockResult result() const { return accepted_ ? LockResult::locked : LockResult::notLocked; }

private:
    Clock::time_point deadline_;
    bool accepted_;
};

// Keeps the saver's windows up for at most the time given, handling the window system
// meanwhile; false when the saver must end now (a termination signal, the display gone).
using KeepCovering = std::function<bool(LockOnEnd::Clock::duration)>;

// After the saver's event loop, before its windows go: asks the locker for the lock where
// LockOnEnd::wanted, and covers until the session is locked or the limit. A locker of null
// means none was asked for. On notLocked one line on stderr says the session was not locked.
LockResult lockAfterInput(SessionLocker* locker, const SaverSession& session,
                          const KeepCovering& keepCovering);

// The outcome of a saver that ended, with what came of the lock.
constexpr SaverOutcome outcomeWith(LockResult lock) {
    return lock == LockResult::notLocked ? SaverOutcome::endedNotLocked : SaverOutcome::ended;
}

} // namespace zorblinth
