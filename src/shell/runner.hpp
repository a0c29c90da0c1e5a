// The runner and its workspace.  It reads a request's input files, each as
// its load action reads it, and runs its analysis; it owns the workspace,
// where its tables came from and the record of the last report.  It never
// sees a window: what a window shows of the workspace it tells through a
// WorkspaceView, and the window's own shell (window/shell.hpp) turns its
// controls and dialogs into calls of the runner.
#pragma once

#include "analyses/linear_models/model_request.hpp"
#include "analyses/linear_models/size_model.hpp"
#include "analyses/result_record.hpp"
#include "analyses/workspace.hpp"
#include "io/import.hpp"
#include "platform/atomic_file.hpp"
#include "platform/console.hpp"
#include "shell/action_table.hpp"
#include "shell/run_request.hpp"
#include "shell/text_lines.hpp"
#include "shell/workspace_view.hpp"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

struct MfloadResult;

// The title of the message that says a group or covariate table was kept
// for new landmarks by row alone; the window offers to drop it.
inline constexpr const char* kKeptByRowTitle = "Kept by row";

class Runner {
public:
    // `view`, when given, is told of every change the window shows.
    explicit Runner(Console& console, WorkspaceView* view = nullptr) : console_(console), view_(view) {}

    // Runs a request: reads its input files, each as its load action reads it,
    // then runs its analysis (a request without one only reads the files).
    // Messages, pauses and the report go to `channel`.
    RunResult run(const RunRequest& request, RunChannel& channel);
    // Runs one step of the window's as an action: the one exception boundary
    // (a refusal, an error or a stop becomes a message and the outcome, the
    // workspace keeping what it held).
    Outcome step(const std::string& action, RunChannel& channel, const std::function<void()>& body);

    Workspace& workspace() { return ws_; }
    const Workspace& workspace() const { return ws_; }
    // The settings copied into every request: how the permutations run and
    // the words messages use for the front end's controls.
    RunOptions& options() { return options_; }
    ControlWords& control_words() { return control_words_; }
    Console& console() { return console_; }
    // Text of the last error or refusal, for front ends.
    const std::string& last_message() const { return last_message_; }
    // How the last action ended.
    Outcome last_outcome() const { return last_outcome_; }
    void set_last(Outcome outcome, std::string message) {
        last_outcome_ = outcome;
        last_message_ = std::move(message);
    }
    // The files the workspace holds, as loaded or imported (empty when none).
    struct LoadedPaths {
        std::string landmarks, groups, covariate;
    };
    LoadedPaths loaded_paths() const { return {origin_.landmarks_path, origin_.groups_path, origin_.covariate_path}; }

    // The loads, of files already chosen.
    void take_landmarks(const MfloadResult& r);
    void take_groups(const MfloadResult& r);
    // A table with a header given as a group file: its factors and numeric
    // columns join the legend, matched to the specimens by ID as
    // quillan-batch --factors matches them.
    void attach_factor_table(const std::string& path, const std::string& id_column);
    void take_covariate(const MfloadResult& r);
    void take_tree(const std::string& path, const std::string& tree_name);  // tree_load.cpp
    void import_file(const std::string& path, const io::ImportOptions& options);
    // G1, G2 and the covariate among the imported columns (-1: none; the
    // indices of the entries offered).  `leave_out_missing`: the specimens
    // without a value of a chosen factor leave, instead of the choice being refused.
    void choose_groups(int g1, int g2, int covariate, bool leave_out_missing);
    // The factors shown chosen again (after a choice a window refused).
    void show_chosen_factors();
    void leave_out_outliers();  // the specimens the last outlier screening flagged
    // Drops the tables the last load kept by row alone (kKeptByRowTitle).
    void drop_kept_by_row();
    void clear();

