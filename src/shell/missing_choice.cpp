// The window's choice of a factor that some specimens have no value of (an
// empty cell or NA of an imported file or a factor table): such a factor is
// on offer in the G1 and G2 boxes, and choosing it either names those
// specimens and keeps the grouping in use, or, with the box "Leave out
// missing" ticked (quillan-batch's --leave-out-missing), leaves them out of
// every table, naming each, so that the groups never hold a specimen
// without a level.
#include "io/import_refusal.hpp"
#include "platform/error.hpp"
#include "shell/runner.hpp"

#include <algorithm>
#include <filesystem>

namespace quillan {

void Runner::leave_out_unvalued(const std::vector<int>& chosen, bool leave_out) {
    const io::Legend& legend = origin_.legend;
    const auto m = static_cast<std::size_t>(ws_.landmarks.rows());
    std::vector<int> rows;
    std::string names, each;
    for (const int k : chosen) {
        const io::Factor& f = legend.factors[static_cast<std::size_t>(k)];
        if (f.codes.size() != m || std::find(f.codes.begin(), f.codes.end(), 0) == f.codes.end()) continue;
        std::string listed;
        int count = 0;
        for (std::size_t s = 0; s < m; ++s)
            if (f.codes[s] == 0) {
                listed += (count++ ? ", " : "") + specimen_label(static_cast<int>(s));
                rows.push_back(static_cast<int>(s));
            }
        const std::string file = std::filesystem::path(f.path.empty() ? legend.source : f.path).filename().string();
        names += (names.empty() ? "" : " or ") + io::in_quotes(f.name);
        each += (each.empty() ? "" : "; ") + io::in_quotes(f.name) + " of " + file + " (" + std::to_string(count) +
                (count == 1 ? " specimen: " : " specimens: ") + listed + ")";
    }
    if (rows.empty()) return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (!leave_out || rows.size() + 2 > m) {
        show_chosen_factors();
        throw QuillanError("No value (an empty cell or NA) of " + each + ". " +
                           (leave_out ? "Leaving them out would leave fewer than 2 specimens."
                                      : "Tick \"Leave out missing\" to leave them out, or give every specimen a value.") +
                           " The grouping was not changed.");
    }
    std::vector<std::string> gone;
    for (const int r : rows) gone.push_back(specimen_label(r));
    leave_out_rows(rows,
                   std::to_string(rows.size()) + " of " + std::to_string(m) + " specimens left out, having no value of " + each);
    io::ImportSteps& steps = origin_.legend.steps;
    steps.left_out.insert(steps.left_out.end(), gone.begin(), gone.end());
    steps.left_out_for += (steps.left_out_for.empty() ? "" : " or ") + names;
}

}  // namespace quillan
