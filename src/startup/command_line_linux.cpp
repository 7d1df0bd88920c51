#include "startup/command_line_linux.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

namespace zorblinth::posix {

const std::string_view usageText =
    R"(Usage: zorblinth [MODE] [OPTION...]
Scribbles random coloured lines and black boxes over the frozen desktop.

Modes:
  --settings         the settings dialog (the default)
  --saver            the saver, full-screen, until the first key, click or mouse move
  --root             draw into the screen-saver host's window ($XSCREENSAVER_WINDOW),
                     or into the root window when there is none
  --window-id ID     draw into the window ID (decimal, or hexadecimal after 0x)
  --idle SECONDS     watch the session and start the saver once it has had no input
                     for SECONDS; again after each idle period (one watcher a session)
  --autostart SECONDS
                     start the watcher with SECONDS at each login (an XDG autostart
                     entry), and now
  --autostart off    remove that entry and end the running watcher
  --help             this text

Started by a host that sets $XSCREENSAVER_WINDOW, with no mode, it draws into that window.
Drawing into a host's window, it leaves input and ending to the host and stops on SIGTERM.

Options for the saver modes, overriding the settings file:
  --line-width N     pen width in pixels, 1 to 10
  --line-amount N    line-amount level, 1 to 20

Options for --saver (and --idle, --autostart, which pass them on to the saver):
  --wayland          run on the Wayland compositor of $WAYLAND_DISPLAY (the default
                     when it is set and can be reached)
  --x11              run on the X display of $DISPLAY
  --one-monitor      cover the primary monitor only (on Wayland the first output);
                     by default every monitor is covered, each with its own lines
  --verbose          say on stderr why a source of the desktop picture gave none
                     (Wayland: wlr screencopy, KWin's screenshot interface)
  --lock             once a key, click or mouse move has ended the saver, lock the
                     session through logind (the desktop's locker asks for the password)

Options may also be written with one dash (-root), and values after '=' (--line-width=3).
Settings: $XDG_CONFIG_HOME/zorblinth/Qelvanor.txt (~/.config/zorblinth/ when unset).
Exit status: 0 done, 1 settings not saved, 2 already running, 3 no display or window,
4 the saver ended but the session could not be locked, 64 bad command line.
)";

namespace {

// A numeric option's value: any whole number, brought into range later.
long parseNumber(std::string_view option, std::string_view text) {
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || stop != end ||
        (error != std::errc() && error != std::errc::result_out_of_range))
        throw UsageError("--" + std::string(option) + " takes a whole number, not '" +
                         std::string(text) + "'");
    if (error == std::errc::result_out_of_range)
        return text.front() == '-' ? std::numeric_limits<long>::min()
                                   : std::numeric_limits<long>::max();
    return value;
}

long parseSeconds(std::string_view option, std::string_view text) {
    long seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (text.empty() || stop != end || error != std::errc() || seconds < 1 ||
        seconds > maxIdleSeconds)
        throw UsageError("--" + std::string(option) + " takes a number of seconds from 1 to " +
                         std::to_string(maxIdleSeconds) + ", not '" + std::string(text) + "'");
    return seconds;
}

} // namespace

std::vector<std::string> saverArgumentsOf(const CommandLine& commandLine) {
    std::vector<std::string> arguments{"--saver"};
    if (commandLine.monitors == MonitorChoice::primaryOnly)
        arguments.emplace_back("--one-monitor");
    if (commandLine.overrides.lineWidth)
        arguments.push_back("--line-width=" + std::to_string(*commandLine.overrides.lineWidth));
    if (commandLine.overrides.lineAmount)
        arguments.push_back("--line-amount=" + std::to_string(*commandLine.overrides.lineAmount));
    if (commandLine.windowSystem)
        arguments.emplace_back(*commandLine.windowSystem == WindowSystem::x11 ? "--x11"
                                                                              : "--wayland");
    if (commandLine.verbose)
        arguments.emplace_back("--verbose");
    if (commandLine.lock)
        arguments.emplace_back("--lock");
    return arguments;
}

std::optional<std::uint64_t> parseWindowId(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t id = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, id, base);
    if (text.empty() || stop != end || error != std::errc())
        return std::nullopt;
    return id;
}

