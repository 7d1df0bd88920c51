#include "saver/lock_on_end.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

using namespace zorblinth;
using namespace std::chrono_literals;

namespace {

// A locker that accepts or refuses, and says "locked" from its n-th look on (never: 0).
class FakeLocker final : public SessionLocker {
public:
    FakeLocker(bool accepts, int lockedFromLook) : accepts_(accepts), lockedFrom_(lockedFromLook) {}
    bool requestLock(std::chrono::milliseconds patience) override {
        ++requests;
        requestPatience = patience;
        return accepts_;
    }
    bool locked(std::chrono::milliseconds patience) override {
        EXPECT_LE(patience, LockOnEnd::lookPatience);
        return lockedFrom_ > 0 && ++looks >= lockedFrom_;
    }
    std::string why() const override { return "refused"; }

    int requests = 0;
    int looks = 0;
    std::chrono::milliseconds requestPatience{};

private:
    bool accepts_;
    int lockedFrom_;
};

// A session ended in turn by each of `endings`: 'i' a key, 's' a signal (or another program),
// 'm' the pointer told first long after the surfaces showed, then a motion at that very point
// (mutter's enter and motion: a move).
SaverSession endedBy(std::string_view endings) {
    const bool toldLate = endings.find('m') != std::string_view::npos;
    SaverSession session(toldLate ? std::nullopt : std::optional<Point>{Point{10, 10}},
                         SaverSettings{1, 1});
    const auto shown = std::chrono::steady_clock::now();
    session.surfacesShown(shown);
    for (const char ending : endings) {
        if (ending == 'i') {
            session.take({InputKind::key, {}, U'a'});
        } else if (ending == 'm') {
            session.take({.kind = InputKind::mouseMove, .position = {5, 5}, .entered = true},
                         shown + 1s);
            session.take({.kind = InputKind::mouseMove, .position = {5, 5}}, shown + 1s);
        } else {
            session.end();
        }
    }
    return session;
}

struct Case {
    const char* name;
    bool lockAsked;
    const char* endings;
    bool accepts;
    int lockedFromLook;
    bool signalWhileCovering;
    LockResult result;
    int requests;
    int covers; // how often the saver was told to keep covering
};

class LockAfterInput : public testing::TestWithParam<Case> {};

} // namespace

TEST_P(LockAfterInput, AsksOnlyAfterInputAndCoversUntilLocked) {
    const Case& c = GetParam();
    FakeLocker locker(c.accepts, c.lockedFromLook);
    const SaverSession session = endedBy(c.endings);
    int covers = 0;
    const LockResult result =
        lockAfterInput(c.lockAsked ? &locker : nullptr, session, [&](auto time) {
            EXPECT_LE(time, LockOnEnd::lookInterval);
            ++covers;
            return !c.signalWhileCovering;
        });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(locker.requests, c.requests);
    EXPECT_EQ(covers, c.covers);
    if (c.requests > 0) {
        EXPECT_LT(locker.requestPatience, 1s) << "a locker that never answers holds the saver";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LockAfterInput,
    testing::Values(
        Case{"NotAsked", false, "i", true, 1, false, LockResult::notWanted, 0, 0},
        Case{"EndedBySignal", true, "s", true, 1, false, LockResult::notWanted, 0, 0},
        Case{"EndedBySignalThenAKey", true, "si", true, 1, false, LockResult::notWanted, 0, 0},
        Case{"AKeyThenMoreInput", true, "iis", true, 1, false, LockResult::locked, 1, 0},
        Case{"AMoveAfterALateEnter", true, "m", true, 1, false, LockResult::locked, 1, 0},
        Case{"Refused", true, "i", false, 1, false, LockResult::notLocked, 1, 0},
        Case{"LockedAtOnce", true, "i", true, 1, false, LockResult::locked, 1, 0},
        Case{"LockedOnTheThirdLook", true, "i", true, 3, false, LockResult::locked, 1, 2},
        Case{"SignalWhileCovering", true, "i", true, 0, true, LockResult::locked, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The wait for the lock ends at the limit, counted from the input, whatever the session says.
TEST(LockOnEnd, CoversUntilLockedOrTheLimit) {
    const auto input = LockOnEnd::Clock::now();
    const LockOnEnd accepted(input, true);
    EXPECT_TRUE(accepted.keepCovering(false, input + 1s));
    EXPECT_FALSE(accepted.keepCovering(true, input + 1s));
    EXPECT_FALSE(accepted.keepCovering(false, input + LockOnEnd::coverLimit));
    EXPECT_EQ(accepted.coverAt(input + LockOnEnd::coverLimit - 20ms), 20ms);
    EXPECT_EQ(accepted.lookPatienceAt(input + LockOnEnd::coverLimit + 1s), 0ms);
    EXPECT_EQ(accepted.result(), LockResult::locked);
    const LockOnEnd refused(input, false);
    EXPECT_FALSE(refused.keepCovering(false, input));
    EXPECT_EQ(outcomeWith(refused.result()), SaverOutcome::endedNotLocked);
    EXPECT_EQ(outcomeWith(LockResult::notWanted), SaverOutcome::ended);
}
