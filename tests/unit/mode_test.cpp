#include "startup/mode.hpp"

#include <gtest/gtest.h>

using zorblinth::Mode;
using zorblinth::modeFromArguments;

TEST(Mode, OnlyTheFirstTwoCharactersCountInEitherCase) {
    for (const char16_t* saver : {u"/s", u"/S", u"/s 1234", u"/Scr"})
        EXPECT_EQ(modeFromArguments(saver), Mode::saver);
    EXPECT_EQ(modeFromArguments(u"/p 1234"), Mode::preview);
    EXPECT_EQ(modeFromArguments(u"/P"), Mode::preview);
    EXPECT_EQ(modeFromArguments(u"/a 5678"), Mode::password);
}

TEST(Mode, EverythingElseOpensTheSettings) {
    for (const char16_t* other : {u"", u"/", u"s", u"-s", u"/c", u"/C:1234", u"/c:3812", u" /s",
                                  u"/x", u"\u017F/s", u"/\u017F"})
        EXPECT_EQ(modeFromArguments(other), Mode::settings);
}

TEST(Mode, AcceptsUtf8AndWideText) {
    EXPECT_EQ(modeFromArguments("/s"), Mode::saver);
    EXPECT_EQ(modeFromArguments("\xC3\xA9s"), Mode::settings);
    EXPECT_EQ(modeFromArguments(L"/A"), Mode::password);
}
