// "GoMan": a diagnostic run of the two-group (cell) model that writes its
// intermediate values to the console instead of a report: the observed
// explained sum next to the 95th of 100 sorted permuted explained sums.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/group_tests/designs.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/scoring.hpp"

#include <algorithm>

namespace quillan {

void run_diagnostic(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const Eigen::Index n = ws.groups.cols();
    const PreparedTable table(require_landmarks(env), ws.dimensions);
    const double total_ss = table.total_ss();
    require_shape_variation(total_ss, table.specimens());
    const long long nperm = 100;
    if (n <= 1)
        throw QuillanError(
            "The diagnostic run needs a group file of two columns: the cells of both grouping variables are scored.");
    require_groups(env, 2);
    const Codes g1 = column_codes(ws.groups, 0), g2 = column_codes(ws.groups, 1);
    const Codes cell_list = cells_of(env.console(), g1, g2);
    // Cells are numbered 1, 2, ... in order of first occurrence.
    const int ncells = static_cast<int>(*std::max_element(cell_list.begin(), cell_list.end()));
    Matrix ccode(ncells, 3);
    for (int j = 0; j < ncells; ++j) {
        const auto row = std::find(cell_list.begin(), cell_list.end(), j + 1) - cell_list.begin();
        ccode.row(j) << j + 1, g1[static_cast<std::size_t>(row)], g2[static_cast<std::size_t>(row)];
    }
    env.console().echo("glistc", Value(row_of(cell_list)));
    env.console().echo("ccode", Value(ccode));
    env.pause();

    Scorer scorer(table);
    SingleGroupNotice notice;
    const GroupSums cells = scorer.score(cell_list);
    notice.observed(cells.single_codes, "cell");
    const int nss = cells.specimens();
    const double expvar = total_ss - cells.sum();

    PermutationEngine engine(env.options(), &env.console());
    auto result = engine.run<ShuffleState>(
        nperm, {expvar}, {Exceeds::Greater}, [&] { return std::make_unique<ShuffleState>(table); },
        [&](ShuffleState& s, long long, Rng& rng, double* stats) {
            randperm(s.rp, nss, rng);
            permute_codes(cell_list, s.rp, s.shuffled);
            s.single = false;
            stats[0] = s.explained(total_ss, s.shuffled);
            return s.single;
        },
        0, true);
    std::vector<double> pexpvar = result.values;
    std::sort(pexpvar.begin(), pexpvar.end());

    env.console().echo("expvar", expvar);
    env.console().echo("tssd", total_ss);
    env.console().echo("wgsd", Value(row_of(cells.wgsd)));
    env.console().echo("pexpvar(95)", pexpvar[94]);
    notice.tell(env);
}

}  // namespace quillan