CommandLine parseCommandLine(std::span<const std::string_view> arguments,
                             const char* screenSaverWindow) {
    CommandLine result;
    std::optional<LinuxMode> chosen;
    bool helpAsked = false;
    const auto choose = [&](LinuxMode mode, std::string_view option) {
        if (chosen && *chosen != mode)
            throw UsageError("--" + std::string(option) + " cannot be combined with another mode");
        chosen = mode;
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument.size() < 2 || argument[0] != '-' || argument == "--")
            throw UsageError("unexpected argument '" + std::string(argument) + "'");
        std::string_view name = argument.substr(argument[1] == '-' ? 2 : 1);
        std::optional<std::string_view> attached;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            attached = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const auto value = [&]() -> std::string_view {
            if (attached)
                return *attached;
            if (i + 1 >= arguments.size())
                throw UsageError("--" + std::string(name) + " needs a value");
            return arguments[++i];
        };
        const auto noValue = [&] {
            if (attached)
                throw UsageError("--" + std::string(name) + " takes no value");
        };

        if (name == "settings") {
            noValue();
            choose(LinuxMode::settings, name);
        } else if (name == "saver") {
            noValue();
            choose(LinuxMode::saver, name);
        } else if (name == "root") {
            noValue();
            choose(LinuxMode::hosted, name);
        } else if (name == "window-id") {
            choose(LinuxMode::hosted, name);
            const std::string_view text = value();
            result.window = parseWindowId(text);
            if (!result.window)
                throw UsageError("--window-id takes a window id in decimal or 0x-hex, not '" +
                                 std::string(text) + "'");
        } else if (name == "idle") {
            choose(LinuxMode::idle, name);
            result.idleSeconds = parseSeconds(name, value());
        } else if (name == "autostart") {
            choose(LinuxMode::autostart, name);
            const std::string_view text = value();
            if (text == "off")
                result.idleSeconds.reset();
            else
                result.idleSeconds = parseSeconds(name, text);
        } else if (name == "line-width") {
            result.overrides.lineWidth = parseNumber(name, value());
        } else if (name == "line-amount") {
            result.overrides.lineAmount = parseNumber(name, value());
        } else if (name == "x11" || name == "wayland") {
            noValue();
            const WindowSystem asked = name == "x11" ? WindowSystem::x11 : WindowSystem::wayland;
            if (result.windowSystem && *result.windowSystem != asked)
                throw UsageError("--x11 and --wayland cannot be combined");
            result.windowSystem = asked;
        } else if (name == "one-monitor") {
            noValue();
            result.monitors = MonitorChoice::primaryOnly;
        } else if (name == "verbose") {
            noValue();
            result.verbose = true;
        } else if (name == "lock") {
            noValue();
            result.lock = true;
        } else if (name == "help") {
            noValue();
            helpAsked = true;
        } else {
            throw UsageError("unknown option '" + std::string(argument) + "'");
        }
    }

    // Hosts check a command line by running it with --help added: help whatever the mode, but
    // only for options that would work.
    if (helpAsked) {
        result.mode = LinuxMode::help;
        return result;
    }
    const bool hostWindowSet = screenSaverWindow != nullptr && *screenSaverWindow != '\0';
    result.mode = chosen.value_or(hostWindowSet ? LinuxMode::hosted : LinuxMode::settings);
    // A host's window is always an X11 window.
    if (result.mode == LinuxMode::hosted && result.windowSystem == WindowSystem::wayland)
        throw UsageError("--wayland works with --saver only; a host's window is an X11 window");
    // In a host's window locking is the host's.
    if (result.lock && (result.mode == LinuxMode::hosted || result.mode == LinuxMode::settings))
        throw UsageError("--lock works with --saver, --idle and --autostart only");
    if (result.mode == LinuxMode::hosted && !result.window && hostWindowSet) {
        result.window = parseWindowId(screenSaverWindow);
        if (!result.window)
            throw UsageError("XSCREENSAVER_WINDOW is not a window id: '" +
                             std::string(screenSaverWindow) + "'");
    }
    return result;
}

} // namespace zorblinth::posix
