// The window's shell: the dispatcher every control of the window hands an
// action name to.  `quillan_action` compares the name with the action table
// (shell/action_table.hpp) in order, runs the first match and otherwise
// shows "Fell through case".  An analysis runs as a request built from the
// window's boxes and the controls of its button's page; a window step
// (loading through a dialog, importing, choosing the groups, saving,
// exporting, clearing) reads its dialog and boxes here and hands the rest to
// the runner, which owns the workspace and never sees the window.
#pragma once

#include "shell/runner.hpp"
#include "window/gui.hpp"
#include "window/workspace_view.hpp"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

class Shell {
public:
    Shell(Gui& gui, Console& console) : gui_(gui), view_(gui), runner_(console, &view_) {}
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // The window's dispatcher: runs the action named, reading its
    // parameters from the window's controls and settings.
    Outcome quillan_action(const std::string& action);

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
    // Whether `action` imports or exports (their controls are not all buttons).
    static bool is_io_action(const std::string& action);

    Runner& runner() { return runner_; }
    const Runner& runner() const { return runner_; }
    Gui& gui() { return gui_; }
    // The runner's, for the window's panels and the tests.
    Workspace& workspace() { return runner_.workspace(); }
    const Workspace& workspace() const { return runner_.workspace(); }
    RunOptions& options() { return runner_.options(); }
    ControlWords& control_words() { return runner_.control_words(); }
    Console& console() { return runner_.console(); }
    const std::string& last_message() const { return runner_.last_message(); }
    Outcome last_outcome() const { return runner_.last_outcome(); }
    Runner::LoadedPaths loaded_paths() const { return runner_.loaded_paths(); }
    io::ImportOptions& import_options() { return runner_.import_options(); }
    Alignment& export_alignment() { return runner_.export_alignment(); }
    const std::string& file_box_text() const { return runner_.file_box_text(); }
    int& landmark_dimensions() { return runner_.landmark_dimensions(); }
    const io::Legend& legend() const { return runner_.legend(); }
    const ResultRecord& last_record() const { return runner_.last_record(); }
    void set_links_file(std::string path) { runner_.set_links_file(std::move(path)); }
    void write_results(const std::string& path, bool csv) { runner_.write_results(path, csv); }
    void write_specimens(const std::string& path, CovariateChoice model) { runner_.write_specimens(path, model); }
    std::string results_export(bool csv) const { return runner_.results_export(csv); }
    void drop_kept_by_row() { runner_.drop_kept_by_row(); }

private:
    // The window steps (window_steps.cpp).
    void run_step(WindowStep step);
    void load_landmarks();    // "Load"
    void load_groups();       // "LoadGlist"
    void load_covariate();    // "LoadClist"
    void load_tree();         // "LoadTree"
    void import_data();       // "Import": landmarks, factors and covariate from a TPS, NTS or table file
    void choose_groups();     // "ChooseGroups": G1, G2 and the covariate among the imported columns
    void save_report();       // "SaveOut"
    void export_results();    // "ExportResults": the numbers of the last report, JSON or CSV
    void export_specimens();  // "ExportSpecimens": one row per specimen
    void clear();             // "Clear"
    GivenOptions given_for(const ActionRow& row) { return option_source_ ? option_source_(row) : given_options_; }

    Gui& gui_;
    GuiWorkspaceView view_;
    Runner runner_;
    OptionSource option_source_;
    GivenOptions given_options_;
    std::vector<std::pair<int, RequestFiller>> fillers_;
    int next_filler_ = 0;
};

// Asks for a file and reads it; std::nullopt when the dialog is cancelled.
// The chosen folder becomes the current directory.
std::optional<MfloadResult> mfload(Gui& gui);
// The same for a file already chosen.
MfloadResult mfload_chosen(Gui& gui, const FileChoice& choice);

}  // namespace quillan
