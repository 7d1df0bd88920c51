// The settings dialog's Windows-side pieces that need no window: scroll requests, the in-memory
// template and the save-failure message. Runs under Wine without a display.

#include "dialog/dialog_template_win32.hpp"
#include "dialog/save_failure_win32.hpp"
#include "dialog/scroll_request_win32.hpp"

#include <gtest/gtest.h>

#include <fstream>

using namespace zorblinth;
using namespace zorblinth::win32;

namespace {

constexpr ValueRange widthRange{1, 10};

int after(int current, int request, int thumb = 0) {
    return scrolledPosition(current, request, thumb, widthRange);
}

// A folder of its own under the temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("zorblinth-dialog-" + std::to_string(GetCurrentProcessId()))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace

TEST(ScrollRequest, ArrowsAndTrackClicksBothMoveByOne) {
    EXPECT_EQ(after(5, SB_LINERIGHT), 6);
    EXPECT_EQ(after(5, SB_LINELEFT), 4);
    EXPECT_EQ(after(5, SB_PAGERIGHT), 6);
    EXPECT_EQ(after(5, SB_PAGELEFT), 4);
}

TEST(ScrollRequest, StopsAtTheEnds) {
    EXPECT_EQ(after(10, SB_LINERIGHT), 10);
    EXPECT_EQ(after(10, SB_PAGERIGHT), 10);
    EXPECT_EQ(after(1, SB_LINELEFT), 1);
    EXPECT_EQ(after(1, SB_PAGELEFT), 1);
    EXPECT_EQ(after(4, SB_LEFT), 1);
    EXPECT_EQ(after(4, SB_RIGHT), 10);
    EXPECT_EQ(scrolledPosition(3, SB_RIGHT, 0, ValueRange{1, 20}), 20);
}

TEST(ScrollRequest, ThumbRequestsTakeThePositionFromTheMessage) {
    for (int thumb = 1; thumb <= 10; ++thumb) {
        EXPECT_EQ(after(1, SB_THUMBTRACK, thumb), thumb);
        EXPECT_EQ(after(10, SB_THUMBPOSITION, thumb), thumb);
    }
    // A position the bar cannot show is brought back into range, not stored.
    EXPECT_EQ(after(5, SB_THUMBTRACK, 0), 1);
    EXPECT_EQ(after(5, SB_THUMBTRACK, 42), 10);
}

TEST(ScrollRequest, EndOfScrollingAndUnknownRequestsKeepThePosition) {
    EXPECT_EQ(after(7, SB_ENDSCROLL, 2), 7);
    EXPECT_EQ(after(7, 99, 2), 7);
    // A stored value outside the range is still brought into it by the next request.
    EXPECT_EQ(after(15, SB_ENDSCROLL), 10);
}

TEST(DialogTemplate, HasNoControlsADefaultPositionTheTitleAndTheFont) {
    const std::vector<WORD> words = emptyDialogTemplate(
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, L"題名", L"MS Shell Dlg", 9);
    const auto* header = reinterpret_cast<const DLGTEMPLATE*>(words.data());
    EXPECT_EQ(header->style,
              DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT});
    EXPECT_EQ(header->dwExtendedStyle, 0u);
    EXPECT_EQ(header->cdit, 0);
    EXPECT_EQ(header->x, defaultTemplatePosition);
    EXPECT_EQ(header->y, defaultTemplatePosition);

    // After the 18-byte header: no menu, the standard class, the title, the point size, the face.
    const std::vector<WORD> tail(words.begin() + sizeof(DLGTEMPLATE) / sizeof(WORD), words.end());
    const std::vector<WORD> expected = {0,    0,    L'題', L'名', 0,    9,    L'M',
                                        L'S', L' ', L'S',  L'h',  L'e', L'l', L'l',
                                        L' ', L'D', L'l',  L'g',  0};
    EXPECT_EQ(tail, expected);
}

