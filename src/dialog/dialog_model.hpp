#pragma once

#include "settings/settings.hpp"

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// --- The Linux dialog's idle group ----------------------------------------------------------
// Below the controls above, in the Linux dialog only (Windows has these in its own Screen Saver
// Settings): starting the saver when idle, the wait, and the lock on resume. They stand for the
// login entry of the idle watcher (zorblinth --idle SECONDS [--lock]) and the running watcher.

inline constexpr std::u16string_view startWhenIdleCaption = u"パソコンを使っていないときに開始する";
inline constexpr std::u16string_view waitCaption = u"待ち時間";
inline constexpr std::u16string_view minutesCaption = u"分";
inline constexpr std::u16string_view lockOnResumeCaption = u"再開時にロック画面を表示する";

// The wait in whole minutes, as on Windows.
inline constexpr int minimumWaitMinutes = 1;
inline constexpr int maximumWaitMinutes = 9999;

// The Linux dialog grows to this height to hold the group; its width stays.
inline constexpr int innerHeightWithIdleGroup = 216;

// The group's controls in tab order, after the ones above.
enum class IdleControl {
    startWhenIdleBox,
    waitLabel,
    waitMinutesBox,
    minutesLabel,
    lockOnResumeBox
};

struct IdleControlLayout {
    IdleControl control;
    Rect rect;
};

inline constexpr IdleControlLayout idleGroupLayout[] = {
    {IdleControl::startWhenIdleBox, {8, 136, 257, 17}},
    {IdleControl::waitLabel, {28, 163, 57, 17}},
    {IdleControl::waitMinutesBox, {88, 160, 65, 23}},
    {IdleControl::minutesLabel, {160, 163, 25, 17}},
    {IdleControl::lockOnResumeBox, {8, 192, 257, 17}},
};

// The caption of a check box or label; empty for the spin box.
std::u16string_view caption(IdleControl control);

// What the group shows, and what "設定" makes of it.
struct IdleChoice {
    bool startWhenIdle = false;
    int waitMinutes = 10;
    bool lockOnResume = false;
    bool operator==(const IdleChoice&) const = default;
};

// What the group shows for the login entry's command line (its Exec arguments, the program
// first), none for no entry. An entry is ours when it runs a program named zorblinth with
// --idle SECONDS; one that is not shows as off. The seconds show as whole minutes (rounded up),
// brought into the wait's range.
IdleChoice idleChoiceOf(const std::optional<std::vector<std::string>>& entryCommand);

// Whether that command line is our watcher's.
bool isWatcherCommand(std::span<const std::string> entryCommand);

// The watcher's arguments (without the program) for a choice to start when idle: --idle with
// the wait in seconds, what the entry in force passed on to the saver besides (--one-monitor,
// the pen; only from an entry of ours), and --lock where chosen.
std::vector<std::string>
watcherArgumentsFor(const IdleChoice& choice,
                    const std::optional<std::vector<std::string>>& entryCommand);

// What "設定" does to the login entry: nothing when the group shows what was in force (an entry
// not ours, shown as off, is left alone); else the entry written with these watcher arguments,
// or (none) removed.
struct EntryChange {
    bool needed = false;
    std::optional<std::vector<std::string>> watcherArguments;
};
EntryChange entryChangeFor(const IdleChoice& chosen,
                           const std::optional<std::vector<std::string>>& entryCommand);

// Why the entry could not be written or removed.
struct EntryFailure {
    std::filesystem::path entry;
    std::string reason; // the system's words, UTF-8
};

// Where the Linux dialog's group reads and writes what it stands for: the login entry and the
// running watcher.
class IdleGroupStore {
public:
    virtual ~IdleGroupStore() = default;
    // The entry's command line in force; none when there is no entry.
    virtual std::optional<std::vector<std::string>> entryCommand() = 0;
    // Writes the entry with these watcher arguments, or removes it (none), then starts, replaces
    // or ends the running watcher. Where the entry cannot be written or removed, says why and
    // changes nothing, the running watcher included.
    virtual std::optional<EntryFailure>
    apply(const std::optional<std::vector<std::string>>& watcherArguments) = 0;
};

} // namespace zorblinth::dialog
