#pragma once

#include <string_view>

namespace zorblinth {

// What the screen-saver host asked for on the command line.
enum class Mode { saver, preview, password, settings };

namespace detail {
Mode modeFromToken(char32_t first, char32_t second, std::size_t length);
}

// The argument text is what follows the program's name on the command line ("/s", "/p 1234",
// "/c:3812", ""). Only the first two characters count, upper-cased; any character type works
// (UTF-16 from Windows, UTF-8 bytes from X11), since only ASCII can match.
template <typename Char> Mode modeFromArguments(std::basic_string_view<Char> argumentText) {
    auto at = [&](std::size_t i) {
        return i < argumentText.size() ? static_cast<char32_t>(argumentText[i]) : U'\0';
    };
    return detail::modeFromToken(at(0), at(1), argumentText.size());
}

template <typename Char> Mode modeFromArguments(const Char* argumentText) {
    return modeFromArguments(std::basic_string_view<Char>(argumentText));
}

} // namespace zorblinth
