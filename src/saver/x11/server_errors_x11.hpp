#pragma once

#include "saver/x11/saver_window_x11.hpp"

namespace zorblinth::x11 {

// Before anything can block or be grabbed: SIGTERM, SIGINT and SIGHUP end the saver from now
// on, a connection lost ends the process through endProcess with one line on standard error,
// and X errors are ours to judge, not Xlib's (which would end the program with status 1, "settings
// not saved", after a dump).
void prepareForEnding(EndProcess endProcess);

} // namespace zorblinth::x11
