#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace zorblinth {

// A monitor's part of the whole screen, in the screen's pixels (on Windows the virtual screen,
// where a monitor left of or above the primary one has negative coordinates).
struct Area {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Area&) const = default;

    bool contains(int px, int py) const {
        return px >= x && py >= y && px - x < width && py - y < height;
    }
};

// How the monitors covered must change to cover those there are now: the ones no longer there
// as they were (by index into `covered`, in order), and the areas to cover anew. A monitor that
// moved or changed size is one gone and one new: its picture must be taken again.
struct LayoutChange {
    std::vector<std::size_t> gone;
    std::vector<Area> added;
    bool operator==(const LayoutChange&) const = default;
    bool empty() const { return gone.empty() && added.empty(); }
};
LayoutChange layoutChange(std::span<const Area> covered, std::span<const Area> now);

} // namespace zorblinth
