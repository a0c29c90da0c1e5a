// What the permutation loops of an analysis compare, as plain names: for
// each loop, in the order the analysis takes its stream ids, the name of
// each statistic of that loop.  The action table gives each analysis its
// names; pictures, exports and help texts read them from there.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillan {

// loops[loop][statistic]; a loop id the analysis takes but runs no
// permutations on has an empty list.
using StatisticNames = std::vector<std::vector<std::string>>;

// The name of statistic `statistic` of loop `loop`, or its place ("Statistic
// 2 of permutation loop 3") when `names` has none for it.
inline std::string title_of_statistic(const StatisticNames& names, int loop, int statistic) {
    if (loop >= 0 && static_cast<std::size_t>(loop) < names.size()) {
        const auto& loop_names = names[static_cast<std::size_t>(loop)];
        if (statistic >= 0 && static_cast<std::size_t>(statistic) < loop_names.size())
            return loop_names[static_cast<std::size_t>(statistic)];
    }
    std::string t = "Statistic " + std::to_string(statistic + 1);
    if (loop > 0) t += " of permutation loop " + std::to_string(loop + 1);
    return t;
}

}  // namespace quillan