TEST(SaveFailure, NamesTheFileAndTheReasonUnderTheHeading) {
    EXPECT_EQ(
        saveFailureText(L"C:\\Saver\\Qelvanor.txt", L"アクセスが拒否されました。"),
        L"設定を保存できませんでした。\n\nC:\\Saver\\Qelvanor.txt\nアクセスが拒否されました。");
}

TEST(SaveFailure, SystemMessagesHaveNoTrailingLineBreak) {
    const std::wstring message = systemMessage(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(message.empty());
    EXPECT_NE(message.back(), L'\n');
    EXPECT_NE(message.back(), L'\r');
    EXPECT_NE(message.back(), L' ');
}

TEST(SaveFailure, LibraryReasonsAreReadAsUtf8OrElseAnsi) {
    EXPECT_EQ(widenedReason("No such file or directory"), L"No such file or directory");
    EXPECT_EQ(widenedReason("\xE6\x8B\x92\xE5\x90\xA6"), L"拒否"); // UTF-8
    EXPECT_FALSE(widenedReason("caf\xE9").empty());                // not UTF-8: the ANSI page
    EXPECT_TRUE(widenedReason("").empty());
}

TEST(SaveFailure, PrefersTheErrorTheLibraryMet) {
    const SettingsFileError failure("C:\\Saver\\Qelvanor.txt", "Permission denied");
    EXPECT_EQ(saveFailureReason(failure, ERROR_WRITE_PROTECT), systemMessage(ERROR_WRITE_PROTECT));
}

TEST(SaveFailure, AFolderInTheFilesPlaceGetsTheSystemsReasonAndStaysAFolder) {
    const ScratchFolder scratch;
    const auto file = scratch.path() / "Qelvanor.txt";
    std::filesystem::create_directory(file);

    const SettingsFileError failure(file, "Is a directory");
    EXPECT_EQ(saveFailureReason(failure, 0), systemMessage(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(std::filesystem::is_directory(file));
}

TEST(SaveFailure, WithoutASystemErrorTheLibrarysReasonIsShown) {
    const ScratchFolder scratch;
    const SettingsFileError absent(scratch.path() / "Qelvanor.txt", "Input/output error");
    EXPECT_EQ(saveFailureReason(absent, 0), L"Input/output error");
    EXPECT_FALSE(std::filesystem::exists(absent.path())); // asking why creates nothing

    // A file that opens fine: the failure was not in opening it.
    const auto existing = scratch.path() / "existing.txt";
    std::ofstream(existing) << "ab";
    const SettingsFileError written(existing, "No space left on device");
    EXPECT_EQ(saveFailureReason(written, 0), L"No space left on device");
}

TEST(SaveFailure, AWindowsCodeTheFailureCarriesComesFirstAndTheMessageIsTheCoresComposition) {
    const std::filesystem::path file = L"C:\\Saver\\Qelvanor.txt";
    const SettingsFileError carried(file,
                                    std::error_code(ERROR_WRITE_PROTECT, std::system_category()));
    EXPECT_EQ(saveFailureReason(carried, ERROR_ACCESS_DENIED), systemMessage(ERROR_WRITE_PROTECT));
    EXPECT_EQ(saveFailureText(carried, ERROR_ACCESS_DENIED),
              saveFailureText(file, systemMessage(ERROR_WRITE_PROTECT)));

    // An errno value is not a Windows code: the error the run-time library met words it.
    const SettingsFileError errnoOnly(file, std::make_error_code(std::errc::permission_denied));
    EXPECT_EQ(saveFailureReason(errnoOnly, ERROR_SHARING_VIOLATION),
              systemMessage(ERROR_SHARING_VIOLATION));

    // The program's own refusal of a link keeps its reason, whatever the system met meanwhile.
    const SettingsFileError link(file, settingsPathIsALinkError());
    EXPECT_EQ(saveFailureReason(link, ERROR_ACCESS_DENIED), widenedReason(link.reason()));
}
