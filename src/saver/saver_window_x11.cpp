// Scaffolding: replaced by the X11 front end.
#include "saver/saver_window_x11.hpp"

#include <iostream>

namespace zorblinth::x11 {

ExitStatus runStandaloneSaver(const std::filesystem::path&, const std::filesystem::path&,
                              const CommandLine&) {
    std::cerr << "zorblinth: the X11 saver is not built yet\n";
    return windowSystemFailed;
}

ExitStatus runHostedSaver(const std::filesystem::path&, const CommandLine&) {
    std::cerr << "zorblinth: the X11 saver is not built yet\n";
    return windowSystemFailed;
}

} // namespace zorblinth::x11
