#include "dialog/dialog_model.hpp"

#include <gtest/gtest.h>

using namespace zorblinth;
using namespace zorblinth::dialog;

TEST(DialogModel, LabelIsThePrefixAndPlainDigits) {
    EXPECT_EQ(lineWidthLabelText(1), u"線の太さ - 1");
    EXPECT_EQ(lineWidthLabelText(5), u"線の太さ - 5");
    EXPECT_EQ(lineWidthLabelText(10), u"線の太さ - 10");
}

TEST(DialogModel, OpensWithStoredValuesBroughtIntoRange) {
    EXPECT_EQ(openingValues({5, 12}), (ScrollValues{5, 12}));
    EXPECT_EQ(openingValues({1, 1}), (ScrollValues{1, 1}));
    EXPECT_EQ(openingValues({0, 0}), (ScrollValues{1, 1}));      // new or empty file
    EXPECT_EQ(openingValues({11, 21}), (ScrollValues{10, 20}));  // just past the ends
    EXPECT_EQ(openingValues({255, 32}), (ScrollValues{10, 20})); // hand-edited
}

TEST(DialogModel, SavesTheBarPositionsAsBytes) {
    EXPECT_EQ(settingsToSave({7, 20}), (SaverSettings{7, 20}));
    EXPECT_EQ(settingsToSave({1, 1}), (SaverSettings{1, 1}));
}

TEST(DialogModel, EveryControlHasItsCaptionAndFitsTheDialog) {
    EXPECT_EQ(caption(Control::setButton), u"設定");
    EXPECT_EQ(caption(Control::cancelButton), u"キャンセル");
    EXPECT_EQ(caption(Control::lineAmountLabel), u"線の多さ");
    EXPECT_EQ(caption(Control::fewLabel), u"少ない");
    EXPECT_EQ(caption(Control::manyLabel), u"多い");
    EXPECT_TRUE(caption(Control::lineWidthBar).empty());
    for (const ControlLayout& control : layout) {
        EXPECT_LE(control.rect.left + control.rect.width, innerWidth);
        EXPECT_LE(control.rect.top + control.rect.height, innerHeight);
    }
}
