#include "dialog/save_failure.hpp"

#include <gtest/gtest.h>

using namespace zorblinth;
using namespace zorblinth::dialog;
namespace fs = std::filesystem;

namespace {
const fs::path file = fs::path(u8"設定") / "Qelvanor.txt";
} // namespace

TEST(SaveFailureMessage, HeadingEmptyLineFileThenReason) {
    EXPECT_EQ(saveFailureMessage(file, u"許可がありません"),
              u"設定を保存できませんでした。\n\n" + displayedPath(file) + u"\n許可がありません");
    EXPECT_EQ(displayedPath(fs::path(u8"設定/Qelvanor.txt")), u"設定/Qelvanor.txt");
}

TEST(SaveFailureMessage, TheSystemWordsTheFailuresOwnErrorCode) {
    const SettingsFileError failure(file, std::make_error_code(std::errc::permission_denied));
    std::error_code asked;
    const std::u16string text = saveFailureMessage(failure, [&](const std::error_code& error) {
        asked = error;
        return std::u16string(u"許可がありません");
    });
    EXPECT_EQ(asked, std::errc::permission_denied);
    EXPECT_EQ(text, saveFailureMessage(file, u"許可がありません"));
}

TEST(SaveFailureMessage, WithoutTheSystemsWordingTheLibrarysTextIsShown) {
    const SettingsFileError coded(file, std::make_error_code(std::errc::is_a_directory));
    const auto noWording = [](const std::error_code&) { return std::u16string(); };
    EXPECT_EQ(saveFailureMessage(coded, noWording),
              saveFailureMessage(file, utf16FromUtf8(coded.code().message())));
    EXPECT_FALSE(coded.reason().empty());

    const SettingsFileError uncoded(file, "No space left on device");
    EXPECT_FALSE(uncoded.code());
    EXPECT_EQ(saveFailureMessage(uncoded, nullptr),
              saveFailureMessage(file, u"No space left on device"));
}

TEST(SaveFailureMessage, Utf8IsDecodedAndEveryStrayByteShowsAsOneReplacement) {
    EXPECT_EQ(utf16FromUtf8("caf\xC3\xA9 \xE8\xA8\xAD\xE5\xAE\x9A"), u"café 設定");
    EXPECT_EQ(utf16FromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");               // a surrogate pair
    EXPECT_EQ(utf16FromUtf8("caf\xE9"), u"caf\uFFFD");                         // Latin-1
    EXPECT_EQ(utf16FromUtf8("\xE8\xA8"), u"\uFFFD\uFFFD");                     // cut short
    EXPECT_EQ(utf16FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");                     // overlong '/'
    EXPECT_EQ(utf16FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");           // a surrogate's code
    EXPECT_EQ(utf16FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD"); // past U+10FFFF
    EXPECT_EQ(utf16FromUtf8(""), u"");
}
