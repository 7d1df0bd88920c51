#pragma once

#include "settings/settings.hpp"

#include <string>
#include <string_view>

namespace zorblinth::dialog {

// How the dialog closed; start-up turns it into the program's exit status.
enum class DialogOutcome {
    closed,             // by either button or the close box; "設定" saved the settings
    settingsNotSaved,   // "設定" could not write the file, and the user was told why
    windowSystemFailed, // no window system, or the dialog could not be made
};

// Captions, exactly as the user sees them.
inline constexpr std::u16string_view title = u"Zorblinth - 設定";
inline constexpr std::u16string_view lineWidthPrefix = u"線の太さ - ";
inline constexpr std::u16string_view lineAmountCaption = u"線の多さ";
inline constexpr std::u16string_view fewCaption = u"少ない";
inline constexpr std::u16string_view manyCaption = u"多い";
inline constexpr std::u16string_view setCaption = u"設定";
inline constexpr std::u16string_view cancelCaption = u"キャンセル";

// The message box shown when "設定" cannot write the file: its title, and the heading above the
// file's name and the system's reason.
inline constexpr std::u16string_view saveFailureCaption = u"Zorblinth";
inline constexpr std::u16string_view saveFailureHeading = u"設定を保存できませんでした。";

// Positions in pixels at 96 dpi; front ends scale them to the screen's resolution.
struct Rect {
    int left, top, width, height;
};
inline constexpr int innerWidth = 272;
inline constexpr int innerHeight = 128;
// The captions' point size the layout was made for.
inline constexpr int fontPointSize = 9;

// The controls in tab order; labels take no focus.
enum class Control {
    lineWidthBar,
    lineWidthLabel,
    lineAmountLabel,
    lineAmountBar,
    fewLabel,
    manyLabel,
    setButton,
    cancelButton
};

struct ControlLayout {
    Control control;
    Rect rect;
};

inline constexpr ControlLayout layout[] = {
    {Control::lineWidthBar, {88, 8, 177, 17}},   {Control::lineWidthLabel, {8, 8, 81, 17}},
    {Control::lineAmountLabel, {8, 40, 73, 17}}, {Control::lineAmountBar, {88, 40, 177, 17}},
    {Control::fewLabel, {88, 64, 41, 17}},       {Control::manyLabel, {224, 64, 41, 17}},
    {Control::setButton, {72, 88, 81, 33}},      {Control::cancelButton, {176, 88, 81, 33}},
};

// The fixed caption of a label or button; empty for the scroll bars and the pen-width label,
// whose text follows the bar (lineWidthLabelText).
std::u16string_view caption(Control control);

// "線の太さ - " followed by the width in plain decimal digits.
std::u16string lineWidthLabelText(int lineWidth);

// What the scroll bars show when the dialog opens: the stored values, brought into range.
struct ScrollValues {
    int lineWidth;
    int lineAmount;
    bool operator==(const ScrollValues&) const = default;
};
ScrollValues openingValues(SaverSettings stored);

// What "設定" writes, from the scroll bars' positions.
SaverSettings settingsToSave(ScrollValues positions);

} // namespace zorblinth::dialog
