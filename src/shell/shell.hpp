// The dispatcher and its workspace.  Every control of the window hands an
// action name to `quillan_action`; it compares the name with the action
// table (action_table.hpp) in order, runs the first match and otherwise
// shows "Fell through case".
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

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

class Gui;
struct FileChoice;
struct MfloadResult;

// The title of the message that says a group or covariate table was kept
// for new landmarks by row alone; the window offers to drop it.
inline constexpr const char* kKeptByRowTitle = "Kept by row";

class Shell {
public:
    // The window's shell: its actions read and fill the window's controls.
    Shell(Gui& gui, Console& console) : gui_(&gui), console_(console) {}
    // A shell without a window (quillan-batch): only `run`, with the files to
    // read in its request and its messages through the request's channel.
    explicit Shell(Console& console) : console_(console) {}

    // The window's dispatcher: runs the action named, reading its
    // parameters from the window's controls and settings.
    Outcome quillan_action(const std::string& action);

    // Runs a request: reads its input files, each as its load action reads it,
    // then runs its action (a request without one only reads the files).
    // Messages, pauses and the report go to `channel`.
    RunResult run(const RunRequest& request, RunChannel& channel);

    // The request the window's controls make for an analysis: the boxes as
    // they read now (a box that cannot be read is a failure raised where the
    // analysis asks for its value), the window's settings, the action's own
    // options as the option source reads them, and what each filler adds
    // (the panels' parts).
    RunRequest window_request(const ActionRow& row);
    // Where the window's requests take an action's own options from: the
    // controls of the page of its button, once the window has set a source;
    // until then (a shell driven by name, a test) the given options below.
    using OptionSource = std::function<GivenOptions(const ActionRow&)>;
    void set_option_source(OptionSource source) { option_source_ = std::move(source); }
    GivenOptions& given_options() { return given_options_; }
    using RequestFiller = std::function<void(RunRequest&)>;
    int add_request_filler(RequestFiller filler);
    void remove_request_filler(int id);

    Workspace& workspace() { return ws_; }
    const Workspace& workspace() const { return ws_; }
    // The window's settings, copied into every request it builds: how the
    // permutations run and the words its messages use for the window's
    // controls.
    RunOptions& options() { return options_; }
    ControlWords& control_words() { return control_words_; }
    Gui& gui() { return *gui_; }
    Console& console() { return console_; }
    // Text of the last error or refusal, for front ends.
    const std::string& last_message() const { return last_message_; }
    // How the last action ended.
    Outcome last_outcome() const { return last_outcome_; }
    // The files the workspace holds, as loaded or imported (empty when none).
    struct LoadedPaths {
        std::string landmarks, groups, covariate;
    };
    LoadedPaths loaded_paths() const { return {origin_.landmarks_path, origin_.groups_path, origin_.covariate_path}; }

    // The shell's own actions, run through the action table.
    void load_landmarks();      // "Load"
    void load_groups();         // "LoadGlist"
    void load_covariate();      // "LoadClist"
    void load_tree();           // "LoadTree": a phylogeny (tree_load.cpp)
    void save_report();         // "SaveOut"
    void clear();               // "Clear"
    void leave_out_outliers();  // "LeaveOutOutliers": the specimens the last outlier screening flagged
    // Drops the tables the last load kept by row alone (kKeptByRowTitle).
    void drop_kept_by_row();

