#include "dialog/settings_dialog_win32.hpp"

#include "dialog/control_ids_win32.hpp"
#include "dialog/dialog_model.hpp"
#include "dialog/dialog_template_win32.hpp"
#include "dialog/save_failure_win32.hpp"
#include "dialog/scroll_request_win32.hpp"
#include "saver/gdi_handles_win32.hpp"

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace zorblinth {

namespace {

using dialog::Control;

// What lives while the dialog is open; owned by runSettingsDialog's frame.
struct DialogState {
    std::filesystem::path settingsFile;
    dialog::ScrollValues opening;
    HWND lineWidthBar = nullptr;
    HWND lineWidthLabel = nullptr;
    HWND lineAmountBar = nullptr;
};

constexpr dialog::ScrollRange lineWidthBarRange{lineWidthRange.minimum, lineWidthRange.maximum};
constexpr dialog::ScrollRange lineAmountBarRange{lineAmountRange.minimum, lineAmountRange.maximum};

std::wstring wide(std::u16string_view text) {
    return {text.begin(), text.end()};
}

int dotsPerInch(HWND window) {
    const win32::WindowDc dc(window);
    const int dpi = dc.get() != nullptr ? GetDeviceCaps(dc.get(), LOGPIXELSX) : 0;
    return dpi > 0 ? dpi : 96;
}

DWORD controlStyle(Control control) {
    switch (control) {
    case Control::lineWidthBar:
    case Control::lineAmountBar:
        return SBS_HORZ | WS_TABSTOP;
    case Control::setButton:
    case Control::cancelButton:
        return BS_PUSHBUTTON | WS_TABSTOP;
    default:
        return SS_LEFT | SS_NOPREFIX;
    }
}

const wchar_t* controlClass(Control control) {
    switch (control) {
    case Control::lineWidthBar:
    case Control::lineAmountBar:
        return L"SCROLLBAR";
    case Control::setButton:
    case Control::cancelButton:
        return L"BUTTON";
    default:
        return L"STATIC";
    }
}

void setBar(HWND bar, dialog::ScrollRange range, int position) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_POS;
    info.nMin = range.minimum;
    info.nMax = range.maximum;
    info.nPos = position;
    SetScrollInfo(bar, SB_CTL, &info, TRUE);
}

void showLineWidth(const DialogState& state, int lineWidth) {
    SetWindowTextW(state.lineWidthLabel, wide(dialog::lineWidthLabelText(lineWidth)).c_str());
}

// Sizes the inner area and creates the controls in tab order, all scaled from 96 dpi.
bool buildControls(HWND window, DialogState& state) {
    const int dpi = dotsPerInch(window);
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };

    RECT frame{0, 0, scaled(dialog::innerWidth), scaled(dialog::innerHeight)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    const auto font = static_cast<WPARAM>(SendMessageW(window, WM_GETFONT, 0, 0));
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    for (const dialog::ControlLayout& item : dialog::layout) {
        const HWND control = CreateWindowExW(
            0, controlClass(item.control), wide(dialog::caption(item.control)).c_str(),
            WS_CHILD | WS_VISIBLE | controlStyle(item.control), scaled(item.rect.left),
            scaled(item.rect.top), scaled(item.rect.width), scaled(item.rect.height), window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(dialog::controlId(item.control))),
            instance, nullptr);
        if (control == nullptr)
            return false;
        SendMessageW(control, WM_SETFONT, font, FALSE);
        if (item.control == Control::lineWidthBar)
            state.lineWidthBar = control;
        else if (item.control == Control::lineWidthLabel)
            state.lineWidthLabel = control;
        else if (item.control == Control::lineAmountBar)
            state.lineAmountBar = control;
    }
    return true;
}

bool open(HWND window, DialogState& state) {
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
    if (!buildControls(window, state))
        return false;
    setBar(state.lineWidthBar, lineWidthBarRange, state.opening.lineWidth);
    setBar(state.lineAmountBar, lineAmountBarRange, state.opening.lineAmount);
    showLineWidth(state, state.opening.lineWidth);
    SetFocus(state.lineWidthBar);
    return true;
}

void scroll(const DialogState& state, HWND bar, WPARAM request) {
    const bool isLineWidth = bar == state.lineWidthBar;
    if (!isLineWidth && bar != state.lineAmountBar)
        return;
    const int position =
        dialog::scrolledPosition(GetScrollPos(bar, SB_CTL), LOWORD(request), HIWORD(request),
                                 isLineWidth ? lineWidthBarRange : lineAmountBarRange);
    SetScrollPos(bar, SB_CTL, position, TRUE);
    if (isLineWidth)
        showLineWidth(state, position);
}

// "設定": writes the bar positions; on failure tells the user which file and why.
ExitStatus save(HWND window, const DialogState& state) {
    const dialog::ScrollValues positions{GetScrollPos(state.lineWidthBar, SB_CTL),
                                         GetScrollPos(state.lineAmountBar, SB_CTL)};
    _doserrno = 0;
    try {
        writeSettings(state.settingsFile, dialog::settingsToSave(positions));
        return normalEnd;
    } catch (const SettingsFileError& failure) {
        const auto osError = static_cast<DWORD>(_doserrno);
        const std::wstring text =
            dialog::saveFailureText(failure.path(), dialog::saveFailureReason(failure, osError));
        MessageBoxW(window, text.c_str(), wide(dialog::saveFailureCaption).c_str(),
                    MB_OK | MB_ICONERROR);
        return settingsNotSaved;
    }
}

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        if (!open(window, *reinterpret_cast<DialogState*>(lParam)))
            EndDialog(window, windowSystemFailed);
        return FALSE; // the focus is already on HScroll1
    case WM_HSCROLL:
        if (state != nullptr)
            scroll(*state, reinterpret_cast<HWND>(lParam), wParam);
        return TRUE;
    case WM_COMMAND:
        // IDOK and IDCANCEL come from Enter and Escape: neither button is bound to them.
        if (state != nullptr && HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == dialog::controlId(Control::setButton))
                EndDialog(window, save(window, *state));
            else if (LOWORD(wParam) == dialog::controlId(Control::cancelButton))
                EndDialog(window, normalEnd);
        }
        return TRUE;
    case WM_CLOSE: // the close box
        EndDialog(window, normalEnd);
        return TRUE;
    default:
        return FALSE;
    }
}

dialog::ScrollValues storedValues(const std::filesystem::path& settingsFile) {
    try {
        return dialog::openingValues(readSettings(settingsFile));
    } catch (const SettingsFileError&) {
        // The dialog still opens; the problem is reported if the user tries to save.
        return dialog::openingValues({});
    }
}

} // namespace

ExitStatus runSettingsDialog(HINSTANCE instance, const std::filesystem::path& settingsFile) {
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);

    DialogState state{settingsFile, storedValues(settingsFile)};
    const std::vector<WORD> dialogTemplate =
        dialog::emptyDialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                    wide(dialog::title), L"MS Shell Dlg", dialog::fontPointSize);
    const INT_PTR result = DialogBoxIndirectParamW(
        instance, reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()), nullptr,
        dialogProcedure, reinterpret_cast<LPARAM>(&state));
    return result == -1 ? windowSystemFailed : static_cast<ExitStatus>(result);
}

} // namespace zorblinth
