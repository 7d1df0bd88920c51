#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>

namespace zorblinth::posix {

// Claims the program's one running copy for as long as it lives, through an exclusive lock on
// a file. The kernel drops the lock when the process ends, however it ends, so a copy that
// crashed never keeps the next one from starting. The lock is kept where only this user may
// write, so no other user can take it first.
class SingleInstance {
public:
    enum class Claim {
        held,          // this copy holds the lock
        heldByAnother, // another copy of this user's holds it
        refused,       // something not ours is where the lock belongs: running without it
        unavailable,   // no lock could be made (no such folder, ...): running without it
    };

    // name (the saver's and dialog's zorblinth.lock, or the idle watcher's own, as the watcher
    // starts the saver) in the folder lockFolder() chooses from the environment, which it
    // creates when it is the per-user fallback.
    static std::filesystem::path programLockFile(const char* name = "zorblinth.lock");
    static constexpr const char* watcherLockName = "zorblinth-idle.lock";

    // Where the lock is kept: runtimeFolder ($XDG_RUNTIME_DIR) when it is a private folder
    // (isPrivateFolder), else zorblinth in cacheHome ($XDG_CACHE_HOME, when absolute) or in
    // home/.cache. Never a folder that others may write, such as /tmp.
    static std::filesystem::path lockFolder(const char* runtimeFolder, const char* cacheHome,
                                            const std::filesystem::path& home);

    // Makes the per-user fallback folder (and missing parents) with mode 0700 where absent, and
    // takes away others' access to it when it is this user's own.
    static void makePrivateFolder(const std::filesystem::path& folder);

    // A folder itself (not a link to one) that this user owns and nobody else may enter.
    static bool isPrivateFolder(const std::filesystem::path& folder);

    // Copies claiming the same file exclude each other; the program always uses
    // programLockFile(). The lock's folder must be private and the lock a regular file of this
    // user's, never reached through a link; otherwise, or when no lock can be made, one line on
    // warnings says so and the program runs without the check: nobody else can stop it so.
    explicit SingleInstance(const std::filesystem::path& lockFile = programLockFile());
    SingleInstance(const std::filesystem::path& lockFile, std::ostream& warnings);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Claim claim() const { return claim_; }
    // Writes this process's id into the held lock, for ownerOf(): only the holder writes it.
    void recordOwner();
    // The process that holds lockFile and recorded itself there; none when nobody holds it.
    static std::optional<int> ownerOf(const std::filesystem::path& lockFile);
    bool anotherIsRunning() const { return claim_ == Claim::heldByAnother; }

private:
    int file_ = -1;
    Claim claim_ = Claim::unavailable;
};

} // namespace zorblinth::posix
