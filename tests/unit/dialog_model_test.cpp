#include "dialog/dialog_model.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

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

TEST(DialogModel, TheIdleGroupSitsBelowTheSeedsControlsInsideTheGrownDialog) {
    EXPECT_EQ(caption(IdleControl::startWhenIdleBox), u"パソコンを使っていないときに開始する");
    EXPECT_EQ(caption(IdleControl::waitLabel), u"待ち時間");
    EXPECT_EQ(caption(IdleControl::minutesLabel), u"分");
    EXPECT_EQ(caption(IdleControl::lockOnResumeBox), u"再開時にロック画面を表示する");
    EXPECT_TRUE(caption(IdleControl::waitMinutesBox).empty());
    for (std::size_t i = 0; i < std::size(idleGroupLayout); ++i) {
        const Rect& r = idleGroupLayout[i].rect;
        EXPECT_GE(r.top, innerHeight) << "over the seed's controls";
        EXPECT_LE(r.left + r.width, innerWidth);
        EXPECT_LE(r.top + r.height, innerHeightWithIdleGroup);
        for (std::size_t j = i + 1; j < std::size(idleGroupLayout); ++j) {
            const Rect& o = idleGroupLayout[j].rect;
            EXPECT_TRUE(r.left + r.width <= o.left || o.left + o.width <= r.left ||
                        r.top + r.height <= o.top || o.top + o.height <= r.top)
                << i << " overlaps " << j;
        }
    }
}

namespace {
struct EntryCase {
    std::optional<std::vector<std::string>> entry;
    IdleChoice shown;
};
} // namespace

// What the group shows for an entry, hand-edited ones included.
TEST(DialogModel, TheIdleGroupShowsTheEntryInForceClampedAndOnlyOurs) {
    using Command = std::vector<std::string>;
    const EntryCase cases[] = {
        {std::nullopt, {false, 10, false}},
        {Command{"/usr/bin/zorblinth", "--idle", "420"}, {true, 7, false}},
        {Command{"zorblinth", "--idle=61", "--one-monitor", "--lock"}, {true, 2, true}},
        {Command{"/opt/z/zorblinth", "-idle", "30", "-lock"}, {true, 1, true}},
        {Command{"zorblinth", "--idle", "0"}, {true, 1, false}},
        {Command{"zorblinth", "--idle", "-60"}, {true, 1, false}},
        {Command{"zorblinth", "--idle", "99999999999999999999999"}, {true, 9999, false}},
        {Command{"zorblinth", "--idle", "600000"}, {true, 9999, false}},
        {Command{"/usr/bin/xscreensaver", "--idle", "60"}, {false, 10, false}},
        {Command{"zorblinth", "--saver", "--lock"}, {false, 10, false}},
        {Command{"zorblinth", "--idle", "abc"}, {false, 10, false}},
        {Command{"zorblinth", "--idle"}, {false, 10, false}},
        {Command{}, {false, 10, false}},
    };
    for (const EntryCase& c : cases)
        EXPECT_EQ(idleChoiceOf(c.entry), c.shown)
            << (c.entry && !c.entry->empty() ? c.entry->back() : "none");
}

// "設定" keeps what the entry passed on to the saver, changes only what the group changed, and
// leaves an entry alone that is not ours and shows as off.
TEST(DialogModel, TheEntryChangesOnlyWhereTheGroupChanged) {
    using Command = std::vector<std::string>;
    const Command ours{"/usr/bin/zorblinth", "--idle", "600",
                       "--one-monitor",      "--lock", "--line-width=3"};
    const Command foreign{"/usr/bin/xautolock", "-time", "10"};
    EXPECT_EQ(watcherArgumentsFor({true, 7, false}, ours),
              (Command{"--idle", "420", "--one-monitor", "--line-width=3"}));
    EXPECT_EQ(watcherArgumentsFor({true, 7, true}, foreign), (Command{"--idle", "420", "--lock"}));
    EXPECT_EQ(watcherArgumentsFor({true, 0, false}, std::nullopt), (Command{"--idle", "60"}));

    EXPECT_FALSE(entryChangeFor({true, 10, true}, ours).needed) << "shown as it opened";
    EXPECT_FALSE(entryChangeFor({false, 3, true}, std::nullopt).needed) << "off stays off";
    EXPECT_FALSE(entryChangeFor({false, 10, false}, foreign).needed) << "not ours";
    const EntryChange off = entryChangeFor({false, 10, true}, ours);
    EXPECT_TRUE(off.needed);
    EXPECT_FALSE(off.watcherArguments.has_value()) << "removed";
    const EntryChange on = entryChangeFor({true, 7, true}, foreign);
    EXPECT_TRUE(on.needed);
    EXPECT_EQ(on.watcherArguments, (Command{"--idle", "420", "--lock"}));
    EXPECT_EQ(entryChangeFor({true, 10, false}, ours).watcherArguments,
              (Command{"--idle", "600", "--one-monitor", "--line-width=3"}));
}
