#pragma once

#include "saver/saver_session.hpp"
#include "settings/settings.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zorblinth::posix {

// What the Linux program was asked to do.
enum class LinuxMode {
    settings,  // the settings dialog: no argument, or --settings
    saver,     // the standalone full-screen saver: --saver
    hosted,    // drawing into a screen-saver host's window: --root, --window-id, or the host's
               // XSCREENSAVER_WINDOW
    idle,      // the idle watcher: --idle SECONDS
    autostart, // --autostart SECONDS|off: the login entry for the watcher, written or removed
    help,      // --help, whatever else is asked
};

// Where the standalone saver runs.
enum class WindowSystem {
    x11,
    wayland,
};

struct CommandLine {
    LinuxMode mode = LinuxMode::settings;
    // The window to draw into when hosted; none means the root window.
    std::optional<std::uint64_t> window;
    // Overrides of the settings file's values, as a host's own settings dialog passes them.
    SettingsOverrides overrides;
    // --x11 or --wayland: the standalone saver's window system, instead of the one found.
    std::optional<WindowSystem> windowSystem;
    // --one-monitor: the standalone saver covers the primary monitor alone. A host's window is
    // one already.
    MonitorChoice monitors = MonitorChoice::every;
    // --verbose: the standalone saver tells why it has no desktop picture where it has none.
    bool verbose = false;
    // --lock: once the user's input has ended the standalone saver, the session is locked.
    bool lock = false;
    // --idle SECONDS, or --autostart SECONDS: the watcher's timeout. None with --autostart off.
    std::optional<long> idleSeconds;
};

// The longest --idle timeout: its milliseconds fit the poll() timeout.
constexpr long maxIdleSeconds = 2'147'483;

// The saver's command line as the watcher starts it: --saver and the options given here that
// the saver takes (monitors, pen, window system, --verbose, --lock).
std::vector<std::string> saverArgumentsOf(const CommandLine& commandLine);

// A command line that cannot be obeyed; what() is one line for the user.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Options may be written with one dash or two (hosts write "-root" as well as "--root") and
// take their value as the next argument or after "=". The window named by the host's
// XSCREENSAVER_WINDOW (screenSaverWindow; null when unset) is where --root draws, and where the
// program draws when started with no mode of its own. Throws UsageError.
CommandLine parseCommandLine(std::span<const std::string_view> arguments,
                             const char* screenSaverWindow);

// A window id as hosts write it: decimal, or hexadecimal after 0x. None when it is neither or
// does not fit.
std::optional<std::uint64_t> parseWindowId(std::string_view text);

// What --help prints.
extern const std::string_view usageText;

} // namespace zorblinth::posix
