#include "saver/ending.hpp"

#include <gtest/gtest.h>

using namespace zorblinth;

TEST(Ending, CharactersAndButtonsEndWherever) {
    const Point start{500, 400};
    EXPECT_TRUE(endsSaver({InputKind::character, {}}, start));
    EXPECT_TRUE(endsSaver({InputKind::mouseButton, start}, start));
}

TEST(Ending, AnyMoveAwayFromTheStartCursorEnds) {
    const Point start{500, 400};
    EXPECT_FALSE(endsSaver({InputKind::mouseMove, start}, start));
    for (Point moved :
         {Point{501, 400}, Point{499, 400}, Point{500, 401}, Point{500, 399}, Point{0, 0}})
        EXPECT_TRUE(endsSaver({InputKind::mouseMove, moved}, start));
}
