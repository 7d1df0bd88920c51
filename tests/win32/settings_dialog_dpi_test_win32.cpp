// The settings dialog's layout and font at the DPI it opens with and after WM_DPICHANGED, read
// from inside its modal loop. It needs a display and a DPI set in the Wine prefix, so the
// end-to-end dialog tests run it at each DPI they set, named in ZORBLINTH_EXPECTED_DPI.

#include "dialog/control_ids_win32.hpp"
#include "dialog/settings_dialog_win32.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

using namespace zorblinth;
using namespace zorblinth::win32;

namespace {

int scaled(int pixels, int dpi) {
    return MulDiv(pixels, dpi, 96);
}

RECT windowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

LOGFONTW fontOf(HWND window) {
    LOGFONTW description{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof description,
               &description);
    return description;
}

void expectLaidOutAt(HWND dialog, int dpi) {
    RECT inner{};
    GetClientRect(dialog, &inner);
    EXPECT_EQ(inner.right, scaled(dialog::innerWidth, dpi));
    EXPECT_EQ(inner.bottom, scaled(dialog::innerHeight, dpi));
    const HWND label = GetDlgItem(dialog, controlId(dialog::Control::lineWidthLabel));
    for (const auto& [control, expected] : dialog::layout) {
        SCOPED_TRACE("control " + std::to_string(controlId(control)));
        const HWND window = GetDlgItem(dialog, controlId(control));
        RECT rect = windowRect(window);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, scaled(expected.left, dpi));
        EXPECT_EQ(rect.top, scaled(expected.top, dpi));
        EXPECT_EQ(rect.right - rect.left, scaled(expected.width, dpi));
        EXPECT_EQ(rect.bottom - rect.top, scaled(expected.height, dpi));
        if (!dialog::caption(control).empty()) {
            EXPECT_EQ(SendMessageW(window, WM_GETFONT, 0, 0),
                      SendMessageW(label, WM_GETFONT, 0, 0));
        }
    }
    EXPECT_EQ(fontOf(label).lfHeight, -MulDiv(9, dpi, 72)); // 9 points
}

// Handed the dialog once it shows, from inside its modal loop.
std::function<void(HWND)> checkOpenDialog;

// Opens the dialog on a throw-away settings file, runs check on it, then presses キャンセル.
void whileOpen(std::function<void(HWND)> check) {
    checkOpenDialog = std::move(check);
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR id, DWORD) {
        const HWND dialog = GetActiveWindow();
        if (dialog == nullptr || !IsWindowVisible(dialog))
            return;
        KillTimer(nullptr, id);
        checkOpenDialog(dialog);
        SendMessageW(GetDlgItem(dialog, controlId(dialog::Control::cancelButton)), BM_CLICK, 0, 0);
    });
    const auto settingsFile = std::filesystem::temp_directory_path() /
                              ("zorblinth-dpi-" + std::to_string(GetCurrentProcessId()));
    EXPECT_EQ(runSettingsDialog(GetModuleHandleW(nullptr), settingsFile),
              dialog::DialogOutcome::closed);
    KillTimer(nullptr, timer);
    std::filesystem::remove(settingsFile);
}

int expectedDpi() {
    const char* set = std::getenv("ZORBLINTH_EXPECTED_DPI");
    return set != nullptr ? std::atoi(set) : 96;
}

} // namespace

TEST(SettingsDialogDpi, OpensAtItsWindowsDpiWithTheTemplatesFontScaled) {
    whileOpen([](HWND dialog) {
        EXPECT_EQ(GetDpiForWindow(dialog), static_cast<UINT>(expectedDpi()));
        expectLaidOutAt(dialog, expectedDpi());
        // The one the dialog manager made from the template at the same DPI.
        const LOGFONTW made = fontOf(dialog);
        const LOGFONTW ours =
            fontOf(GetDlgItem(dialog, controlId(dialog::Control::lineWidthLabel)));
        EXPECT_EQ(ours.lfHeight, made.lfHeight);
        EXPECT_STREQ(ours.lfFaceName, made.lfFaceName);
    });
}

TEST(SettingsDialogDpi, ADpiChangeMovesToTheSuggestedPlaceAndScalesEverything) {
    whileOpen([](HWND dialog) {
        int previous = expectedDpi();
        for (const int dpi : {144, 192, 120, 96}) {
            SCOPED_TRACE("to " + std::to_string(dpi) + " dpi");
            // As Windows suggests it: the whole window scaled, which is not quite what the inner
            // area needs, as the frame does not scale the same way.
            const RECT now = windowRect(dialog);
            const RECT suggested{dpi, 30, dpi + MulDiv(now.right - now.left, dpi, previous),
                                 30 + MulDiv(now.bottom - now.top, dpi, previous)};
            SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                         reinterpret_cast<LPARAM>(&suggested));
            EXPECT_EQ(windowRect(dialog).left, suggested.left);
            EXPECT_EQ(windowRect(dialog).top, suggested.top);
            expectLaidOutAt(dialog, dpi);
            previous = dpi;
        }
    });
}