    // The import choices of a front end without its own (Negatives, Gaps, Curves, the ID column).
    io::ImportOptions& import_options() { return import_options_; }
    // How the per-specimen export aligns its coordinates.
    Alignment& export_alignment() { return alignment_; }
    // What the file box shows: every table loaded, each with its description.
    const std::string& file_box_text() const { return file_box_; }
    // Coordinates per landmark of the landmark files loaded: 2, or 3
    // for landmarks in space (x y z per landmark, 3k + 1 numbers a line).
    int& landmark_dimensions() { return landmark_dimensions_; }
    // The IDs and the words behind the codes after an import; empty otherwise.
    const io::Legend& legend() const { return origin_.legend; }
    // The numbers of the last report; empty until an analysis reports.
    const ResultRecord& last_record() const { return last_record_; }
    // The wireframe the pictures are drawn with, if any: recorded with the
    // other inputs of a report (empty for none).
    void set_links_file(std::string path) { links_path_ = std::move(path); }
    const std::string& links_file() const { return links_path_; }
    // The writers behind the exports.  Both go through write_file_atomically.
    void write_results(const std::string& path, bool csv);  // tidy CSV or JSON
    // The specimens' export adds the shapes standardised by the covariate
    // model chosen, when one is, and with a size model the size-corrected shapes.
    void write_specimens(const std::string& path, CovariateChoice model, const std::optional<SizeModel>& size = std::nullopt);
    // What they write, for a front end that sends it elsewhere (standard output).
    std::string results_export(bool csv) const;
    std::string specimens_export(CovariateChoice model, Alignment alignment, const std::optional<SizeModel>& size = std::nullopt);

private:
    void set_file_box(const std::string& text);
    // A message window in the window; through the run's channel without one.
    void tell(const std::string& text, const std::string& title);
    // In the window, an action that fills the file box refuses before
    // anything changes when the layout has none.
    void need_file_box();
    void show_legend();
    std::string specimen_label(int row) const;
    // The variables of the loaded data a formula may name, as an analysis sees them.
    ModelVariables loaded_variables() const;
    Outcome read_inputs(const RunInputs& inputs, RunChannel& channel);
    void report_ignored(const MfloadResult& r);
    void apply_import(const io::ImportedData& d);
    void report_import(const io::ImportedData& d);
    void offer_legend_columns();
    void swap_same_factor(int& g1, int& g2);
    // Refuses G2 without G1 and G1 = G2, the boxes back on the grouping in use.
    void refuse_bad_grouping_pair(int g1, int g2);
    // What the G1 and G2 boxes choose among: a two-column group file's
    // columns while one is loaded, else the imported file's factors.
    bool choosing_columns() const { return origin_.group_columns.size() > 0; }
    std::vector<int>& chosen_now() { return choosing_columns() ? origin_.column_choice : origin_.legend.chosen; }
    void offer_group_columns(const Matrix& table);
    // The rows (0-based, ascending) leave every table of a row per specimen;
    // `line` says so in the file box and on the console.
    void leave_out_rows(const std::vector<int>& rows, const std::string& line);
    // The chosen factors' specimens without a value: refused, naming each,
    // or, with `leave_out`, left out, naming each.
    void leave_out_unvalued(const std::vector<int>& chosen, bool leave_out);
    void choose_group_columns(int g1, int g2);
    // After new landmarks: keeps the group and covariate tables that still
    // go with the specimens (by ID, in their order, where both carry IDs;
    // else by row when the counts agree), drops the others, and says which.
    // `before` is the legend of the landmarks replaced, whose factors and
    // columns follow the tables kept when the new file brings none.
    // `replaced`: landmarks were loaded before these (a table loaded first
    // and landmarks after it are paired as the user chose).
    void keep_matching_companions(const std::string& data_name, bool groups_new, bool covariate_new, const io::Legend& before,
                                  bool replaced = true);
    // The file box: every table loaded, each with its own description.
    void show_files(const std::string& note = {});
    RunResult run_analysis(const RunRequest& request, RunChannel& channel);
    Outcome guarded(const std::string& action, RunChannel& channel, const std::function<Outcome()>& body);
    void keep_record(ActionEnv& env, const RunRequest& request);
    void record_import_steps(RunInfo& r) const;
    // Tells the console, after every report, that it rests on estimated landmarks.
    void remind_estimates();

    Console& console_;
    WorkspaceView* view_ = nullptr;  // none without a window
    RunChannel* channel_ = nullptr;  // during `run`
    std::string file_box_;
    Workspace ws_;
    RunOptions options_;
    std::string last_message_;
    Outcome last_outcome_ = Outcome::Done;
    // Beside the workspace: where its tables came from (for the record of a
    // report) and, after an import, the IDs and the words behind the codes.
    struct Origin {
        std::string landmarks_path, groups_path, covariate_path, tree_path;
        io::Legend legend;
        Matrix group_columns;            // a two-column group file as loaded, while its columns are offered
        std::vector<int> column_choice;  // its columns in use: G1, then G2
        // The specimen IDs of the group and covariate tables' rows, where known.
        std::vector<std::string> groups_ids, covariate_ids;
        // The specimens left out of these landmarks as outliers, by ID or row.
        std::vector<std::string> outliers_left_out;
    };
    Origin origin_;
    io::ImportOptions import_options_;
    std::string links_path_;
    ControlWords control_words_;
    Alignment alignment_ = Alignment::Full;  // of the per-specimen export
    int landmark_dimensions_ = 2;
    bool dimensions_chosen_ = false;
    struct {
        bool groups = false, covariate = false;
    } kept_by_row_;  // by the request's --dimensions; the window's 3-D box chooses space only
    ResultRecord last_record_;
};

// An import's centroid sizes (the landmark table's last column) as one of
// its columns of numbers, "C_size", unless a column has that name; and
// their removal with the landmarks they belong to.
void add_centroid_size(io::Legend& legend, const Matrix& landmarks);
void drop_centroid_size(io::Legend& legend);

// The file box's line for a landmark table of m specimens and k landmarks
// read from `name`; tables in space say so.
std::string data_file_info(const std::string& name, const Matrix& landmarks, int dimensions);

// What a load reads: the table and, when the file went on after the table
// ended, how many lines were left out and where the table ended.
struct LoadedTable {
    Matrix x;
    int ignored_lines = 0;  // non-blank lines after the end of the table
    int end_line = 0;       // 1-based number of the line that ended the table
};

// Reads a text file of numbers into a table (one specimen per line).  Fails
// with a message naming the file and the line when a line cannot be stored.
// Files and lines beyond `limits` are refused.
LoadedTable dload_file(const std::string& path, const ReadLimits& limits = {});
// The same for a caller by name: just the table.
Matrix dload(const std::string& path);

// A table read from a file, with the file's name and path.
struct MfloadResult {
    LoadedTable table;
    std::string fn;  // file name without its folder
    std::string path;
};
// Reads the file a front end names, its path made absolute as a dialog's
// folder and name make it.
MfloadResult mfload_path(const std::string& path);
// Whether the file's first line names columns (two or more words, none a
// number): a table of factors, not of codes.
bool names_its_columns(const std::string& path);

// Writes the lines of the results box the way "SaveOut" does: each line
// preceded by a line feed and a blank.  The file is written beside the target
// and renamed over it, so a failed save leaves an existing file whole.
// report_file_text gives the bytes such a file holds.
std::string report_file_text(const std::vector<std::string>& lines);
// Warnings of a save that succeeded (see atomic_file.hpp) go to `warn`.
void write_report_file(const std::string& path, const std::vector<std::string>& lines, const SaveWarningFn& warn = {});

}  // namespace quillan
