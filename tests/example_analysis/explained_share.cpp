// An example analysis, built only into its own test program: how much of the
// shape variation the groups of G1 explain, as a share, and how often a
// shuffled grouping explains more.  It is made as every analysis is made:
// this file, its row (below) with its options, and its line in the CMake list
// beside it.  Its options show one of each kind: the command line, --help,
// the documentation's tables and a window control with the "option"
// property all follow the row.
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
    const OptionValues& o = env.settings();
    const bool fraction = o.choice_index("share-as") == 1;
    const long long decimals = o.whole("decimals");
    if (decimals < 0 || decimals > 9) throw Refused("--decimals is from 0 to 9.");
    const PreparedTable table(require_landmarks(env), ws.dimensions);
    const long long nperm = read_nperm(env);
    env.require_one_way_list();
    const Codes codes = column_codes(require_groups(env), 0);
    const double total_ss = table.total_ss();
    const OneWayResult r = one_way_test(env.options(), env.console(), table, total_ss, codes, nperm, false);
    r.notice.tell(env);
    record_one_way(env, r, total_ss, nperm);
    const double share = r.expvar / total_ss * (fraction ? 1 : 100);
    std::string text =
        (o.text("title").empty() ? "Explained share of the shape variation" : o.text("title")) + "\n" + ws.landmarks_info + "\n";
    text += format_expand_reuse(
        "The groups of G1 explain %." + std::to_string(decimals) + "f %s of it; %i of %i shuffled " + "groupings explained more.",
        {share, fraction ? "as a fraction" : "percent", static_cast<double>(r.exceeded), static_cast<double>(nperm)});
    if (o.given("at-least"))
        text += share >= o.number("at-least") ? "\nAt least the share asked for." : "\nLess than the share asked for.";
    if (o.flag("sizes")) text += "\nGroup sizes given.";
    // A side file, read before the analysis as every input is: a word a
    // line, each naming a group of G1 in code order.
    if (const SideFile* names = env.params().side_file("names")) {
        text += "\nGroups:";
        for (const SideLine& line : names->lines) text += " " + line.words.front();
    }
    env.set_report(text);
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
                          .statistics = {{"Explained share: explained SS"}},
                          .options = {
                              {.name = "share-as",
                               .kind = OptionKind::Choice,
                               .help = "The share as percent or as a fraction",
                               .fallback = "percent",
                               .choices = {"percent", "fraction"}},
                              {.name = "decimals", .kind = OptionKind::Whole, .help = "Decimals of the share", .fallback = "1"},
                              {.name = "at-least", .kind = OptionKind::Number, .help = "Say whether the share reaches this"},
                              {.name = "title", .help = "The report's first line"},
                              {.name = "sizes", .kind = OptionKind::Flag, .help = "Say that group sizes were asked for"},
                              {.name = "names", .kind = OptionKind::InputFile, .help = "File naming the groups of G1"}}}});

}  // namespace

}  // namespace quillan
