#include "startup/watcher_control_linux.hpp"

#include "idle/autostart_linux.hpp"
#include "idle/desktop_idle_rules.hpp"
#include "idle/desktop_settings_linux.hpp"
#include "saver/wayland/screenshot_portal_wayland.hpp"
#include "settings/settings_location_linux.hpp"
#include "startup/single_instance_linux.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zorblinth::posix {

namespace {

using namespace std::chrono_literals;

// A watcher ends within its saver's ending time; a starting one takes its lock at once.
constexpr auto endingTime = 3s;
constexpr auto startingTime = 3s;
constexpr auto pause = 20ms;

// Ends the watcher holding the lock and waits until it has let go. False when it would not.
bool endRunningWatcher(const std::filesystem::path& lock) {
    const auto owner = SingleInstance::ownerOf(lock);
    if (!owner)
        return true;
    kill(*owner, SIGTERM);
    for (auto waited = 0ms; waited < endingTime; waited += pause) {
        if (!SingleInstance::ownerOf(lock))
            return true;
        std::this_thread::sleep_for(pause);
    }
    std::cerr << "zorblinth: the running idle watcher (process " << *owner << ") did not end\n";
    return false;
}

// Starts the watcher in a session of its own, so it outlives this command and its terminal;
// returns once it holds its lock, or with its status when it ended first.
ExitStatus startWatcher(const std::vector<std::string>& arguments,
                        const std::filesystem::path& lock) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        std::cerr << "zorblinth: cannot start the idle watcher: " << std::strerror(errno) << '\n';
        return windowSystemFailed;
    }
    if (pid == 0) {
        setsid();
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0)
            dup2(nothing, 0);
        execv("/proc/self/exe", argv.data());
        _exit(windowSystemFailed);
    }
    for (auto waited = 0ms; waited < startingTime; waited += pause) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : windowSystemFailed;
            std::cerr << "zorblinth: the idle watcher did not start (status " << code << ")\n";
            return code == alreadyRunning ? alreadyRunning : windowSystemFailed;
        }
        if (SingleInstance::ownerOf(lock) == pid)
            return normalEnd;
        std::this_thread::sleep_for(pause);
    }
    return normalEnd; // running, if slow to start: it is the session's now
}

// GNOME gives the saver the desktop picture only once the user has allowed screenshots; the
// saver never asks on its way in, so this command, run at the keyboard, asks now. GNOME's own
// dialog gives up after about 25 s.
void askForTheDesktopPicture() {
    const wayland::PermissionRequest request = wayland::askScreenshotPermission(60s);
    std::cerr << "zorblinth: the desktop picture on GNOME: " << request.detail << '\n';
}

} // namespace

ExitStatus runAutostart(const CommandLine& commandLine) {
    const std::filesystem::path entry =
        idle::autostartEntry(std::getenv("XDG_CONFIG_HOME"), homeFolder());
    const std::filesystem::path lock =
        SingleInstance::programLockFile(SingleInstance::watcherLockName);
    if (!commandLine.idleSeconds) {
        std::error_code error;
        std::filesystem::remove(entry, error);
        if (error) {
            std::cerr << "zorblinth: cannot remove " << entry.native() << ": " << error.message()
                      << '\n';
            return settingsNotSaved;
        }
        return endRunningWatcher(lock) ? normalEnd : alreadyRunning;
    }

    std::vector<std::string> watcherArguments{"--idle", std::to_string(*commandLine.idleSeconds)};
    const std::vector<std::string> saverArguments = saverArgumentsOf(commandLine);
    watcherArguments.insert(watcherArguments.end(), saverArguments.begin() + 1,
                            saverArguments.end()); // all but --saver
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    std::string why = error.message();
    if (error || !idle::writeAutostartEntry(
                     entry, idle::autostartEntryText(program, watcherArguments), why)) {
        std::cerr << "zorblinth: cannot write " << entry.native() << ": " << why << '\n';
        return settingsNotSaved;
    }

    if (const std::optional<std::string> line = idle::desktopComesFirst(*commandLine.idleSeconds))
        std::cerr << *line << '\n';
    setenv(idle::desktopToldVariable, "1", 1); // for the watcher started below

    const char* const desktops = std::getenv("XDG_CURRENT_DESKTOP");
    if (idle::desktopOf(desktops ? desktops : "") == idle::Desktop::gnome)
        askForTheDesktopPicture();

    if (!endRunningWatcher(lock))
        return alreadyRunning;
    watcherArguments.insert(watcherArguments.begin(), "zorblinth");
    return startWatcher(watcherArguments, lock);
}

} // namespace zorblinth::posix