    // Import and export (io_actions.cpp), also run through the action table.
    void import_data();       // "Import": landmarks, factors and covariate from a TPS, NTS or table file
    void choose_groups();     // "ChooseGroups": G1, G2 and the covariate among the imported columns
    void export_results();    // "ExportResults": the numbers of the last report, JSON or CSV
    void export_specimens();  // "ExportSpecimens": one row per specimen
    // Whether `action` is one of the four above (their controls are not all buttons).
    static bool is_io_action(const std::string& action);
    // The window's import choices (Negatives, Gaps, Curves, the ID column).
    io::ImportOptions& import_options() { return import_options_; }
    // How the window's per-specimen export aligns its coordinates.
    Alignment& export_alignment() { return alignment_; }
    // What the file box shows: every table loaded, each with its description.
    const std::string& file_box_text() const { return file_box_; }
    // Coordinates per landmark of the landmark files "Load" reads: 2, or 3
    // for landmarks in space (x y z per landmark, 3k + 1 numbers a line).
    int& landmark_dimensions() { return landmark_dimensions_; }
    // The IDs and the words behind the codes after an import; empty otherwise.
    const io::Legend& legend() const { return origin_.legend; }
    // The numbers of the last report; empty until an analysis reports.
    const ResultRecord& last_record() const { return last_record_; }
    // The wireframe the pictures are drawn with, if any: recorded with the
    // other inputs of a report (empty for none).
    void set_links_file(std::string path) { links_path_ = std::move(path); }
    // The writers behind the exports, for front ends that name the file
    // themselves.  Both go through write_file_atomically.
    void write_results(const std::string& path, bool csv);  // tidy CSV or JSON
    // The specimens' export adds the shapes standardised by the covariate
    // model chosen, when one is.
    // With a size model, the size-corrected shapes too.
    void write_specimens(const std::string& path, CovariateChoice model, const std::optional<SizeModel>& size = std::nullopt);
    // What they write, for a front end that sends it elsewhere (standard output).
    std::string results_export(bool csv) const;
    std::string specimens_export(CovariateChoice model, Alignment alignment, const std::optional<SizeModel>& size = std::nullopt);

private:
    Outcome run_action(const std::string& action);
    void set_file_box(const std::string& text);
    // A message window in the window; through the run's channel without one.
    void tell(const std::string& text, const std::string& title);
    // In the window, an action that fills the file box refuses before
    // anything changes when the layout has none.
    void need_file_box();
    std::string specimen_label(int row) const;
    // The variables of the loaded data a formula may name, as an analysis sees them.
    ModelVariables loaded_variables() const;
    Outcome read_inputs(const RunInputs& inputs, RunChannel& channel);
    void take_landmarks(const MfloadResult& r);
    void take_groups(const MfloadResult& r);
    void take_covariate(const MfloadResult& r);
    void take_tree(const std::string& path, const std::string& tree_name);
    void report_ignored(const MfloadResult& r);
    void import_file(const std::string& path, const io::ImportOptions& options);
    void apply_import(const io::ImportedData& d);
    void report_import(const io::ImportedData& d);
    void offer_legend_columns();
    // A table with a header given to "LoadGlist": its factors and numeric
    // columns join the legend, matched to the specimens by ID as
    // quillan-batch --factors matches them.
    void attach_factor_table(const std::string& path, const std::string& id_column);
    void show_legend();
    void swap_same_factor(int& g1, int& g2);
    void set_factor_choice(const char* tag, int factor);  // factor -1: "(none)"
    void show_chosen_factors();
    // Refuses G2 without G1 and G1 = G2, the boxes back on the grouping in use.
    void refuse_bad_grouping_pair(int g1, int g2);
    int factor_choice(const char* tag);  // -1 for "(none)" or no such box
    // What the G1 and G2 boxes choose among: a two-column group file's
    // columns while one is loaded, else the imported file's factors.
    bool choosing_columns() const { return origin_.group_columns.size() > 0; }
    std::vector<int>& chosen_now() { return choosing_columns() ? origin_.column_choice : origin_.legend.chosen; }
    void offer_group_columns(const Matrix& table);
    // The rows (0-based, ascending) leave every table of a row per specimen;
    // `line` says so in the file box and on the console.
    void leave_out_rows(const std::vector<int>& rows, const std::string& line);
    // The chosen factors' specimens without a value: refused, naming each,
    // or, with the window's leave-out box ticked, left out, naming each.
    void leave_out_unvalued(const std::vector<int>& chosen);
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

    Gui* gui_ = nullptr;  // none without a window
    Console& console_;
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
    OptionSource option_source_;
    GivenOptions given_options_;
    ControlWords control_words_;
    Alignment alignment_ = Alignment::Full;  // of the per-specimen export
    int landmark_dimensions_ = 2;
    bool dimensions_chosen_ = false;
    struct {
        bool groups = false, covariate = false;
    } kept_by_row_;  // by the request's --dimensions; the window's 3-D box chooses space only
    std::vector<std::pair<int, RequestFiller>> fillers_;
    int next_filler_ = 0;
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

// Asks for a file and reads it; std::nullopt when the dialog is cancelled.
// The chosen folder becomes the current directory.
struct MfloadResult {
    LoadedTable table;
    std::string fn;  // file name without its folder
    std::string path;
};
std::optional<MfloadResult> mfload(Gui& gui);
// The same without a dialog, for a file a front end names: its path made
// absolute, as a dialog's folder and name make it.
MfloadResult mfload_path(const std::string& path);
// The same for a file already chosen.
MfloadResult mfload_chosen(Gui& gui, const FileChoice& choice);
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
