#include "window/shell.hpp"

#include "analyses/common.hpp"
#include "window/window_env.hpp"

#include <algorithm>
#include <exception>

namespace quillan {

Outcome Shell::quillan_action(const std::string& action) {
    // Exact, case-significant comparison, in table order.
    const ActionRow* row = find_action(action);
    if (!row) {
        gui_.msgbox("Fell through case", "");
        runner_.set_last(Outcome::Unknown, "Fell through case");
        return Outcome::Unknown;
    }
    WindowChannel channel(gui_, runner_.console());
    if (row->analysis) return runner_.run(window_request(*row), channel).outcome;
    return runner_.step(row->name, channel, [&] { run_step(row->step); });
}

RunRequest Shell::window_request(const ActionRow& row) {
    RunRequest r;
    r.action = &row;
    r.run = runner_.options();
    r.params.options = OptionValues::read(row.options, given_for(row));
    r.params.words = runner_.control_words();
    try {
        r.params.permutations = permutation_count(window_permutation_text(gui_), runner_.control_words());
    } catch (...) {
        r.params.permutations = Pending<std::uint64_t>::failed(std::current_exception());
    }
    try {
        r.params.covariate = covariate_choice(window_covariate_entry(gui_));
    } catch (...) {
        r.params.covariate = Pending<CovariateChoice>::failed(std::current_exception());
    }
    r.alignment = runner_.export_alignment();
    r.links_file = runner_.links_file();
    for (const auto& [id, fill] : fillers_) fill(r);
    return r;
}

int Shell::add_request_filler(RequestFiller filler) {
    fillers_.emplace_back(++next_filler_, std::move(filler));
    return next_filler_;
}

void Shell::remove_request_filler(int id) {
    std::erase_if(fillers_, [id](const auto& f) { return f.first == id; });
}

bool Shell::is_io_action(const std::string& action) {
    const ActionRow* row = find_action(action);
    return row && (row->kind == ActionKind::Import || row->kind == ActionKind::Export);
}

}  // namespace quillan
