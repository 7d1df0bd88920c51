#pragma once

#include "dialog/dialog_model.hpp"
#include "startup/command_line_linux.hpp"
#include "startup/exit_status.hpp"

#include <optional>
#include <string>
#include <vector>

namespace zorblinth::posix {

// The login entry for the watcher and the running watcher, as --autostart and the Linux
// dialog's group set them. With watcher arguments (--idle SECONDS and what it passes on): the
// entry is written whole or not at all, GNOME is asked once for the desktop picture, and the
// watcher that runs makes way for a new one. Without: the entry is removed and the watcher
// ended. When the entry cannot be written or removed, nothing else is changed.
class WatcherControl final : public dialog::IdleGroupStore {
public:
    WatcherControl();

    std::optional<std::vector<std::string>> entryCommand() override;
    std::optional<dialog::EntryFailure>
    apply(const std::optional<std::vector<std::string>>& watcherArguments) override;

    // After apply(): what came of the watcher (alreadyRunning when the running one would not
    // end, windowSystemFailed when the new one did not start). One line on stderr for either.
    ExitStatus watcherStatus() const { return watcherStatus_; }

private:
    std::filesystem::path entry_;
    std::filesystem::path lock_;
    ExitStatus watcherStatus_ = normalEnd;
};

// --autostart SECONDS: writes the login entry for the watcher and starts the watcher now,
// ending one that already runs so the new timeout holds. --autostart off: removes the entry and
// ends the running watcher. One line on stderr for what failed.
ExitStatus runAutostart(const CommandLine& commandLine);

} // namespace zorblinth::posix
