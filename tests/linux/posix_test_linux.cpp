#include "settings/settings_location_linux.hpp"
#include "startup/single_instance_linux.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using namespace zorblinth::posix;

namespace {

class ScratchFolder {
public:
    ScratchFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("zorblinth-posix-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A child process that claims the lock and then waits to be killed; returns its pid once the
// claim is made.
pid_t childHolding(const std::filesystem::path& lockFile) {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        const SingleInstance claim(lockFile);
        const char answer = claim.anotherIsRunning() ? 'n' : 'y';
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

} // namespace

TEST(SingleInstance, ASecondCopyIsRefusedUntilTheFirstEndsEvenByCrashing) {
    ScratchFolder folder;
    const auto lockFile = folder.path() / "zorblinth.lock";
    const pid_t first = childHolding(lockFile);
    ASSERT_GT(first, 0);
    EXPECT_TRUE(SingleInstance(lockFile).anotherIsRunning());

    kill(first, SIGKILL); // no destructor runs: only the kernel can let go
    waitpid(first, nullptr, 0);
    const SingleInstance next(lockFile);
    EXPECT_FALSE(next.anotherIsRunning());
    EXPECT_TRUE(SingleInstance(lockFile).anotherIsRunning()) << "and the next one holds it";
}

TEST(SingleInstance, AnUnusableLockFolderDoesNotStopTheProgram) {
    EXPECT_FALSE(SingleInstance("/nonexistent-folder/zorblinth.lock").anotherIsRunning());
}

TEST(SettingsLocation, ConfigHomeOrTheHomeFoldersConfig) {
    EXPECT_EQ(settingsFolder("/xdg/config", "/home/ann"), "/xdg/config/zorblinth");
    EXPECT_EQ(settingsFolder(nullptr, "/home/ann"), "/home/ann/.config/zorblinth");
    EXPECT_EQ(settingsFolder("", "/home/ann"), "/home/ann/.config/zorblinth");
    EXPECT_EQ(settingsFolder("relative/config", "/home/ann"), "/home/ann/.config/zorblinth")
        << "a relative path is invalid and ignored";
}
