#include "dialog/dialog_model.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

namespace zorblinth::dialog {

std::u16string_view caption(Control control) {
    switch (control) {
    case Control::lineAmountLabel:
        return lineAmountCaption;
    case Control::fewLabel:
        return fewCaption;
    case Control::manyLabel:
        return manyCaption;
    case Control::setButton:
        return setCaption;
    case Control::cancelButton:
        return cancelCaption;
    default:
        return {};
    }
}

std::u16string lineWidthLabelText(int lineWidth) {
    std::u16string text(lineWidthPrefix);
    for (char digit : std::to_string(lineWidth))
        text.push_back(static_cast<char16_t>(digit));
    return text;
}

ScrollValues openingValues(SaverSettings stored) {
    const SaverSettings usable = usableSettings(stored);
    return {usable.lineWidth, usable.lineAmount};
}

SaverSettings settingsToSave(ScrollValues positions) {
    const auto toByte = [](int value) { return static_cast<std::uint8_t>(value); };
    return usableSettings({toByte(positions.lineWidth), toByte(positions.lineAmount)});
}

std::u16string_view caption(IdleControl control) {
    switch (control) {
    case IdleControl::startWhenIdleBox:
        return startWhenIdleCaption;
    case IdleControl::waitLabel:
        return waitCaption;
    case IdleControl::minutesLabel:
        return minutesCaption;
    case IdleControl::lockOnResumeBox:
        return lockOnResumeCaption;
    default:
        return {};
    }
}

namespace {

// An option's name and attached value without its one or two dashes; empty for an argument
// that is not an option.
std::string_view optionText(std::string_view argument) {
    if (argument.starts_with("--"))
        return argument.substr(2);
    if (argument.starts_with("-"))
        return argument.substr(1);
    return {};
}

bool isOption(std::string_view argument, std::string_view name) {
    return optionText(argument) == name;
}

// The entry's --idle value, as "--idle N" or "--idle=N" (with one dash too); any whole number,
// a hand-edited one brought into range later. None when there is no such option.
std::optional<long long> idleSecondsIn(std::span<const std::string> arguments) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view option = optionText(arguments[i]);
        std::string_view value;
        if (option == "idle" && i + 1 < arguments.size())
            value = arguments[i + 1];
        else if (option.starts_with("idle="))
            value = option.substr(5);
        else
            continue;
        long long seconds = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (value.empty() || end != value.data() + value.size())
            return std::nullopt;
        if (error == std::errc::result_out_of_range)
            return value.front() == '-' ? std::numeric_limits<long long>::min()
                                        : std::numeric_limits<long long>::max();
        return seconds;
    }
    return std::nullopt;
}

std::string_view fileName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

bool isWatcherCommand(std::span<const std::string> entryCommand) {
    return !entryCommand.empty() && fileName(entryCommand.front()) == "zorblinth" &&
           idleSecondsIn(entryCommand.subspan(1)).has_value();
}

IdleChoice idleChoiceOf(const std::optional<std::vector<std::string>>& entryCommand) {
    if (!entryCommand || !isWatcherCommand(*entryCommand))
        return {};
    const long long seconds = *idleSecondsIn(std::span(*entryCommand).subspan(1));
    const long long minutes = seconds / 60 + (seconds % 60 > 0 ? 1 : 0);
    const auto clamped = std::clamp<long long>(minutes, minimumWaitMinutes, maximumWaitMinutes);
    const bool lock =
        std::any_of(entryCommand->begin() + 1, entryCommand->end(),
                    [](const std::string& argument) { return isOption(argument, "lock"); });
    return {true, static_cast<int>(clamped), lock};
}

std::vector<std::string>
watcherArgumentsFor(const IdleChoice& choice,
                    const std::optional<std::vector<std::string>>& entryCommand) {
    const int minutes = std::clamp(choice.waitMinutes, minimumWaitMinutes, maximumWaitMinutes);
    std::vector<std::string> arguments{"--idle", std::to_string(minutes * 60)};
    if (entryCommand && isWatcherCommand(*entryCommand)) {
        for (std::size_t i = 1; i < entryCommand->size(); ++i) {
            const std::string& argument = (*entryCommand)[i];
            if (isOption(argument, "idle"))
                ++i; // and its value
            else if (!isOption(argument, "lock") && !optionText(argument).starts_with("idle="))
                arguments.push_back(argument);
        }
    }
    if (choice.lockOnResume)
        arguments.emplace_back("--lock");
    return arguments;
}

EntryChange entryChangeFor(const IdleChoice& chosen,
                           const std::optional<std::vector<std::string>>& entryCommand) {
    const IdleChoice inForce = idleChoiceOf(entryCommand);
    // Off stays off whatever the wait shows: a watcher started some other way runs on.
    if (!chosen.startWhenIdle)
        return {inForce.startWhenIdle, std::nullopt};
    if (chosen == inForce)
        return {};
    return {true, watcherArgumentsFor(chosen, entryCommand)};
}

} // namespace zorblinth::dialog
