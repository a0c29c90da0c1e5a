// An example analysis, built only into its own test program: how much of the
// shape variation the groups of G1 explain, as a share, and how often a
// shuffled grouping explains more.  It is made as every analysis is made:
// this file, its row (below), and its line in the CMake list beside it.
#include "analyses/common.hpp"
#include "analyses/group_tests/designs.hpp"
#include "analyses/records.hpp"
#include "platform/format.hpp"
#include "shell/action_table.hpp"

namespace quillan {

namespace {

// Reads the workspace and the typed parameters, calls a computation that
// returns a typed result, records its numbers and sets the report.
void run_explained_share(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const PreparedTable table(require_landmarks(env), ws.dimensions);
    const long long nperm = read_nperm(env);
    env.require_one_way_list();
    const Codes codes = column_codes(require_groups(env), 0);
    const double total_ss = table.total_ss();
    const OneWayResult r = one_way_test(env.options(), env.console(), table, total_ss, codes, nperm, false);
    r.notice.tell(env);
    record_one_way(env, r, total_ss, nperm);
    env.set_report(format_expand_reuse(
        "Explained share of the shape variation\\n%s\\nThe groups of G1 explain %2.1f percent of it; %i of %i shuffled groupings "
        "explained more.",
        {ws.landmarks_info, 100 * r.expvar / total_ss, static_cast<double>(r.exceeded), static_cast<double>(nperm)}));
}

// Its row: what the dispatcher, quillan-batch, its help and the pictures read.
const AddedActions kRow({{.name = "RunExplainedShare",
                          .alias = "explained-share",
                          .kind = ActionKind::Analysis,
                          .analysis = run_explained_share,
                          .description = "Share of the shape variation G1 explains (an example)",
                          .needs = kNeedsLandmarks | kNeedsGroups,
                          .writes_report = true,
                          .groupings = 1,
                          .statistics = {{"Explained share: explained SS"}}}});

}  // namespace

}  // namespace quillan
