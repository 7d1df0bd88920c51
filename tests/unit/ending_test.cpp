#include "saver/ending.hpp"
#include "saver/saver_session.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

using namespace zorblinth;

namespace {
InputEvent key(char32_t character, bool altHeld = false) {
    return {InputKind::key, {}, character, altHeld};
}
} // namespace

TEST(Ending, KeysEndOnlyWhenTheyTypeACharacter) {
    const Point start{500, 400};
    for (char32_t typed : {U'a', U'Z', U'7', U' ', U'\r', U'\x1b', U'\b', U'\x01', U'é', U'あ'})
        EXPECT_TRUE(endsSaver(key(typed), start)) << static_cast<int>(typed);
    // Shift, arrows, function keys type nothing; Delete and Alt combinations type no character
    // a window receives.
    EXPECT_FALSE(endsSaver(key(0), start));
    EXPECT_FALSE(endsSaver(key(U'\x7f'), start));
    EXPECT_FALSE(endsSaver(key(U'a', true), start));
}

TEST(Ending, ButtonsEndWhereverTheWheelNever) {
    const Point start{500, 400};
    EXPECT_TRUE(endsSaver({InputKind::mouseButton, start}, start));
    EXPECT_TRUE(endsSaver({InputKind::mouseButton, {3, 3}}, start));
    EXPECT_FALSE(endsSaver({InputKind::wheel, start}, start));
    EXPECT_FALSE(endsSaver({InputKind::wheel, {3, 3}}, start));
}

TEST(Ending, AnyMoveAwayFromTheStartCursorEnds) {
    const Point start{500, 400};
    EXPECT_FALSE(endsSaver({InputKind::mouseMove, start}, start));
    for (Point moved :
         {Point{501, 400}, Point{499, 400}, Point{500, 401}, Point{500, 399}, Point{0, 0}})
        EXPECT_TRUE(endsSaver({InputKind::mouseMove, moved}, start));
}

TEST(SaverSession, EndsForGoodOnTheFirstSignOfTheUser) {
    SaverSession session(Point{10, 20}, {3, 9});
    EXPECT_FALSE(session.take({InputKind::mouseMove, {10, 20}}));
    EXPECT_FALSE(session.take(key(0)));
    EXPECT_FALSE(session.take({InputKind::wheel}));
    EXPECT_FALSE(session.ended());
    EXPECT_TRUE(session.take({InputKind::mouseMove, {11, 20}}));
    // Once ended, a move back to the start does not bring it back.
    EXPECT_TRUE(session.take({InputKind::mouseMove, {10, 20}}));
    EXPECT_TRUE(session.ended());
}

TEST(SaverSession, DrawsWithSettingsInTheDialogsRanges) {
    EXPECT_EQ(SaverSession(Point{}, SaverSettings{0, 0}).settings(), (SaverSettings{1, 1}));
    EXPECT_EQ(SaverSession(Point{}, SaverSettings{200, 21}).settings(), (SaverSettings{10, 20}));
    EXPECT_EQ(SaverSession(Point{}, SaverSettings{4, 12}).settings(), (SaverSettings{4, 12}));
}

