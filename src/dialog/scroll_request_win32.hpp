#pragma once

#include <windows.h>

#include "settings/settings.hpp"

namespace zorblinth::win32 {

// Where a scroll bar goes for one WM_HSCROLL request. Arrows and track clicks both move by one;
// thumb requests carry the position themselves (the test driver sends them without dragging,
// so the position is taken from the message, not from the bar's tracking state).
constexpr int scrolledPosition(int current, int request, int thumbPosition, ValueRange range) {
    int wanted = current;
    switch (request) {
    case SB_LINELEFT:
    case SB_PAGELEFT:
        wanted = current - 1;
        break;
    case SB_LINERIGHT:
    case SB_PAGERIGHT:
        wanted = current + 1;
        break;
    case SB_LEFT:
        wanted = range.minimum;
        break;
    case SB_RIGHT:
        wanted = range.maximum;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        wanted = thumbPosition;
        break;
    default: // SB_ENDSCROLL and anything unknown
        break;
    }
    return range.clamp(wanted);
}

} // namespace zorblinth::win32
