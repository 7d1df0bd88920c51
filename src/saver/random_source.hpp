#pragma once

#include <cstdint>

namespace zorblinth {

// A reading of the time of day, in any unit; only changes between readings matter.
using TimeOfDayClock = std::uint64_t (*)();

// The time of day in whole seconds: cheap enough to read for every draw (a precise clock costs
// tens of nanoseconds, hundreds of thousands of times a tick), and just as good for a re-seed.
std::uint64_t coarseTimeOfDay();

// The time of day in microseconds, for the state a source starts from.
std::uint64_t preciseTimeOfDay();

// Every draw re-seeds from the time of day and then takes the next number. The re-seed is
// mixed into a running state instead of replacing it, so draws within one clock reading still
// differ (a restart would give every line of a batch the same end points and colour).
class RandomSource {
public:
    explicit RandomSource(TimeOfDayClock clock = coarseTimeOfDay,
                          std::uint64_t state = preciseTimeOfDay())
        : clock_(clock), state_(state) {}

    // A multiple of 2^-24 in [0, 1); exact as a float.
    float draw() { return static_cast<float>(next24Bits()) * (1.0f / 16777216.0f); }

    // The same generator without the re-seed; the benchmark's baseline.
    float drawWithoutReseed() {
        return static_cast<float>(mix(advance()) >> 40) * (1.0f / 16777216.0f);
    }

    // The source as it stands `draws` draws on, reading the same clock, which may then be read
    // from two threads at once: a tick's draws taken in stretches on several threads are each
    // the draw taking them one after another gives (the clock apart, which is read when drawn).
    RandomSource ahead(std::uint64_t draws) const {
        RandomSource later = *this;
        later.state_ += draws * step;
        return later;
    }

private:
    static constexpr std::uint64_t step = 0x9E3779B97F4A7C15ull;
    std::uint64_t advance() { return state_ += step; }

    std::uint32_t next24Bits() {
        return static_cast<std::uint32_t>(mix(advance() ^ (clock_() * 0xD1B54A32D192ED03ull)) >>
                                          40);
    }

    // SplitMix64's finaliser: every input bit reaches every output bit.
    static std::uint64_t mix(std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    TimeOfDayClock clock_;
    std::uint64_t state_;
};

} // namespace zorblinth
