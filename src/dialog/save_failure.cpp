#include "dialog/save_failure.hpp"

#include "dialog/dialog_model.hpp"

namespace zorblinth::dialog {

namespace {

constexpr char16_t replacementCharacter = u'\uFFFD';

void appendCodePoint(std::u16string& text, char32_t codePoint) {
    if (codePoint < 0x10000) {
        text.push_back(static_cast<char16_t>(codePoint));
    } else {
        codePoint -= 0x10000;
        text.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    }
}

template <typename Unit> std::u16string fromNative(const std::basic_string<Unit>& native) {
    if constexpr (sizeof(Unit) == sizeof(char16_t))
        return std::u16string(native.begin(), native.end());
    else
        return utf16FromUtf8(std::string_view(native.data(), native.size()));
}

} // namespace

std::u16string utf16FromUtf8(std::string_view text) {
    std::u16string result;
    result.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length != 0 && at + length <= text.size();
        for (std::size_t next = 1; valid && next < length; ++next) {
            const auto trail = static_cast<unsigned char>(text[at + next]);
            valid = (trail & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (trail & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
        static constexpr char32_t smallestOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && codePoint >= smallestOfLength[length] && codePoint <= 0x10FFFF &&
                (codePoint < 0xD800 || codePoint > 0xDFFF);
        if (valid) {
            appendCodePoint(result, codePoint);
            at += length;
        } else {
            result.push_back(replacementCharacter);
            ++at;
        }
    }
    return result;
}

std::u16string displayedPath(const std::filesystem::path& file) {
    return fromNative(file.native());
}

std::u16string saveFailureMessage(const std::filesystem::path& file, std::u16string_view reason) {
    std::u16string text(saveFailureHeading);
    text += u"\n\n";
    text += displayedPath(file);
    text += u"\n";
    text += reason;
    return text;
}

std::u16string saveFailureMessage(const SettingsFileError& failure,
                                  const SystemWording& systemWording) {
    std::u16string reason;
    if (systemWording)
        reason = systemWording(failure.code());
    if (reason.empty())
        reason = utf16FromUtf8(failure.reason());
    return saveFailureMessage(failure.path(), reason);
}

} // namespace zorblinth::dialog
