// The one table of actions.  Each row is one action of the window and of
// quillan-batch: its name for the dispatcher, its batch alias, what kind of
// action it is, what runs it, what it does in a line, what it needs loaded,
// whether it writes a report or its console trace is its result, and what
// its permutation loops compare.  The dispatcher, the batch front end and its
// help, the window, the pictures, the benchmarks and the fuzz target all
// read this table, so adding an action means adding its row (in
// action_table.cpp) and its own file; nothing else names actions.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/options.hpp"
#include "analyses/statistic_names.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace quillan {

// What must be loaded before an action can do its work (the action itself
// checks and says what is missing; this is for help texts and front ends).
enum Needs : unsigned {
    kNeedsNothing = 0,
    kNeedsLandmarks = 1u << 0,
    kNeedsGroups = 1u << 1,
    kNeedsCovariate = 1u << 2,
    kNeedsTree = 1u << 3,  // a phylogeny whose tips the analysis matches to the specimens
};

// What an action does, for the front ends that treat kinds alike.
enum class ActionKind {
    Load,         // reads one plain table into the workspace (a batch option names its file)
    Import,       // reads or arranges an imported file's columns
    Save,         // writes the results box as text
    Export,       // writes numbers or specimens to a file
    Clear,        // forgets the loaded files
    Analysis,     // runs permutations and writes a report
    ConsoleOnly,  // runs permutations and writes its working to the console, no report
};

// An analysis reads the workspace through an ActionEnv; a window step
// (loading, saving, clearing) is one of the window's shell's own
// (window/shell.hpp), which runs it with its dialogs and boxes.  Clear and
// LeaveOutOutliers need neither and run on the runner alone as well.
using AnalysisFn = void (*)(ActionEnv&);
enum class WindowStep {
    None,
    LoadLandmarks,
    LoadGroups,
    LoadCovariate,
    LoadTree,
    Import,
    ChooseGroups,
    LeaveOutOutliers,
    SaveReport,
    ExportResults,
    ExportSpecimens,
    Clear,
};

struct ActionRow {
    const char* name;   // what the window's control hands the dispatcher; compared exactly
    const char* alias;  // the lower-case name quillan-batch also accepts
    ActionKind kind;
    WindowStep step = WindowStep::None;  // exactly one of step and analysis is set
    AnalysisFn analysis = nullptr;
    const char* description = "";  // one line, for help texts
    unsigned needs = kNeedsNothing;
    bool writes_report = false;         // sets the results box
    bool trace_is_result = false;       // its console trace is what the user reads (shown by default in batch)
    int groupings = 0;                  // grouping variables an analysis reads (1: G1 only, 2: G1 and G2)
    const char* file_option = nullptr;  // a load's quillan-batch option naming its file ("--landmarks")
    unsigned loads = kNeedsNothing;     // what a load or import puts into the workspace
    StatisticNames statistics = {};     // an analysis's permutation loops, each a list of statistic names
    bool permutes = true;               // an analysis that runs no permutations (a screening) names no statistics
    // The options of this action's own (the model's formula, a partition
    // file), each declared once with its kind, default, choices and help: the
    // command line, its help and completion, the documentation's tables and
    // the window's controls (whose "option" property names one) all follow
    // them.  Any other action refuses them, naming the actions that take them.
    std::vector<OptionDecl> options = {};
    // A window action that quillan-batch does not run: what it says instead.
    const char* batch_refusal = nullptr;

    bool is_analysis() const { return kind == ActionKind::Analysis || kind == ActionKind::ConsoleOnly; }
    bool reads_files() const { return kind == ActionKind::Load || kind == ActionKind::Import; }
    bool needs_covariate() const { return (needs & kNeedsCovariate) != 0; }
    bool needs_tree() const { return (needs & kNeedsTree) != 0; }
    // Whether `name` (without its dashes) is one of this action's options.
    bool takes_option(std::string_view name) const;
    const OptionDecl* option(std::string_view name) const;
};

// Every action, in the order the dispatcher compares their names.
const std::vector<ActionRow>& action_table();

// Rows a program adds from a file of its own, placed after the table's
// analyses: a test program registers an analysis built only into it (see
// tests/example_analysis) with a static object of this type.  Adding rows
// after the table was first read is a logic error.
struct AddedActions {
    explicit AddedActions(std::vector<ActionRow> rows);
};

// The row named `name` exactly, or nullptr.
const ActionRow* find_action(std::string_view name);
// The row whose name or alias is `word`, or nullptr.
const ActionRow* find_action_or_alias(std::string_view word);

// The action names, in table order.
const std::vector<std::string>& action_names();

// The rows of analyses (console-only ones too), in table order.
std::vector<const ActionRow*> analysis_rows();

// What an action's row lacks for its kind, one line each; empty for a
// complete row.  A test runs it over the whole table.
std::vector<std::string> row_problems(const ActionRow& row);

// The title of statistic `statistic` of loop `loop` of action `action`: its
// name from the table, or its place when the table does not name it.
std::string statistic_title(std::string_view action, int loop, int statistic);

// Every option of the table's actions once, in the order the rows first
// declare them, each with the aliases of the actions that take it.
struct DeclaredOption {
    const OptionDecl* decl;
    std::vector<std::string> takers;
};
std::vector<DeclaredOption> declared_options();

// The option tables of the documentation (docs/analyses.md), one per action
// that has options of its own, in table order.
std::string option_tables_markdown();

// "landmarks, groups" and the like; "nothing" for an empty set.
std::string describe_needs(unsigned needs);

}  // namespace quillan
