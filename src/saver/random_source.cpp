#include "saver/random_source.hpp"

#include <chrono>
#include <ctime>

namespace zorblinth {

std::uint64_t coarseTimeOfDay() {
    return static_cast<std::uint64_t>(std::time(nullptr));
}

std::uint64_t preciseTimeOfDay() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count());
}

} // namespace zorblinth
