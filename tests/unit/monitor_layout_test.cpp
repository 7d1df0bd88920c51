#include <gtest/gtest.h>

#include "saver/monitor_layout.hpp"

#include <vector>

using namespace zorblinth;

namespace {
const Area left{0, 0, 1280, 720};
const Area right{1280, 0, 1920, 1080};
const Area below{0, 1080, 800, 600};
} // namespace

TEST(LayoutChange, KeepsWhatIsStillThereAndCoversWhatIsNew) {
    const std::vector<Area> covered{left, right};
    EXPECT_EQ(layoutChange(covered, covered), LayoutChange{});
    // Listed in another order: nothing to do.
    EXPECT_EQ(layoutChange(covered, std::vector{right, left}), LayoutChange{});
    EXPECT_EQ(layoutChange(covered, std::vector{left, right, below}), (LayoutChange{{}, {below}}));
    // The indexes of those gone come in order, so that they can be taken away from the back.
    EXPECT_EQ(layoutChange(std::vector{left, below, right}, std::vector{below}),
              (LayoutChange{{0, 2}, {}}));
}

TEST(LayoutChange, AMonitorThatMovedOrChangedSizeIsCoveredAnew) {
    const Area moved{1920, 0, 1920, 1080};
    const Area resized{1280, 0, 2560, 1440};
    EXPECT_EQ(layoutChange(std::vector{left, right}, std::vector{left, moved}),
              (LayoutChange{{1}, {moved}}));
    EXPECT_EQ(layoutChange(std::vector{left, right}, std::vector{left, resized}),
              (LayoutChange{{1}, {resized}}));
    // Two monitors reported at one area (mirrored) are covered once.
    EXPECT_EQ(layoutChange(std::vector{left}, std::vector{left, right, right}),
              (LayoutChange{{}, {right}}));
    // From nothing (every window gone) to everything.
    EXPECT_EQ(layoutChange({}, std::vector{left, right}), (LayoutChange{{}, {left, right}}));
}
