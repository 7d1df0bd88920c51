#include "saver/saver_session.hpp"

#include <algorithm>

namespace zorblinth {

void TickSchedule::ticked(Clock::time_point now) {
    if (now < next_)
        return; // drawn early (a repaint, say): the step still stands
    // Whole steps from the one it was due at to now: none, the next step is still to come; some,
    // the last of them is the next tick's, late, and the ones before it are dropped.
    const auto stepsPassed = std::max<Clock::rep>((now - next_) / tickPeriod, 1);
    next_ += stepsPassed * std::chrono::duration_cast<Clock::duration>(tickPeriod);
}

} // namespace zorblinth
