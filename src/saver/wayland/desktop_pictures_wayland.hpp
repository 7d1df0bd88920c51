#pragma once

#include "saver/wayland/compositor_wayland.hpp"
#include "saver/wayland/picture_wayland.hpp"

#include <chrono>
#include <memory>
#include <span>
#include <vector>

namespace zorblinth::wayland {

// Where the saver's desktop pictures come from, in the order they are tried: the compositor's
// wlr screencopy, then KWin's screenshot interface on the session bus, then the screenshot
// portal where its permission store already allows this program, then none (black). Each
// output takes the first source that gives its picture without the cursor; the sources together
// take at most `patience`, so that the saver covers the screen in time whatever a compositor or
// a bus service does. Under `verbose`, a source that fails says why in one line on stderr.
//
// A null output (one surface where the compositor chooses) gets no picture.
struct PictureSources {
    bool screencopy = true; // false: as if the compositor did not offer it
    bool verbose = false;
};
std::vector<std::unique_ptr<FrozenPicture>>
takeDesktopPictures(Compositor& compositor, std::span<Output* const> outputs,
                    std::chrono::steady_clock::duration patience, PictureSources sources);

} // namespace zorblinth::wayland
