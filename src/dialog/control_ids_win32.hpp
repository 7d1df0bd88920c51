#pragma once

#include "dialog/dialog_model.hpp"

namespace zorblinth::win32 {

// Window identifiers of the dialog's controls, shared with the end-to-end test driver.
constexpr int controlId(dialog::Control control) {
    return 1001 + static_cast<int>(control);
}

} // namespace zorblinth::win32
