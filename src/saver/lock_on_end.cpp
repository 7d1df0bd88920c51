#include "saver/lock_on_end.hpp"

#include <algorithm>
#include <iostream>

namespace zorblinth {

namespace {

std::chrono::milliseconds leftUntil(LockOnEnd::Clock::time_point deadline,
                                    LockOnEnd::Clock::time_point now) {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - now),
                    std::chrono::milliseconds::zero());
}

} // namespace

std::chrono::milliseconds LockOnEnd::lookPatienceAt(Clock::time_point now) const {
    return std::min(lookPatience, leftUntil(deadline_, now));
}

std::chrono::milliseconds LockOnEnd::coverAt(Clock::time_point now) const {
    return std::min(lookInterval, leftUntil(deadline_, now));
}

LockResult lockAfterInput(SessionLocker* locker, const SaverSession& session,
                          const KeepCovering& keepCovering) {
    if (!LockOnEnd::wanted(locker != nullptr, session))
        return LockResult::notWanted;
    const auto endedAt = LockOnEnd::Clock::now();
    const LockOnEnd lock(endedAt, locker->requestLock(LockOnEnd::answerPatience));
    if (lock.result() == LockResult::notLocked) {
        std::cerr << "zorblinth: the session was not locked: " << locker->why() << '\n';
        return LockResult::notLocked;
    }
    for (;;) {
        const bool sessionLocked = locker->locked(lock.lookPatienceAt(LockOnEnd::Clock::now()));
        const auto now = LockOnEnd::Clock::now();
        if (!sessionLocked && !lock.keepCovering(false, now)) {
            // A locker that does not set the hint (swaylock does not) ends here.
            std::cerr << "zorblinth: the session's locker did not say within "
                      << LockOnEnd::coverLimit.count() << " ms that the session is locked\n";
            return lock.result();
        }
        if (sessionLocked || !keepCovering(lock.coverAt(now)))
            return lock.result();
    }
}

} // namespace zorblinth
