#include "dialog/settings_dialog_win32.hpp"

#include "dialog/control_ids_win32.hpp"
#include "dialog/dialog_model.hpp"
#include "dialog/dialog_template_win32.hpp"
#include "dialog/save_failure_win32.hpp"
#include "dialog/scroll_request_win32.hpp"
#include "platform/gdi_handles_win32.hpp"

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace zorblinth::win32 {

namespace {

using dialog::Control;
using dialog::DialogOutcome;

// What lives while the dialog is open; owned by runSettingsDialog's frame.
struct DialogState {
    std::filesystem::path settingsFile;
    dialog::ScrollValues opening;
    HWND lineWidthBar = nullptr;
    HWND lineWidthLabel = nullptr;
    HWND lineAmountBar = nullptr;
    // The controls' font at the dialog's current DPI; they only borrow it.
    GdiObject<HFONT> font{};
};

// The dialog template's font; the controls get the same face and size, scaled to the DPI.
constexpr std::wstring_view fontFace = L"MS Shell Dlg";
constexpr WORD fontPoints = dialog::fontPointSize;

std::wstring wide(std::u16string_view text) {
    return {text.begin(), text.end()};
}

// The window's own DPI, which follows its monitor; Windows before 10 (1607) cannot tell it, so
// there the DC's, which is the system's.
int dotsPerInch(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    // Through void(*)() because a cast between unrelated function types draws a warning.
    static const auto getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr)
        if (const UINT dpi = getDpiForWindow(window); dpi > 0)
            return static_cast<int>(dpi);
    const WindowDc dc(window);
    const int dpi = dc.get() != nullptr ? GetDeviceCaps(dc.get(), LOGPIXELSX) : 0;
    return dpi > 0 ? dpi : 96;
}

GdiObject<HFONT> dialogFont(int dpi) {
    LOGFONTW description{};
    description.lfHeight = -MulDiv(fontPoints, dpi, 72);
    description.lfWeight = FW_NORMAL;
    description.lfCharSet = DEFAULT_CHARSET;
    fontFace.copy(description.lfFaceName, std::size(description.lfFaceName) - 1);
    return GdiObject<HFONT>(CreateFontIndirectW(&description));
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

void setBar(HWND bar, ValueRange range, int position) {
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

// Resizes the window, keeping its top-left corner, so that its inner area is width x height.
// The frame is measured rather than computed, as its thickness follows the DPI by the system's
// own rules; a second pass covers a window first too small to have an inner area at all.
void fitInnerSize(HWND window, int width, int height) {
    for (int pass = 0; pass < 2; ++pass) {
        RECT outer{};
        RECT inner{};
        GetWindowRect(window, &outer);
        GetClientRect(window, &inner);
        if (inner.right == width && inner.bottom == height)
            return;
        SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + width - inner.right,
                     outer.bottom - outer.top + height - inner.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// Sizes the inner area, places every control and gives it the font, all scaled from 96 dpi.
void layOut(HWND window, DialogState& state, int dpi) {
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    fitInnerSize(window, scaled(dialog::innerWidth), scaled(dialog::innerHeight));

    // Without a new font the old one stays: readable, if not at the new size.
    GdiObject<HFONT> font = dialogFont(dpi);
    const HFONT shown = font ? font.get() : state.font.get();
    for (const dialog::ControlLayout& item : dialog::layout) {
        const HWND control = GetDlgItem(window, controlId(item.control));
        SetWindowPos(control, nullptr, scaled(item.rect.left), scaled(item.rect.top),
                     scaled(item.rect.width), scaled(item.rect.height),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(shown), TRUE);
    }
    if (font)
        state.font = std::move(font); // the old one is no longer in use
}

// Creates the controls in tab order; layOut places them.
bool createControls(HWND window, DialogState& state) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    for (const dialog::ControlLayout& item : dialog::layout) {
        const HWND control = CreateWindowExW(
            0, controlClass(item.control), wide(dialog::caption(item.control)).c_str(),
            WS_CHILD | WS_VISIBLE | controlStyle(item.control), 0, 0, 0, 0, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(item.control))), instance,
            nullptr);
        if (control == nullptr)
            return false;
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
    if (!createControls(window, state))
        return false;
    layOut(window, state, dotsPerInch(window));
    setBar(state.lineWidthBar, lineWidthRange, state.opening.lineWidth);
    setBar(state.lineAmountBar, lineAmountRange, state.opening.lineAmount);
    showLineWidth(state, state.opening.lineWidth);
    SetFocus(state.lineWidthBar);
    return true;
}

void scroll(const DialogState& state, HWND bar, WPARAM request) {
    const bool isLineWidth = bar == state.lineWidthBar;
    if (!isLineWidth && bar != state.lineAmountBar)
        return;
    const int position =
        scrolledPosition(GetScrollPos(bar, SB_CTL), LOWORD(request), HIWORD(request),
                         isLineWidth ? lineWidthRange : lineAmountRange);
    SetScrollPos(bar, SB_CTL, position, TRUE);
    if (isLineWidth)
        showLineWidth(state, position);
}

// "設定": writes the bar positions; on failure tells the user which file and why.
DialogOutcome save(HWND window, const DialogState& state) {
    const dialog::ScrollValues positions{GetScrollPos(state.lineWidthBar, SB_CTL),
                                         GetScrollPos(state.lineAmountBar, SB_CTL)};
    _doserrno = 0;
    try {
        writeSettings(state.settingsFile, dialog::settingsToSave(positions));
        return DialogOutcome::closed;
    } catch (const SettingsFileError& failure) {
        const std::wstring text = saveFailureText(failure, static_cast<DWORD>(_doserrno));
        MessageBoxW(window, text.c_str(), wide(dialog::saveFailureCaption).c_str(),
                    MB_OK | MB_ICONERROR);
        return DialogOutcome::settingsNotSaved;
    }
}

void closeWith(HWND window, DialogOutcome outcome) {
    EndDialog(window, static_cast<INT_PTR>(outcome));
}

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        if (!open(window, *reinterpret_cast<DialogState*>(lParam)))
            closeWith(window, DialogOutcome::windowSystemFailed);
        return FALSE; // the focus is already on HScroll1
    case WM_HSCROLL:
        if (state != nullptr)
            scroll(*state, reinterpret_cast<HWND>(lParam), wParam);
        return TRUE;
    case WM_COMMAND:
        // IDOK and IDCANCEL come from Enter and Escape: neither button is bound to them.
        if (state != nullptr && HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == controlId(Control::setButton))
                closeWith(window, save(window, *state));
            else if (LOWORD(wParam) == controlId(Control::cancelButton))
                closeWith(window, DialogOutcome::closed);
        }
        return TRUE;
    case WM_DPICHANGED: // moved to a screen of another DPI: go where suggested, lay out anew
        if (state != nullptr) {
            const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested.left, suggested.top,
                         suggested.right - suggested.left, suggested.bottom - suggested.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            layOut(window, *state, LOWORD(wParam));
        }
        return TRUE;
    case WM_CLOSE: // the close box
        closeWith(window, DialogOutcome::closed);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

DialogOutcome runSettingsDialog(HINSTANCE instance, const std::filesystem::path& settingsFile) {
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);

    DialogState state{settingsFile, dialog::openingValues(readSettingsOrZeros(settingsFile))};
    const std::vector<WORD> dialogTemplate =
        emptyDialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, wide(dialog::title),
                            fontFace, fontPoints);
    const INT_PTR result = DialogBoxIndirectParamW(
        instance, reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()), nullptr,
        dialogProcedure, reinterpret_cast<LPARAM>(&state));
    return result == -1 ? DialogOutcome::windowSystemFailed : static_cast<DialogOutcome>(result);
}

} // namespace zorblinth::win32
