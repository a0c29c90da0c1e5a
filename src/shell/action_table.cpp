#include "shell/action_table.hpp"

#include "shell/action_options.hpp"

#include "analyses/analyses.hpp"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <stdexcept>

namespace quillan {

// The analyses on a phylogeny and the model's choice on a tree (phylo_rows.cpp).
std::vector<ActionRow> phylo_rows();
std::vector<OptionDecl> pgls_options(std::vector<OptionDecl> options);

namespace {

constexpr unsigned kL = kNeedsLandmarks, kG = kNeedsGroups, kC = kNeedsCovariate;

// The statistics of the designs several analyses share, named for the test
// that reports them.
StatisticNames two_way_names(const std::string& test) {
    return {{test + ": explained SS, G1 x G2 cells", test + ": explained SS, G1 alone", test + ": explained SS, G2 alone",
             test + ": explained SS, G1 x G2 cells with G2 shuffled", test + ": explained SS, G1 x G2 cells with G1 shuffled"}};
}
StatisticNames two_way_f_names(const std::string& test) {
    return {{test + ": F ratio of G1", test + ": F ratio of G2", test + ": F ratio of the G1 x G2 interaction"}};
}
// The two loops of a slope-model test of one grouping (analyses/slope_models.hpp).
std::vector<std::vector<std::string>> slope_model_loops(const std::string& groups) {
    const std::string test = "Slope models within " + groups;
    return {{test + ": unexplained SS, common slope", test + ": unexplained SS, different slopes"},
            {test + ": unexplained SS, different slopes of random groups"}};
}
StatisticNames joined(std::initializer_list<std::vector<std::vector<std::string>>> parts) {
    StatisticNames all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

using K = ActionKind;
using O = OptionKind;

// The rows in dispatch order, in four stretches of a page each: reading
// files, the tests of group designs, the covariate tests and the
// diagnostic, then writing and clearing.
std::vector<ActionRow> reading_rows() {
    return {
        {.name = "Load",
         .alias = "load",
         .kind = K::Load,
         .step = WindowStep::LoadLandmarks,
         .description = "Read the landmark file",
         .file_option = "--landmarks",
         .loads = kL},
        {.name = "LoadGlist",
         .alias = "load-groups",
         .kind = K::Load,
         .step = WindowStep::LoadGroups,
         .description = "Read the group file (one or two columns of codes)",
         .file_option = "--groups",
         .loads = kG},
        {.name = "LoadClist",
         .alias = "load-covariate",
         .kind = K::Load,
         .step = WindowStep::LoadCovariate,
         .description = "Read the covariate file (one value per specimen)",
         .file_option = "--covariate",
         .loads = kC},
        {.name = "LoadTree",
         .alias = "load-tree",
         .kind = K::Load,
         .step = WindowStep::LoadTree,
         .description = "Read a phylogeny from a Newick or NEXUS tree file",
         .file_option = "--tree",
         .loads = kNeedsTree},
        {.name = "Import",
         .alias = "import",
         .kind = K::Import,
         .step = WindowStep::Import,
         .description = "Read landmarks, factors and a covariate from a TPS, NTS, CSV/TSV or x/y file",
         .file_option = "--import",
         .loads = kL | kG | kC},
        {.name = "ChooseGroups",
         .alias = "choose-groups",
         .kind = K::Import,
         .step = WindowStep::ChooseGroups,
         .description = "Choose G1, G2 and the covariate among the imported file's columns",
         .needs = kL,
         .batch_refusal =
             "choose-groups is a window action; give --factor (for G1, again for G2) and --covariate-column with --import"},
    };
}

std::vector<ActionRow> design_rows() {
    return {
        {.name = "RunOneWay",
         .alias = "one-way",
         .kind = K::Analysis,
         .analysis = run_one_way,
         .description = "One-way test of the groups, on the explained sum of squares",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 1,
         .statistics = {{"One-way test: explained SS"}}},
        {.name = "RunOneWayF",
         .alias = "one-way-f",
         .kind = K::Analysis,
         .analysis = run_one_way_f,
         .description = "One-way test of the groups, on the F ratio",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 1,
         .statistics = {{"One-way F test: F ratio"}}},
        {.name = "RunTwoWay",
         .alias = "two-way",
         .kind = K::Analysis,
         .analysis = run_two_way,
         .description = "The G1 x G2 cells against each grouping variable alone",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 2,
         .statistics = two_way_names("Two-way test")},
        {.name = "RunTwoWayF",
         .alias = "two-way-f",
         .kind = K::Analysis,
         .analysis = run_two_way_f,
         .description = "F tests of G1, G2 and their interaction",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 2,
         .statistics = two_way_f_names("Two-way F test")},
        {.name = "RunTwoWayNest",
         .alias = "nested",
         .kind = K::Analysis,
         .analysis = run_two_way_nest,
         .description = "F tests of the groups of G2 nested within those of G1",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 2,
         .statistics = {{"Nested test: F ratio of main + nested", "Nested test: F ratio of the main factor (G1)",
                         "Nested test: F ratio of the nested factor (G2 within G1)"}}},
        {.name = "RunOneStand",
         .alias = "one-way-stand",
         .kind = K::Analysis,
         .analysis = run_one_stand,
         .description = "One-way test after standardising to the mean covariate",
         .needs = kL | kG | kC,
         .writes_report = true,
         .groupings = 1,
         .statistics = {{"Standardised one-way test: explained SS"}}},
        {.name = "RunTwoStand",
         .alias = "two-way-stand",
         .kind = K::Analysis,
         .analysis = run_two_stand,
         .description = "Two-way test after standardising to the mean covariate",
         .needs = kL | kG | kC,
         .writes_report = true,
         .groupings = 2,
         .statistics = two_way_names("Standardised two-way test")},
    };
}

std::vector<ActionRow> covariate_rows() {
    return {
        {.name = "TestCovariate",
         .alias = "test-covariate",
         .kind = K::ConsoleOnly,
         .analysis = test_covariate,
         .description = "Slope models on the console, with a surrogate covariate",
         .needs = kL | kG | kC,
         .trace_is_result = true,
         .groupings = 1,
         // The loaded covariate's loops, the stream that orders the
         // surrogate (no permutations), the surrogate's loops.
         .statistics = joined({slope_model_loops("G1, loaded covariate"), {{}}, slope_model_loops("G1, surrogate covariate")})},
        {.name = "RunTwoCov",
         .alias = "two-way-cov",
         .kind = K::Analysis,
         .analysis = run_two_cov,
         .description = "Common against separate slopes, two grouping variables",
         .needs = kL | kG | kC,
         .writes_report = true,
         .groupings = 2,
         .statistics = joined({{{"Two-way slope models: unexplained SS, G1 x random G2 x covariate",
                                 "Two-way slope models: unexplained SS, random G1 x G2 x covariate"}},
                               slope_model_loops("G1 x G2 cells"),
                               slope_model_loops("G1"),
                               slope_model_loops("G2")})},
        {.name = "RunOneCov",
         .alias = "one-way-cov",
         .kind = K::Analysis,
         .analysis = run_one_cov,
         .description = "Common against separate slopes within the groups of G1",
         .needs = kL | kG | kC,
         .writes_report = true,
         .groupings = 1,
         .statistics = slope_model_loops("G1")},
        {.name = "GoMan",
         .alias = "diagnostic",
         .kind = K::ConsoleOnly,
         .analysis = run_diagnostic,
         .description = "100 permutations of the cell model, working shown on the console",
         .needs = kL | kG,
         .trace_is_result = true,
         .groupings = 2,
         .statistics = {{"Diagnostic: explained SS, G1 x G2 cells"}}},
        {.name = "RunOneStandF",
         .alias = "one-way-stand-f",
         .kind = K::Analysis,
         .analysis = run_one_stand_f,
         .description = "One-way F test with the covariate's effect removed",
         .needs = kL | kG | kC,
         .writes_report = true,
         .groupings = 1,
         .statistics = {{"One-way F test, covariate removed: F ratio"}}},
        {.name = "RunTwoStandF",
         .alias = "two-way-stand-f",
         .kind = K::Analysis,
         .analysis = run_two_stand_f,
         .description = "Two-way F tests with the covariate's effect removed",
         .needs = kL | kG | kC,
         .writes_report = true,
         .groupings = 2,
         .statistics = two_way_f_names("Two-way F test, covariate removed")},
        {.name = "RunModel",
         .alias = "model",
         .kind = K::Analysis,
         .analysis = run_model,
         .description = "Procrustes linear model of a formula (--formula, default G1 * G2): ANOVA table by RRPP",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 1,
         // One F a term, in the table's order; the default model of G1 alone has one.
         .statistics = {{"Linear model: F ratio of the first term"}},
         .options = pgls_options(model_options())},
    };
}

// The shape analyses beside the tests of group designs: screening, the
// variance of groups, how groups differ, how parts covary.
std::vector<ActionRow> shape_rows() {
    return {
        {.name = "RunOutliers",
         .alias = "outliers",
         .kind = K::Analysis,
         .analysis = run_outliers,
         .description = "Procrustes distance of each specimen from the mean shape, outliers flagged (--within-groups)",
         .needs = kL,
         .writes_report = true,
         .permutes = false,
         .options = with_size_correction(
             {alignment_option(), gpa_steps_option()},
             {{.name = "within-groups", .kind = O::Flag, .help = "Measure each specimen from the mean of its own group of G1"}})},
        {.name = "RunDisparity",
         .alias = "disparity",
         .kind = K::Analysis,
         .analysis = run_disparity,
         .description = "Procrustes variance of each group of G1 and their pairwise differences (--formula: ~ 1, ~ cov, ~ G1)",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 1,
         // One difference a pair of groups; two groups have one.
         .statistics = {{"Disparity: absolute difference of the variances of the first pair of groups"}},
         .options = with_size_correction({formula_option(), alignment_option(), gpa_steps_option()})},
        {.name = "RunCva",
         .alias = "cva",
         .kind = K::Analysis,
         .analysis = run_cva,
         .description = "Canonical variates of the groups of G1, distances between their means, cross-validated classification",
         .needs = kL | kG,
         .writes_report = true,
         .groupings = 1,
         // Each pair's Mahalanobis distance, then each pair's Procrustes distance.
         .statistics = {{"Canonical variates: Mahalanobis distance of the first pair of groups",
                         "Canonical variates: Procrustes distance of the first pair of groups"}},
         .options = with_size_correction(
             {alignment_option(), gpa_steps_option()},
             {{.name = "no-cross-validate",
               .kind = O::Flag,
               .help = "Classify by resubstitution only (by default each specimen is also classified left out in turn)"}})},
    };
}

// The analyses of parts: how modules and blocks covary, and the sides of a
// symmetric structure.
std::vector<ActionRow> part_rows() {
    return {
        {.name = "RunIntegration",
         .alias = "integration",
         .kind = K::Analysis,
         .analysis = run_integration,
         .description = "Two-block PLS between the modules of --partition FILE: r-PLS, Z and p",
         .needs = kL,
         .writes_report = true,
         // Each pair's r-PLS, then their mean.
         .statistics = {{"Integration: r-PLS of the first pair of modules", "Integration: mean r-PLS"}},
         .options = with_size_correction({alignment_option(), gpa_steps_option()}, {partition_option()})},
        {.name = "RunPls",
         .alias = "pls",
         .kind = K::Analysis,
         .analysis = run_pls,
         .description = "Two-block PLS of shape against the table of --block2 FILE: r-PLS, Z and p",
         .needs = kL,
         .writes_report = true,
         .statistics = {{"PLS: r-PLS of shape and the table", "PLS: r-PLS (again, as the mean of one pair)"}},
         .options = with_size_correction({alignment_option(), gpa_steps_option()}, {block2_option()})},
        {.name = "RunModularity",
         .alias = "modularity",
         .kind = K::Analysis,
         .analysis = run_modularity,
         .description = "Covariance ratio of the modules of --partition FILE against random partitions",
         .needs = kL,
         .writes_report = true,
         .statistics = {{"Modularity: covariance ratio of a random partition"}},
         .options =
             with_size_correction({alignment_option(), gpa_steps_option()}, {partition_option(), no_rotation_search_option()})},
        {.name = "RunSymmetry",
         .alias = "symmetry",
         .kind = K::Analysis,
         .analysis = run_symmetry,
         .description = "Bilateral symmetry: Procrustes ANOVA of individuals and sides, directional and fluctuating asymmetry",
         .needs = kL | kG,
         .writes_report = true,
         // Matching symmetry reads G1 and G2 unless --individual and --side name other factors.
         .groupings = 2,
         // One F a term of the shape table, then of the size table (matching symmetry).
         .statistics = {{"Symmetry: F ratio of individuals (shape)", "Symmetry: F ratio of sides (shape)"},
                        {"Symmetry: F ratio of individuals (size)", "Symmetry: F ratio of sides (size)"}},
         .options = symmetry_options()},
        {.name = "RunMeasurementError",
         .alias = "measurement-error",
         .kind = K::Analysis,
         .analysis = run_measurement_error,
         .description = "Measurement error of repeated digitising: systematic and random error, ICCs and repeatability",
         .needs = kL | kG,
         .writes_report = true,
         // The subjects and replicates are G1 and G2 unless --subjects and --replicates name other factors.
         .groupings = 2,
         // The SNR of the subjects and of the systematic error (then of its interaction with --groups).
         .statistics = {{"Measurement error: SNR of Subjects", "Measurement error: SNR of Systematic ME"}},
         .options = measurement_error_options()},
    };
}

// What the window does with an outlier screening's flags.
std::vector<ActionRow> screening_rows() {
    return {
        {.name = "LeaveOutOutliers",
         .alias = "leave-out-outliers",
         .kind = K::Import,
         .step = WindowStep::LeaveOutOutliers,
         .description = "Leave the specimens the last outlier screening flagged out of the analyses that follow",
         .needs = kL,
         .batch_refusal = "leave-out-outliers is a window action; run outliers, then give the landmark file without the "
                          "specimens it flagged"},
    };
}

std::vector<ActionRow> writing_rows() {
    return {
        {.name = "SaveOut",
         .alias = "save",
         .kind = K::Save,
         .step = WindowStep::SaveReport,
         .description = "Write the results box to a text file"},
        {.name = "ExportResults",
         .alias = "export-results",
         .kind = K::Export,
         .step = WindowStep::ExportResults,
         .description = "Write the numbers of the last report as JSON (or CSV)",
         .batch_refusal = "export-results is a window action; give --json FILE or --csv FILE with an analysis"},
        {.name = "ExportSpecimens",
         .alias = "export-specimens",
         .kind = K::Export,
         .step = WindowStep::ExportSpecimens,
         .description = "Write one row per specimen: ID, groups, covariate, centroid size, aligned coordinates",
         .needs = kL,
         // The size-corrected coordinates too, when asked, for the model the
         // analyses correct for.
         .options = with_size_correction({})},
        {.name = "Clear",
         .alias = "clear",
         .kind = K::Clear,
         .step = WindowStep::Clear,
         .description = "Forget the loaded files and blank the file and results boxes"},
    };
}

}  // namespace

namespace {

std::vector<ActionRow>& added_rows() {
    static std::vector<ActionRow> rows;
    return rows;
}
bool& table_built() {
    static bool built = false;
    return built;
}

}  // namespace

AddedActions::AddedActions(std::vector<ActionRow> rows) {
    if (table_built()) throw std::logic_error("actions added after the action table was first read");
    added_rows().insert(added_rows().end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

const std::vector<ActionRow>& action_table() {
    static const std::vector<ActionRow> rows = [] {
        std::vector<ActionRow> all;
        for (auto part : {reading_rows(), design_rows(), covariate_rows(), shape_rows(), part_rows(), trajectory_rows(),
                          phylo_rows(), screening_rows(), added_rows(), writing_rows()})
            all.insert(all.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
        table_built() = true;
        return all;
    }();
    return rows;
}

std::vector<const ActionRow*> analysis_rows() {
    std::vector<const ActionRow*> out;
    for (const auto& row : action_table())
        if (row.is_analysis()) out.push_back(&row);
    return out;
}

std::vector<std::string> row_problems(const ActionRow& row) {
    std::vector<std::string> p;
    const auto lacks = [&](bool missing, const char* what) {
        if (missing) p.push_back(std::string(row.name ? row.name : "(no name)") + ": " + what);
    };
    lacks(!row.name || !*row.name || !row.alias || !*row.alias, "no name or no alias");
    lacks(!row.description || !*row.description, "no description");
    lacks((row.step == WindowStep::None) == (row.analysis == nullptr), "needs exactly one of a window step and an analysis");
    lacks(row.is_analysis() && !row.analysis, "an analysis without its function");
    lacks(row.is_analysis() && (row.needs & kNeedsLandmarks) == 0, "an analysis that does not need landmarks");
    lacks(row.is_analysis() && (row.needs & kNeedsGroups) != 0 && row.groupings != 1 && row.groupings != 2,
          "an analysis without its grouping count (1 or 2)");
    lacks(row.is_analysis() && row.groupings > 0 && (row.needs & kNeedsGroups) == 0, "reads groupings but does not need groups");
    bool named = false;
    for (const auto& loop : row.statistics)
        for (const auto& name : loop) named = named || !name.empty();
    lacks(row.is_analysis() && row.permutes && !named, "an analysis without statistic names");
    lacks(!row.permutes && !row.statistics.empty(), "statistic names on an analysis that runs no permutations");
    lacks(!row.is_analysis() && !row.statistics.empty(), "statistic names on an action that runs no permutations");
    lacks(!row.is_analysis() && row.groupings != 0, "a grouping count on an action that is not an analysis");
    lacks(row.kind == ActionKind::Analysis && !row.writes_report, "an analysis that writes no report");
    lacks(row.kind == ActionKind::ConsoleOnly && (row.writes_report || !row.trace_is_result),
          "a console-only action must have its trace as its result and write no report");
    lacks(row.kind != ActionKind::ConsoleOnly && row.trace_is_result, "only a console-only action has its trace as its result");
    lacks(!row.is_analysis() && row.writes_report, "only an analysis writes a report");
    lacks(row.kind == ActionKind::Load && !row.file_option, "a load without the batch option naming its file");
    lacks(row.file_option && !row.reads_files(), "a file option on an action that reads no file");
    lacks(row.file_option && row.loads == kNeedsNothing, "a file option without what its file loads");
    for (const OptionDecl& o : row.options) {
        const std::string name = o.name ? o.name : "";
        lacks(name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") != std::string::npos,
              "an option without a name of small letters, digits and dashes");
        lacks(!o.help || !*o.help, "an option without its help");
        lacks(row.option(name) != &o, "an option declared twice");
        const bool choice = o.kind == OptionKind::Choice;
        lacks(choice != !o.choices.empty(), "choices on an option that is not a choice, or a choice without them");
        lacks(choice &&
                  std::none_of(o.choices.begin(), o.choices.end(), [&](const char* c) { return std::string(c) == o.fallback; }),
              "a choice whose default is none of its words");
    }
    return p;
}

std::string statistic_title(std::string_view action, int loop, int statistic) {
    const ActionRow* row = find_action(action);
    return title_of_statistic(row ? row->statistics : StatisticNames{}, loop, statistic);
}

bool ActionRow::takes_option(std::string_view name) const { return option(name) != nullptr; }

const OptionDecl* ActionRow::option(std::string_view name) const {
    for (const OptionDecl& o : options)
        if (name == o.name) return &o;
    return nullptr;
}

std::vector<DeclaredOption> declared_options() {
    std::vector<DeclaredOption> all;
    for (const ActionRow& row : action_table())
        for (const OptionDecl& o : row.options) {
            auto it = std::find_if(all.begin(), all.end(),
                                   [&](const DeclaredOption& d) { return d.decl->name == std::string(o.name); });
            if (it == all.end()) it = all.insert(all.end(), DeclaredOption{&o, {}});
            it->takers.emplace_back(row.alias);
        }
    return all;
}

const ActionRow* find_action(std::string_view name) {
    for (const auto& row : action_table())
        if (name == row.name) return &row;
    return nullptr;
}

const ActionRow* find_action_or_alias(std::string_view word) {
    for (const auto& row : action_table())
        if (word == row.name || word == row.alias) return &row;
    return nullptr;
}

const std::vector<std::string>& action_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const auto& row : action_table()) n.emplace_back(row.name);
        return n;
    }();
    return names;
}

std::string describe_needs(unsigned needs) {
    std::string text;
    const std::pair<unsigned, const char*> parts[] = {
        {kNeedsLandmarks, "landmarks"}, {kNeedsGroups, "groups"}, {kNeedsCovariate, "covariate"}, {kNeedsTree, "tree"}};
    for (const auto& [flag, word] : parts)
        if (needs & flag) text += (text.empty() ? "" : ", ") + std::string(word);
    return text.empty() ? "nothing" : text;
}

}  // namespace quillan
