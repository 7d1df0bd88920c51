#include "saver/monitor_layout.hpp"

#include <algorithm>

namespace zorblinth {

LayoutChange layoutChange(std::span<const Area> covered, std::span<const Area> now) {
    LayoutChange change;
    for (std::size_t i = 0; i < covered.size(); ++i)
        if (std::find(now.begin(), now.end(), covered[i]) == now.end())
            change.gone.push_back(i);
    for (const Area& area : now)
        if (std::find(covered.begin(), covered.end(), area) == covered.end() &&
            std::find(change.added.begin(), change.added.end(), area) == change.added.end())
            change.added.push_back(area);
    return change;
}

} // namespace zorblinth
