#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

namespace zorblinth::win32 {

// The "use the default position" marker of a dialog template's 16-bit coordinates.
inline constexpr short defaultTemplatePosition = static_cast<short>(0x8000);

// An in-memory dialog template without controls: the dialog procedure creates them in pixels,
// so only the frame, the title and the font come from here. Words stay DWORD aligned because
// vector storage is.
inline std::vector<WORD> emptyDialogTemplate(DWORD style, std::wstring_view title,
                                             std::wstring_view fontFace, WORD pointSize) {
    std::vector<WORD> words;
    const auto putDword = [&words](DWORD value) {
        words.push_back(LOWORD(value));
        words.push_back(HIWORD(value));
    };
    const auto putString = [&words](std::wstring_view text) {
        words.insert(words.end(), text.begin(), text.end());
        words.push_back(0);
    };
    putDword(style | DS_SETFONT);
    putDword(0);        // extended style
    words.push_back(0); // no controls in the template
    words.push_back(static_cast<WORD>(defaultTemplatePosition));
    words.push_back(static_cast<WORD>(defaultTemplatePosition));
    words.push_back(0); // width and height: set in pixels once the dialog knows its DPI
    words.push_back(0);
    words.push_back(0); // no menu
    words.push_back(0); // the standard dialog class
    putString(title);
    words.push_back(pointSize);
    putString(fontFace);
    return words;
}

} // namespace zorblinth::win32
