#include "startup/mode.hpp"

namespace zorblinth::detail {

namespace {
char32_t toUpperAscii(char32_t c) {
    return (c >= U'a' && c <= U'z') ? c - U'a' + U'A' : c;
}
} // namespace

Mode modeFromToken(char32_t first, char32_t second, std::size_t length) {
    if (length < 2 || first != U'/')
        return Mode::settings;
    switch (toUpperAscii(second)) {
    case U'S':
        return Mode::saver;
    case U'P':
        return Mode::preview;
    case U'A':
        return Mode::password;
    default:
        return Mode::settings;
    }
}

} // namespace zorblinth::detail
