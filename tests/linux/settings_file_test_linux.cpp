// What a settings file that is not a regular file does to reading and writing: it is refused at
// once and left as it was, and the program carries on. Each test fails by alarm if anything
// blocks.
#include "settings/settings.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace zorblinth;
namespace fs = std::filesystem;

namespace {

class HostileSettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("zorblinth-hostile-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        file = settingsFilePath(folder);
        alarm(20); // a read or open that blocks ends the test run instead of hanging it
    }
    void TearDown() override {
        alarm(0);
        fs::remove_all(folder);
    }

    // Reading and writing are both refused with the error, and the file stays what it was.
    void expectRefused(std::errc expected, fs::file_type kept) const {
        for (bool writing : {false, true}) {
            SCOPED_TRACE(writing ? "writing" : "reading");
            try {
                if (writing)
                    writeSettings(file, {7, 20});
                else
                    readSettings(file);
                ADD_FAILURE() << "no error";
            } catch (const SettingsFileError& error) {
                EXPECT_EQ(error.path(), file);
                EXPECT_EQ(error.code(), expected) << error.what();
            }
        }
        EXPECT_EQ(readSettingsOrZeros(file), (SaverSettings{0, 0})) << "the saver carries on";
        EXPECT_EQ(fs::status(file).type(), kept);
    }

    // A save, as the dialog makes it, is refused with an error of its own whose text says the
    // path is a link (ELOOP's "Too many levels of symbolic links" would not say why), and the
    // link stays as it was.
    void expectSaveRefusedAsALink() const {
        const fs::path leadsTo = fs::read_symlink(file);
        try {
            writeSettingsCreatingFolder(file, {7, 20});
            ADD_FAILURE() << "no error";
        } catch (const SettingsFileError& error) {
            EXPECT_EQ(error.path(), file);
            EXPECT_EQ(error.code(), settingsPathIsALinkError()) << error.what();
            EXPECT_NE(error.reason().find("symbolic link"), std::string::npos) << error.reason();
        }
        EXPECT_TRUE(fs::is_symlink(file));
        EXPECT_EQ(fs::read_symlink(file), leadsTo);
    }

    fs::path folder;
    fs::path file;
};

} // namespace

TEST_F(HostileSettingsFile, AFifoWithNobodyAtTheOtherEndIsRefusedWithoutBlocking) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    expectRefused(std::errc::operation_not_supported, fs::file_type::fifo);
}

TEST_F(HostileSettingsFile, ADeviceBehindALinkIsNeitherReadNorWritten) {
    // /dev/zero would read as 0 and 0 and swallow a save without a word.
    fs::create_symlink("/dev/zero", file);
    expectRefused(std::errc::operation_not_supported, fs::file_type::character);
    EXPECT_TRUE(fs::is_symlink(file));
}

TEST_F(HostileSettingsFile, AFolderIsRefusedAsAFolder) {
    fs::create_directory(file);
    expectRefused(std::errc::is_a_directory, fs::file_type::directory);
    EXPECT_TRUE(fs::is_empty(file));
}

TEST_F(HostileSettingsFile, ReadingNeverCreatesAFileThroughADanglingLink) {
    const fs::path target = folder / "elsewhere";
    fs::create_symlink(target, file);
    EXPECT_EQ(readSettings(file), (SaverSettings{0, 0}));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(HostileSettingsFile, SavingNeverCreatesTheTargetOfADanglingLink) {
    const fs::path target = folder / "elsewhere";
    fs::create_symlink(target, file);
    expectSaveRefusedAsALink();
    EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
}

TEST_F(HostileSettingsFile, ALinkToARegularFileIsReadThroughButNeverWritten) {
    // Settings kept elsewhere and linked in, as dotfile managers do: the saver draws with them,
    // but a save changes no file elsewhere, through one link or two.
    const fs::path target = folder / "kept";
    std::ofstream(target, std::ios::binary) << "\x03\x0A\x7F";
    fs::create_symlink(target, folder / "between");
    for (const fs::path& leadsTo : {target, folder / "between"}) {
        SCOPED_TRACE(leadsTo);
        fs::remove(file);
        fs::create_symlink(leadsTo, file);
        EXPECT_EQ(readSettings(file), (SaverSettings{3, 10}));
        expectSaveRefusedAsALink();
        EXPECT_EQ(readSettings(target), (SaverSettings{3, 10}));
        EXPECT_EQ(fs::file_size(target), 3u);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
    }
}

TEST_F(HostileSettingsFile, AFolderOnTheWayThatLoopsKeepsTheSystemsReason) {
    // ELOOP from a folder of the path, not from its last part: not called a link in its place.
    fs::create_directory_symlink(folder / "loop", folder / "loop");
    const fs::path inLoop = folder / "loop" / settingsFileName;
    try {
        writeSettings(inLoop, {7, 20});
        ADD_FAILURE() << "no error";
    } catch (const SettingsFileError& error) {
        EXPECT_EQ(error.code(), std::errc::too_many_symbolic_link_levels) << error.what();
    }
}
