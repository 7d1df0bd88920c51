#include "settings/settings_location_linux.hpp"
#include "startup/single_instance_linux.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zorblinth::posix;
namespace fs = std::filesystem;
using Claim = SingleInstance::Claim;

namespace {

constexpr uid_t otherUser = 65534; // nobody

// A private folder (mode 0700) of its own under the temporary folder, removed with everything
// in it.
class ScratchFolder {
public:
    ScratchFolder()
        : path_(fs::temp_directory_path() / ("zorblinth-posix-" + std::to_string(getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
        fs::permissions(path_, fs::perms::owner_all);
    }
    ~ScratchFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A child process that claims the lock and then waits to be killed; returns its pid once the
// claim is made.
pid_t childHolding(const fs::path& lockFile) {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        const SingleInstance claim(lockFile);
        const char answer = claim.claim() == Claim::held ? 'y' : 'n';
        [[maybe_unused]] const auto written = write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    close(ready[1]);
    if (read(ready[0], &answer, 1) != 1 || answer != 'y')
        return -1;
    close(ready[0]);
    return child;
}

// The claim on a lock file, and what it warned of.
struct Attempt {
    Claim claim;
    std::string warnings;
};
Attempt claimOn(const fs::path& lockFile) {
    std::ostringstream warnings;
    const SingleInstance instance(lockFile, warnings);
    return {instance.claim(), warnings.str()};
}

void expectWarnedOnce(const Attempt& attempt, const fs::path& lockFile) {
    EXPECT_EQ(std::count(attempt.warnings.begin(), attempt.warnings.end(), '\n'), 1)
        << attempt.warnings;
    EXPECT_NE(attempt.warnings.find(lockFile.native()), std::string::npos) << attempt.warnings;
    EXPECT_NE(attempt.warnings.find("running without it"), std::string::npos) << attempt.warnings;
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

// Sets an environment variable for the life of the object; nullptr unsets it.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(SingleInstance, ASecondCopyIsRefusedUntilTheFirstEndsEvenByCrashing) {
    ScratchFolder folder;
    const auto lockFile = folder.path() / "zorblinth.lock";
    const pid_t first = childHolding(lockFile);
    ASSERT_GT(first, 0);
    const Attempt second = claimOn(lockFile);
    EXPECT_EQ(second.claim, Claim::heldByAnother);
    EXPECT_EQ(second.warnings, "");

    kill(first, SIGKILL); // no destructor runs: only the kernel can let go
    waitpid(first, nullptr, 0);
    const SingleInstance next(lockFile);
    EXPECT_EQ(next.claim(), Claim::held);
    EXPECT_TRUE(SingleInstance(lockFile).anotherIsRunning()) << "and the next one holds it";
    EXPECT_EQ(modeOf(lockFile), S_IFREG | 0600u);
}

TEST(SingleInstance, AnUnusableLockFolderDoesNotStopTheProgram) {
    const fs::path lockFile = "/nonexistent-folder/zorblinth.lock";
    const Attempt attempt = claimOn(lockFile);
    EXPECT_EQ(attempt.claim, Claim::unavailable);
    expectWarnedOnce(attempt, lockFile);
}

TEST(SingleInstance, SomethingPlantedWhereTheLockBelongsIsRefusedAndLeftAlone) {
    ScratchFolder folder;
    const fs::path lockFile = folder.path() / "zorblinth.lock";
    const fs::path target = folder.path() / "chosen-by-another";
    const auto plant = [&](const char* what) {
        fs::remove_all(lockFile);
        fs::remove_all(target);
        if (what == std::string("dangling link")) {
            fs::create_symlink(target, lockFile);
        } else if (what == std::string("link to a file")) {
            std::ofstream(target) << "x";
            fs::create_symlink(target, lockFile);
        } else if (what == std::string("folder")) {
            fs::create_directory(lockFile);
        } else {
            ASSERT_EQ(mkfifo(lockFile.c_str(), 0600), 0);
        }
    };
    alarm(20); // a FIFO that blocked the open would end the run here
    for (const char* what : {"dangling link", "link to a file", "folder", "fifo"}) {
        SCOPED_TRACE(what);
        plant(what);
        const mode_t planted = modeOf(lockFile);
        const Attempt attempt = claimOn(lockFile);
        EXPECT_EQ(attempt.claim, Claim::refused);
        expectWarnedOnce(attempt, lockFile);
        EXPECT_EQ(modeOf(lockFile), planted);
        if (what == std::string("dangling link")) {
            EXPECT_FALSE(fs::exists(target)) << "a file was made where the link pointed";
        } else if (what == std::string("link to a file")) {
            EXPECT_EQ(fs::file_size(target), 1u);
        }
    }
    alarm(0);
}

TEST(SingleInstance, ALockFolderOthersMayWriteOrReachedThroughALinkIsRefused) {
    ScratchFolder scratch;
    const fs::path shared = scratch.path() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all); // 0777, like /tmp without its sticky bit
    Attempt attempt = claimOn(shared / "zorblinth.lock");
    EXPECT_EQ(attempt.claim, Claim::refused);
    expectWarnedOnce(attempt, shared / "zorblinth.lock");
    EXPECT_FALSE(fs::exists(shared / "zorblinth.lock"));

    const fs::path own = scratch.path() / "own";
    fs::create_directory(own);
    fs::permissions(own, fs::perms::owner_all);
    fs::create_directory_symlink(own, scratch.path() / "link");
    attempt = claimOn(scratch.path() / "link" / "zorblinth.lock");
    EXPECT_EQ(attempt.claim, Claim::refused);
    EXPECT_FALSE(fs::exists(own / "zorblinth.lock"));
    EXPECT_EQ(claimOn(own / "zorblinth.lock").claim, Claim::held);
}

TEST(SingleInstance, ALockOrLockFolderOfAnotherUserIsRefused) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    ScratchFolder scratch;
    const fs::path theirs = scratch.path() / "theirs.lock";
    std::ofstream(theirs) << "";
    ASSERT_EQ(chown(theirs.c_str(), otherUser, otherUser), 0);
    Attempt attempt = claimOn(theirs);
    EXPECT_EQ(attempt.claim, Claim::refused);
    expectWarnedOnce(attempt, theirs);

    const fs::path theirFolder = scratch.path() / "their-folder";
    fs::create_directory(theirFolder);
    fs::permissions(theirFolder, fs::perms::owner_all);
    ASSERT_EQ(chown(theirFolder.c_str(), otherUser, otherUser), 0);
    attempt = claimOn(theirFolder / "zorblinth.lock");
    EXPECT_EQ(attempt.claim, Claim::refused);
    EXPECT_FALSE(fs::exists(theirFolder / "zorblinth.lock"));
}

TEST(LockFolder, TheRuntimeFolderOnlyWhenItIsThisUsersAlone) {
    ScratchFolder scratch;
    const fs::path home = scratch.path() / "home";
    const fs::path fallback = home / ".cache" / "zorblinth";
    const fs::path runtime = scratch.path() / "runtime";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    EXPECT_EQ(SingleInstance::lockFolder(runtime.c_str(), nullptr, home), runtime);

    fs::permissions(runtime, fs::perms::group_read | fs::perms::group_exec, fs::perm_options::add);
    EXPECT_EQ(SingleInstance::lockFolder(runtime.c_str(), nullptr, home), fallback)
        << "others may enter it";
    EXPECT_EQ(SingleInstance::lockFolder("/tmp", nullptr, home), fallback);
    EXPECT_EQ(SingleInstance::lockFolder(nullptr, nullptr, home), fallback);
    EXPECT_EQ(SingleInstance::lockFolder("", nullptr, home), fallback);
    EXPECT_EQ(SingleInstance::lockFolder("relative", nullptr, home), fallback);
    EXPECT_EQ(SingleInstance::lockFolder((scratch.path() / "missing").c_str(), nullptr, home),
              fallback);

    EXPECT_EQ(SingleInstance::lockFolder(nullptr, "/xdg/cache", home), "/xdg/cache/zorblinth");
    EXPECT_EQ(SingleInstance::lockFolder(nullptr, "relative/cache", home), fallback)
        << "a relative path is invalid and ignored";
}

TEST(LockFolder, TheFallbackIsMadePrivateWithItsParents) {
    ScratchFolder scratch;
    const fs::path folder = scratch.path() / "home" / ".cache" / "zorblinth";
    SingleInstance::makePrivateFolder(folder);
    EXPECT_TRUE(SingleInstance::isPrivateFolder(folder));
    EXPECT_EQ(modeOf(folder), S_IFDIR | 0700u);
    EXPECT_EQ(modeOf(folder.parent_path()), S_IFDIR | 0700u);

    // One of this user's that others could enter is closed to them; its contents stay.
    fs::permissions(folder, fs::perms::all);
    std::ofstream(folder / "kept") << "x";
    SingleInstance::makePrivateFolder(folder);
    EXPECT_EQ(modeOf(folder), S_IFDIR | 0700u);
    EXPECT_TRUE(fs::exists(folder / "kept"));
}

TEST(LockFolder, ALockFileAnotherUserHoldsInTmpNoLongerStopsThisOne) {
    // The lock once lived in /tmp, where anyone could make and hold this user's lock file.
    const fs::path oldLock = fs::path("/tmp") / ("zorblinth-" + std::to_string(getuid()) + ".lock");
    // One left behind by an older version of ours keeps the other user out; it guards nothing
    // now, so the test may take it away.
    struct stat left {};
    if (lstat(oldLock.c_str(), &left) == 0 && left.st_uid == geteuid() && S_ISREG(left.st_mode))
        fs::remove(oldLock);
    const bool existed = fs::exists(oldLock);
    ScratchFolder scratch;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t attacker = fork();
    if (attacker == 0) {
        if (geteuid() == 0 && (setgid(otherUser) != 0 || setuid(otherUser) != 0))
            _exit(1);
        // Read access is enough to lock, so even an existing file of this user's would do.
        const int file = open(oldLock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        const char answer = file >= 0 && flock(file, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        [[maybe_unused]] const auto written = write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char answer = 0;
    const bool holding = read(ready[0], &answer, 1) == 1 && answer == 'y';
    close(ready[0]);

    std::optional<Attempt> attempt;
    if (holding) {
        const ScopedVariable noRuntime("XDG_RUNTIME_DIR", nullptr);
        const ScopedVariable noCache("XDG_CACHE_HOME", nullptr);
        const ScopedVariable home("HOME", scratch.path().c_str());
        const fs::path lockFile = SingleInstance::programLockFile();
        EXPECT_EQ(lockFile, scratch.path() / ".cache" / "zorblinth" / "zorblinth.lock");
        attempt = claimOn(lockFile);
    }
    kill(attacker, SIGKILL);
    waitpid(attacker, nullptr, 0);
    if (!existed)
        fs::remove(oldLock);
    ASSERT_TRUE(holding) << "the other user could not hold " << oldLock;
    EXPECT_EQ(attempt->claim, Claim::held);
    EXPECT_EQ(attempt->warnings, "");
}

TEST(SettingsLocation, ConfigHomeOrTheHomeFoldersConfig) {
    EXPECT_EQ(settingsFolder("/xdg/config", "/home/ann"), "/xdg/config/zorblinth");
    EXPECT_EQ(settingsFolder(nullptr, "/home/ann"), "/home/ann/.config/zorblinth");
    EXPECT_EQ(settingsFolder("", "/home/ann"), "/home/ann/.config/zorblinth");
    EXPECT_EQ(settingsFolder("relative/config", "/home/ann"), "/home/ann/.config/zorblinth")
        << "a relative path is invalid and ignored";
}
