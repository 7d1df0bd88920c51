#include "idle/idle_watch.hpp"
#include "idle/server_saver.hpp"

#include <gtest/gtest.h>

namespace zorblinth::idle {
namespace {

using Action = IdleWatch::Action;

// A saver that ended (by the user, or failing at once) is not started again until input came:
// a saver that cannot start must not be restarted in a loop while the session stays idle.
TEST(IdleWatch, StartsOnceAnIdlePeriodAndAgainOnlyAfterInput) {
    IdleWatch watch;
    ASSERT_EQ(watch.sessionIdle(), Action::startSaver);
    watch.saverStarted();
    EXPECT_EQ(watch.sessionIdle(), Action::none); // still running
    watch.saverEnded();
    EXPECT_EQ(watch.sessionIdle(), Action::none); // same idle period
    watch.sessionActive();
    ASSERT_EQ(watch.sessionIdle(), Action::startSaver);
    // The key that ends the saver may be told before the saver's end.
    watch.saverStarted();
    watch.sessionActive();
    watch.saverEnded();
    EXPECT_EQ(watch.sessionIdle(), Action::startSaver);
}

// A saver running behind the desktop's blank or lock is ended, and the idle period it was
// started for stays served even when its ending key (--lock) was told first: it comes again
// only after input and a whole timeout. Without a saver, the shield asks nothing.
TEST(IdleWatch, TheDesktopsShieldEndsTheSaverForTheIdlePeriod) {
    IdleWatch watch;
    EXPECT_EQ(watch.shieldRaised(), Action::none);
    for (const bool inputFirst : {false, true}) {
        SCOPED_TRACE(inputFirst ? "input, then the lock" : "the shield alone");
        ASSERT_EQ(watch.sessionIdle(), Action::startSaver);
        watch.saverStarted();
        if (inputFirst)
            watch.sessionActive();
        EXPECT_EQ(watch.shieldRaised(), Action::endSaver);
        watch.saverEnded();
        EXPECT_EQ(watch.shieldRaised(), Action::none);
        EXPECT_EQ(watch.sessionIdle(), Action::none);
        watch.sessionActive();
    }
}

// Inhibits belong to their caller: another caller's UnInhibit changes nothing, and a caller
// that leaves the bus takes all of its own along, then the timeout is counted afresh.
TEST(IdleWatch, InhibitsEndWithTheirCallerOnly) {
    IdleWatch watch;
    const auto video = watch.inhibit(":1.7");
    const auto second = watch.inhibit(":1.7");
    const auto other = watch.inhibit(":1.9");
    EXPECT_NE(video, 0u);
    EXPECT_NE(video, second);
    EXPECT_EQ(watch.sessionIdle(), Action::none);
    EXPECT_FALSE(watch.uninhibit(":1.9", video));
    watch.callerLeft(":1.7");
    EXPECT_TRUE(watch.inhibited());
    EXPECT_FALSE(watch.restartTimeoutAfterInhibit());
    EXPECT_TRUE(watch.uninhibit(":1.9", other));
    EXPECT_FALSE(watch.inhibited());
    EXPECT_TRUE(watch.restartTimeoutAfterInhibit());
    EXPECT_FALSE(watch.restartTimeoutAfterInhibit());
    EXPECT_EQ(watch.sessionIdle(), Action::startSaver);
}

// The X server's saver is the trigger: it comes on after the watcher's timeout (also where the
// user had turned it off) and shows nothing; a timeout past the server's 16 bits waits out the
// rest after it; what the user set is put back unless someone changed it meanwhile, also
// after a watcher before was killed.
TEST(ServerSaver, TheWatchersTimeoutAndWhatIsPutBack) {
    const ServerSaverSettings userOff{0, 0, 1, 1};
    const ServerSaverSettings set = watcherSettings(600);
    EXPECT_EQ(set, (ServerSaverSettings{600, 0, 0, 0}));
    EXPECT_EQ(idleAfterServerSaverMilliseconds(600, false), 0);
    EXPECT_EQ(watcherSettings(100000).timeoutSeconds, longestServerTimeoutSeconds);
    EXPECT_EQ(idleAfterServerSaverMilliseconds(100000, false),
              (100000 - longestServerTimeoutSeconds) * 1000);
    EXPECT_EQ(idleAfterServerSaverMilliseconds(100000, true), 0); // `xset s activate`
    EXPECT_EQ(userSettings(set, userOff), userOff); // recorded by a watcher that was killed
    EXPECT_EQ(userSettings(userOff, std::nullopt), userOff);
    const ServerSaverSettings userSince{300, 300, 1, 1};
    EXPECT_EQ(userSettings(userSince, userOff), userSince); // set after that watcher died
    EXPECT_EQ(settingsToRestore(userOff, set, set), userOff);
    EXPECT_EQ(settingsToRestore(userOff, set, ServerSaverSettings{300, 0, 0, 0}), std::nullopt);
}

} // namespace
} // namespace zorblinth::idle
