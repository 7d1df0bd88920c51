// The one-copy rule, within one process; the end-to-end tests cover separate processes.
#include "startup/single_instance_win32.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace {

using zorblinth::win32::SingleInstance;

// Not the program's own name, so that a saver running in the same Wine prefix neither disturbs
// these tests nor is disturbed by them.
constexpr const wchar_t* testName = L"Zorblinth.SingleInstance.Test";

TEST(SingleInstance, WhileTheFirstClaimLivesLaterOnesSeeIt) {
    const SingleInstance first(testName);
    EXPECT_FALSE(first.anotherIsRunning());
    const SingleInstance second(testName);
    EXPECT_TRUE(second.anotherIsRunning());
    const SingleInstance third(testName);
    EXPECT_TRUE(third.anotherIsRunning());
}

TEST(SingleInstance, AClaimEndsWithItsOwner) {
    std::optional<SingleInstance> earlier(std::in_place, testName);
    EXPECT_FALSE(earlier->anotherIsRunning());
    earlier.reset();
    const SingleInstance later(testName);
    EXPECT_FALSE(later.anotherIsRunning());
}

TEST(SingleInstance, OtherNamesAreIndependent) {
    const SingleInstance claim(testName);
    const SingleInstance elsewhere(L"Zorblinth.SingleInstance.Test.Other");
    EXPECT_FALSE(elsewhere.anotherIsRunning());
}

} // namespace