TEST(TickSchedule, TicksFallOnFiftyMillisecondStepsFromTheStart) {
    using namespace std::chrono_literals;
    const TickSchedule::Clock::time_point start{1000s};
    TickSchedule schedule(start);
    EXPECT_FALSE(schedule.due(start + 49ms));
    EXPECT_EQ(schedule.untilNext(start + 20ms), 30ms);
    // Woken a little late, the next step stays on the grid: no drift.
    EXPECT_TRUE(schedule.due(start + 52ms));
    schedule.ticked(start + 58ms);
    EXPECT_EQ(schedule.next(), start + 100ms);
    // The tick due at 100 ms ran past the steps at 150 and 200 ms: the next tick is delayed,
    // not dropped, and falls due at once; the one step before it is not made up.
    schedule.ticked(start + 213ms);
    EXPECT_EQ(schedule.next(), start + 200ms);
    EXPECT_TRUE(schedule.due(start + 213ms));
    // That late tick, ended before the step after it: back on the grid.
    schedule.ticked(start + 240ms);
    EXPECT_EQ(schedule.next(), start + 250ms);
    // Exactly on a step: the next is one period later.
    schedule.ticked(start + 250ms);
    EXPECT_EQ(schedule.next(), start + 300ms);
    // Drawn before it was due: the step stands.
    schedule.ticked(start + 280ms);
    EXPECT_EQ(schedule.next(), start + 300ms);
    EXPECT_EQ(schedule.untilNext(start + 400ms), 0ms);
    // Ticks that each take a little over a period follow one another at once, every one of
    // them drawn: a tick of 56 ms gives nearly eighteen a second, not ten.
    auto now = start + 400ms;
    for (int tick = 0; tick < 5; ++tick) {
        ASSERT_TRUE(schedule.due(now)) << "tick " << tick;
        now += 56ms;
        schedule.ticked(now);
    }
    EXPECT_EQ(schedule.next(), start + 650ms);
    EXPECT_EQ(schedule.untilNext(now), 0ms);
}

TEST(SaverSession, WithoutAKnownStartTheFirstMoveIsTheStart) {
    SaverSession session(std::nullopt, {1, 1});
    EXPECT_TRUE(session.take({InputKind::mouseButton})); // a click needs no start
    SaverSession moved(std::nullopt, {1, 1});
    EXPECT_FALSE(moved.take({InputKind::mouseMove, {300, 200}}));
    EXPECT_EQ(moved.startCursor(), (Point{300, 200}));
    EXPECT_FALSE(moved.take({InputKind::mouseMove, {300, 200}}));
    EXPECT_TRUE(moved.take({InputKind::mouseMove, {300, 201}}));
}

TEST(SaverSession, AMoveOnAnotherSurfaceEndsOnceTheStartIsKnown) {
    // Before the start, a move anywhere is the start, on whichever surface it comes.
    SaverSession session(std::nullopt, {1, 1});
    EXPECT_FALSE(session.take({InputKind::mouseMove, {40, 30}, 0, false, 2}));
    EXPECT_FALSE(session.take({InputKind::mouseMove, {40, 30}, 0, false, 2}));
    // The pointer entering another monitor's surface, even at the very same numbers, has moved.
    EXPECT_TRUE(session.endsSaver({InputKind::mouseMove, {40, 30}, 0, false, 1}));
    EXPECT_TRUE(session.take({InputKind::mouseMove, {40, 30}, 0, false, 3}));
}

namespace {
std::uint64_t stillClock() {
    return 7;
}

std::vector<std::uint32_t> tickedPicture(PictureDrawing& drawing, int width, int height) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0xFFFFFFu);
    drawing.tick({pixels.data(), width, height, width, xrgbPixels});
    return pixels;
}
} // namespace

TEST(SaverSession, EveryMonitorDrawsLinesOfItsOwn) {
    // A clock that never moves and one starting state: only the monitors' own sources can
    // tell their pictures apart.
    SaverSession session(Point{}, {4, 20}, RandomSource(stillClock, 12345));
    PictureDrawing first = session.drawingForAnotherMonitor();
    PictureDrawing second = session.drawingForAnotherMonitor();
    EXPECT_EQ(first.settings(), (SaverSettings{4, 20}));
    const auto firstPicture = tickedPicture(first, 160, 90);
    EXPECT_NE(firstPicture, tickedPicture(second, 160, 90));
    // Nor is either the session's own first picture.
    std::vector<std::uint32_t> own(160 * 90, 0xFFFFFFu);
    session.tick({own.data(), 160, 90, 160, xrgbPixels});
    EXPECT_NE(own, firstPicture);
}

