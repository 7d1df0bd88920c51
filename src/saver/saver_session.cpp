#include "saver/saver_session.hpp"

namespace zorblinth {

void TickSchedule::ticked(Clock::time_point now) {
    if (now < next_)
        return; // drawn early (a repaint, say): the step still stands
    const auto stepsPassed = (now - next_) / tickPeriod + 1;
    next_ += stepsPassed * std::chrono::duration_cast<Clock::duration>(tickPeriod);
}

} // namespace zorblinth
