#include "settings/settings.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace zorblinth;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() / (std::string("zorblinth-") + test->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        file = settingsFilePath(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    void store(const Bytes& bytes) const {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    Bytes stored() const {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path folder;
    fs::path file;
};

} // namespace

TEST(SettingsPath, OneSeparatorBetweenFolderAndName) {
    const fs::path root = fs::temp_directory_path().root_path(); // "/" or "C:\"
    EXPECT_EQ(settingsFilePath(root).native(), (root / "Qelvanor.txt").native());
    EXPECT_EQ(settingsFilePath(root).parent_path(), root);
    EXPECT_EQ(settingsFilePath(root).native().size(), root.native().size() + 12);

    const fs::path folder = root / "Savers";
    const fs::path withSeparator = folder.native() + fs::path::preferred_separator;
    EXPECT_EQ(settingsFilePath(folder), settingsFilePath(withSeparator));
    EXPECT_EQ(settingsFilePath(folder).filename(), "Qelvanor.txt");
}

TEST_F(SettingsFile, ReadsTheFirstTwoBytesRaw) {
    store({0x03, 0x0A});
    EXPECT_EQ(readSettings(file), (SaverSettings{3, 10}));
    store({0xFF, 0x20, 0x07});
    EXPECT_EQ(readSettings(file), (SaverSettings{255, 32}));
    EXPECT_EQ(stored(), (Bytes{0xFF, 0x20, 0x07})); // reading changes nothing
}

TEST_F(SettingsFile, MissingBytesReadAsZero) {
    store({0x05});
    EXPECT_EQ(readSettings(file), (SaverSettings{5, 0}));
    EXPECT_EQ(stored(), Bytes{0x05});
    store({});
    EXPECT_EQ(readSettings(file), (SaverSettings{0, 0}));
}

TEST_F(SettingsFile, ReadingAnAbsentFileLeavesItEmpty) {
    EXPECT_EQ(readSettings(file), (SaverSettings{0, 0}));
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(SettingsFile, AnAbsentFileInAMissingFolderReadsAsZero) {
    const fs::path nowhere = settingsFilePath(folder / "missing");
    EXPECT_EQ(readSettings(nowhere), (SaverSettings{0, 0}));
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST_F(SettingsFile, WritingKeepsTheLengthAndLaterBytes) {
    store({0x01, 0x01, 0xAA, 0xBB});
    writeSettings(file, {7, 20});
    EXPECT_EQ(stored(), (Bytes{0x07, 0x14, 0xAA, 0xBB}));

    store({0x09});
    writeSettings(file, {2, 3});
    EXPECT_EQ(stored(), (Bytes{0x02, 0x03}));
}

TEST_F(SettingsFile, WritingCreatesAnAbsentFile) {
    writeSettings(file, {10, 1});
    EXPECT_EQ(stored(), (Bytes{0x0A, 0x01}));
    EXPECT_EQ(readSettings(file), (SaverSettings{10, 1}));
}

TEST_F(SettingsFile, WritingIntoAMissingFolderMakesItAndItsParents) {
    const fs::path nested = settingsFilePath(folder / "config" / "zorblinth");
    writeSettingsCreatingFolder(nested, {4, 12});
    EXPECT_EQ(readSettings(nested), (SaverSettings{4, 12}));

    // An existing folder and file are written as writeSettings writes them.
    store({0x01, 0x01, 0xCC});
    writeSettingsCreatingFolder(file, {2, 3});
    EXPECT_EQ(stored(), (Bytes{0x02, 0x03, 0xCC}));
}

TEST_F(SettingsFile, AFolderThatCannotBeMadeIsTheFilesError) {
    // A plain file stands where the settings folder belongs.
    const fs::path blocker = folder / "zorblinth";
    std::ofstream(blocker) << "x";
    const fs::path blocked = settingsFilePath(blocker);
    try {
        writeSettingsCreatingFolder(blocked, {1, 1});
        ADD_FAILURE() << "no error";
    } catch (const SettingsFileError& error) {
        EXPECT_EQ(error.path(), blocked);
        EXPECT_TRUE(error.code()) << "the reason it could not be made";
        EXPECT_FALSE(error.reason().empty());
    }
    EXPECT_TRUE(fs::is_regular_file(blocker));
    EXPECT_EQ(fs::file_size(blocker), 1u);
}

TEST_F(SettingsFile, AFolderInTheFilesPlaceIsAnErrorNamingThePath) {
    fs::create_directory(file);
    for (bool writing : {false, true}) {
        try {
            if (writing)
                writeSettings(file, {1, 1});
            else
                readSettings(file);
            ADD_FAILURE() << "no error for " << (writing ? "writing" : "reading");
        } catch (const SettingsFileError& error) {
            EXPECT_EQ(error.path(), file);
            EXPECT_EQ(error.code(), std::errc::is_a_directory);
            EXPECT_EQ(error.reason(), error.code().message());
            EXPECT_NE(std::string(error.what()).find("Qelvanor.txt"), std::string::npos);
        }
    }
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_TRUE(fs::is_empty(file));
    EXPECT_EQ(readSettingsOrZeros(file), (SaverSettings{0, 0})) << "for those that carry on";
}

TEST_F(SettingsFile, AFileThatMayNotBeWrittenIsStillRead) {
    store({0x04, 0x09});
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (std::ofstream(file, std::ios::app).is_open()) {
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
        GTEST_SKIP() << "this user may write read-only files";
    }
    EXPECT_EQ(readSettings(file), (SaverSettings{4, 9}));
    try {
        writeSettings(file, {1, 1});
        ADD_FAILURE() << "no error";
    } catch (const SettingsFileError& error) {
        EXPECT_EQ(error.code(), std::errc::permission_denied) << error.what();
    }
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(stored(), (Bytes{0x04, 0x09}));
}

TEST_F(SettingsFile, WorksInAFolderWithAJapaneseName) {
    const fs::path japanese = folder / fs::path(u8"スクリーンセーバー");
    fs::create_directory(japanese);
    const fs::path there = settingsFilePath(japanese);
    writeSettings(there, {6, 15});
    EXPECT_EQ(readSettings(there), (SaverSettings{6, 15}));
    EXPECT_TRUE(fs::exists(japanese / "Qelvanor.txt"));
}

TEST(UsableSettings, StoredValuesAreBroughtIntoTheDialogsRanges) {
    EXPECT_EQ(usableSettings({0, 0}), (SaverSettings{1, 1}));
    EXPECT_EQ(usableSettings({3, 10}), (SaverSettings{3, 10}));
    EXPECT_EQ(usableSettings({10, 20}), (SaverSettings{10, 20}));
    EXPECT_EQ(usableSettings({11, 21}), (SaverSettings{10, 20}));
    EXPECT_EQ(usableSettings({255, 255}), (SaverSettings{10, 20}));
}
