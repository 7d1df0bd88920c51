#include "padded_picture.hpp"
#include "saver/random_source.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using zorblinth::RandomSource;
using zorblinth::test_support::frozenClock;

namespace {
std::uint64_t tickingClockValue = 0;
std::uint64_t tickingClock() {
    return ++tickingClockValue;
}
} // namespace

TEST(RandomSource, DrawsAre24BitFractionsInTheUnitInterval) {
    RandomSource random(frozenClock<1234567>, 42);
    for (int i = 0; i < 100000; ++i) {
        const float r = random.draw();
        ASSERT_GE(r, 0.0f);
        ASSERT_LT(r, 1.0f);
        const float scaled = r * 16777216.0f;
        ASSERT_EQ(scaled, std::floor(scaled)) << r;
    }
}

TEST(RandomSource, DrawsWithinOneClockReadingDifferAndStayUniform) {
    RandomSource random(frozenClock<1234567>, 7);
    std::set<float> seen;
    int buckets[10] = {};
    const int draws = 100000;
    for (int i = 0; i < draws; ++i) {
        const float r = random.draw();
        seen.insert(r);
        ++buckets[static_cast<int>(r * 10)];
    }
    // 10^5 draws from 2^24 values: a handful of birthday collisions at most.
    EXPECT_GT(seen.size(), draws - 1000u);
    for (int count : buckets) {
        EXPECT_GT(count, draws / 10 - 600);
        EXPECT_LT(count, draws / 10 + 600);
    }
}

TEST(RandomSource, TheClockTakesPartInEveryDraw) {
    RandomSource frozen(frozenClock<1234567>, 99);
    RandomSource ticking(tickingClock, 99);
    int same = 0;
    for (int i = 0; i < 1000; ++i)
        same += frozen.draw() == ticking.draw();
    EXPECT_LT(same, 5);
}
