#include "shell/action_table.hpp"

#include "shell/shell.hpp"

namespace quillan {

// The analyses, each defined in its own file under analyses/.
void run_one_way(ActionEnv& env);
void run_one_way_f(ActionEnv& env);
void run_two_way(ActionEnv& env);
void run_two_way_f(ActionEnv& env);
void run_two_way_nest(ActionEnv& env);
void run_one_stand(ActionEnv& env);
void run_two_stand(ActionEnv& env);
void test_covariate(ActionEnv& env);
void run_two_cov(ActionEnv& env);
void run_one_cov(ActionEnv& env);
void go_man(ActionEnv& env);
void run_one_stand_f(ActionEnv& env);
void run_two_stand_f(ActionEnv& env);

namespace {

void load_landmarks(Shell& s) { s.load_landmarks(); }
void load_groups(Shell& s) { s.load_groups(); }
void load_covariate(Shell& s) { s.load_covariate(); }
void save_report(Shell& s) { s.save_report(); }
void clear(Shell& s) { s.clear(); }
void import_data(Shell& s) { s.import_data(); }
void choose_groups(Shell& s) { s.choose_groups(); }
void export_results(Shell& s) { s.export_results(); }
void export_specimens(Shell& s) { s.export_specimens(); }

constexpr unsigned kL = kNeedsLandmarks, kG = kNeedsGroups, kC = kNeedsCovariate;

}  // namespace

const std::vector<ActionRow>& action_table() {
    static const std::vector<ActionRow> rows = {
        // name, alias, shell step, analysis, description, needs, writes a report
        {"Load", "load", load_landmarks, nullptr, "Read the landmark file", kNeedsNothing, false},
        {"LoadGlist", "load-groups", load_groups, nullptr, "Read the group file (one or two columns of codes)", kNeedsNothing,
         false},
        {"LoadClist", "load-covariate", load_covariate, nullptr, "Read the covariate file (one value per specimen)",
         kNeedsNothing, false},
        {"Import", "import", import_data, nullptr, "Read landmarks, factors and a covariate from a TPS, NTS, CSV/TSV or x/y file",
         kNeedsNothing, false},
        {"ChooseGroups", "choose-groups", choose_groups, nullptr,
         "Choose G1, G2 and the covariate among the imported file's columns", kNeedsLandmarks, false},
        {"RunOneWay", "one-way", nullptr, run_one_way, "One-way test of the groups, on the explained sum of squares", kL | kG,
         true},
        {"RunOneWayF", "one-way-f", nullptr, run_one_way_f, "One-way test of the groups, on the F ratio", kL | kG, true},
        {"RunTwoWay", "two-way", nullptr, run_two_way, "The G1 x G2 cells against each grouping variable alone", kL | kG, true},
        {"RunTwoWayF", "two-way-f", nullptr, run_two_way_f, "F tests of G1, G2 and their interaction", kL | kG, true},
        {"RunTwoWayNest", "nested", nullptr, run_two_way_nest, "F tests of the groups of G2 nested within those of G1", kL | kG,
         true},
        {"RunOneStand", "one-way-stand", nullptr, run_one_stand, "One-way test after standardising to the mean covariate",
         kL | kG | kC, true},
        {"RunTwoStand", "two-way-stand", nullptr, run_two_stand, "Two-way test after standardising to the mean covariate",
         kL | kG | kC, true},
        {"TestCovariate", "test-covariate", nullptr, test_covariate, "Slope models on the console, with a surrogate covariate",
         kL | kG | kC, false},
        {"RunTwoCov", "two-way-cov", nullptr, run_two_cov, "Common against separate slopes, two grouping variables", kL | kG | kC,
         true},
        {"RunOneCov", "one-way-cov", nullptr, run_one_cov, "Common against separate slopes within the groups of G1", kL | kG | kC,
         true},
        {"GoMan", "diagnostic", nullptr, go_man, "100 permutations of the cell model, working shown on the console", kL | kG,
         false},
        {"RunOneStandF", "one-way-stand-f", nullptr, run_one_stand_f, "One-way F test with the covariate's effect removed",
         kL | kG | kC, true},
        {"RunTwoStandF", "two-way-stand-f", nullptr, run_two_stand_f, "Two-way F tests with the covariate's effect removed",
         kL | kG | kC, true},
        {"SaveOut", "save", save_report, nullptr, "Write the results box to a text file", kNeedsNothing, false},
        {"ExportResults", "export-results", export_results, nullptr, "Write the numbers of the last report as JSON (or CSV)",
         kNeedsNothing, false},
        {"ExportSpecimens", "export-specimens", export_specimens, nullptr,
         "Write one row per specimen: ID, groups, covariate, centroid size, aligned coordinates", kNeedsLandmarks, false},
        {"Clear", "clear", clear, nullptr, "Forget the loaded files and blank the file and results boxes", kNeedsNothing, false},
    };
    return rows;
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
        {kNeedsLandmarks, "landmarks"}, {kNeedsGroups, "groups"}, {kNeedsCovariate, "covariate"}};
    for (const auto& [flag, word] : parts)
        if (needs & flag) text += (text.empty() ? "" : ", ") + std::string(word);
    return text.empty() ? "nothing" : text;
}

}  // namespace quillan