TEST(SaverSession, APointerTheSystemMovedIsTheNewStart) {
    SaverSession session(Point{1500, 500}, {1, 1});
    // The monitor under the pointer went away and the server put the pointer on another.
    session.pointerMovedBySystem({1279, 500});
    EXPECT_FALSE(session.take({InputKind::mouseMove, {1279, 500}}));
    EXPECT_TRUE(session.take({InputKind::mouseMove, {1278, 500}}));
    // On Wayland the new start is on another output's surface: moves there are compared there.
    SaverSession onSurfaces(std::nullopt, {1, 1});
    EXPECT_FALSE(onSurfaces.take({InputKind::mouseMove, {10, 10}, 0, false, 2}));
    onSurfaces.pointerMovedBySystem({300, 20}, 1);
    EXPECT_FALSE(onSurfaces.take({InputKind::mouseMove, {300, 20}, 0, false, 1}));
    EXPECT_TRUE(onSurfaces.take({InputKind::mouseMove, {300, 20}, 0, false, 2}));
}

TEST(SaverSession, AfterALateEnterTheFirstMotionEndsItEvenWhereThePointerEntered) {
    using namespace std::chrono_literals;
    const std::chrono::steady_clock::time_point shown{100s};
    const InputEvent entered{InputKind::mouseMove, {40, 30}, 0, false, 1, true};
    const InputEvent movedThere{InputKind::mouseMove, {40, 30}, 0, false, 1};
    // (when the enter comes, after the surfaces showed; whether a motion report at the enter's
    // point then ends it). A compositor that gives the pointer with the first frame (sway,
    // KWin): the enter is the start, a report of the same point no move. mutter gives it with
    // the first motion: an enter and a motion report at that point, which is a move.
    for (const auto& [after, motionThereEnds] :
         {std::pair{-30ms, false}, std::pair{0ms, false}, std::pair{enterPatience, false},
          std::pair{enterPatience + 1ms, true}, std::pair{std::chrono::milliseconds(5s), true}}) {
        SaverSession session(std::nullopt, {1, 1});
        session.surfacesShown(shown);
        EXPECT_FALSE(session.take(entered, shown + after)) << after.count() << " ms";
        EXPECT_EQ(session.take(movedThere, shown + after), motionThereEnds) << after.count();
        EXPECT_TRUE(session.take({InputKind::mouseMove, {41, 30}, 0, false, 1}, shown + 9s));
    }
    // A late enter alone (mutter's, once it has shown a new window) stays the start: keys that
    // type nothing, the wheel and the pointer entering again at that point leave it running;
    // a later "shown" does not move the first one.
    SaverSession session(std::nullopt, {1, 1});
    session.surfacesShown(shown);
    session.surfacesShown(shown + 10s);
    EXPECT_FALSE(session.take(entered, shown + 3s));
    EXPECT_FALSE(session.take(key(0), shown + 9s));
    EXPECT_FALSE(session.take({InputKind::wheel}, shown + 9s));
    EXPECT_FALSE(session.take(entered, shown + 9s));
    EXPECT_TRUE(session.take(movedThere, shown + 9s));
}

TEST(SaverSession, OnlyAnotherProgramTakingActivationOnceTheSaverHeldItEndsIt) {
    using enum ActivationHolder;
    const struct {
        std::vector<ActivationHolder> holders;
        bool ends;
    } cases[] = {
        {{anotherProgram}, false},        // start-up, before the saver was active
        {{saver, saver, saver}, false},   // between the saver's own windows
        {{saver, unknown, saver}, false}, // the window system between two windows
        {{saver, anotherProgram}, true},  {{anotherProgram, saver, unknown, anotherProgram}, true},
    };
    for (const auto& [holders, ends] : cases) {
        SaverSession session(Point{0, 0}, {1, 1});
        for (const ActivationHolder holder : holders)
            session.activationHeldBy(holder);
        EXPECT_EQ(session.ended(), ends)
            << holders.size() << " changes, last " << static_cast<int>(holders.back());
    }
}
