// Scaffolding: replaced by the Qt dialog.
#include "dialog/settings_dialog_qt.hpp"

#include <iostream>

namespace zorblinth::qt {

ExitStatus runSettingsDialog(int&, char**, const std::filesystem::path&) {
    std::cerr << "zorblinth: the settings dialog is not built yet\n";
    return windowSystemFailed;
}

} // namespace zorblinth::qt
