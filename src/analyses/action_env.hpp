// What an analysis may see and do.  An analysis reads the workspace and its
// typed parameters, echoes to the console, shows messages, may pause for a
// key and finally sets its report.  The front end that asked for the run
// supplies the parameters and the channel its messages go through, so the
// analyses know nothing of windows, controls, tags or command lines.
#pragma once

#include "analyses/analysis_params.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "analyses/result_record.hpp"
#include "analyses/run_options.hpp"
#include "analyses/workspace.hpp"
#include "platform/console.hpp"
#include "platform/error.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

// The title of the note that says which error term an F test of two
// grouping variables used; the window shows it on its status line.
inline constexpr const char* kErrorTermTitle = "Error term";

// The refusal texts of the group-list rule.
inline constexpr const char* kOneWayRefusal =
    "You have loaded a group list with multiple columns but are carrying out a One-Way Test.  Please Reload the List and Try "
    "again";
inline constexpr const char* kTwoWayRefusal =
    "Sorry Group list has only one column, you have requested a 2-Way Manova.  Please check the file and reload";
inline constexpr const char* kRegressionRefusal =
    "Sorry Group list has only one column, you have requested a 2-Way Regression model.  Please check the file and reload";

// Where an analysis's messages, pauses and report go: the front end that
// asked for the run (the window shows message windows and fills its results
// box; quillan-batch writes standard error and keeps the report).
class RunChannel {
public:
    virtual ~RunChannel() = default;
    virtual void message(const std::string& text, const std::string& title) = 0;
    // Waits for a key, where there is someone to press one.
    virtual void pause() = 0;
    // The report, once the analysis has made it.
    virtual void show_report(const std::string& text) = 0;
};

// The variables of `ws` a formula may name, G1, G2 and cov, then `named`
// (an import's columns); refuses a name taken twice.
ModelVariables workspace_variables(const Workspace& ws, const ModelVariables& named);

// What an analysis sees of its run: the workspace, its typed parameters, the
// console, how its permutations run (seed, threads, progress and cancel), and
// the channel to the user.
class ActionEnv {
public:
    ActionEnv(const Workspace& ws, const AnalysisParams& params, Console& console, const RunOptions& options, RunChannel& channel)
        : ws_(ws), params_(params), console_(console), options_(options), channel_(channel) {
        options_.seeds = &record_.run.seeds;
    }
    ActionEnv(const ActionEnv&) = delete;
    ActionEnv& operator=(const ActionEnv&) = delete;

    const Workspace& ws() const { return ws_; }
    const AnalysisParams& params() const { return params_; }
    const ControlWords& words() const { return params_.words; }
    Console& console() { return console_; }
    // The run's options, noting each engine's seed in this action's record.
    const RunOptions& options() const { return options_; }

    void message(const std::string& text, const std::string& title) { channel_.message(text, title); }
    void message(const std::string& text) { message(text, ""); }
    void pause() { channel_.pause(); }
    // Sets the report, the one lasting effect of an analysis.
    void set_report(const std::string& text);
    bool reported() const { return reported_; }
    const std::string& report() const { return report_; }

    // The group-list rule: a one-way design runs only with at most one
    // column, a two-way design only with at least two.
    void require_one_way_list() const;
    void require_two_way_list(const char* refusal = kTwoWayRefusal) const;

    // The numbers of the report, for export; filled beside the report.
    ResultRecord& record() { return record_; }

    // The action's own options, typed as its row declares them.
    const OptionValues& settings() const { return params_.options; }
    // What a linear model is asked for, read from those options.
    ModelRequest model_request() const { return model_request_of(params_.options); }
    // The variables a formula may name: G1 and G2 (the group file's columns),
    // cov (the covariate), then the named columns the front end adds (an
    // import's factors and numbers).
    ModelVariables model_variables() const;
    void add_model_variables(const ModelVariables& v) { named_variables_.insert(named_variables_.end(), v.begin(), v.end()); }
    // What the loaded data call the specimens and the groups: the IDs (empty
    // when the files name none) and, per group column, the words behind the
    // codes 1, 2, ... (empty when the groups are plain codes).
    const std::vector<std::string>& specimen_ids() const { return specimen_ids_; }
    const std::vector<std::vector<std::string>>& group_names() const { return group_names_; }
    void set_names(std::vector<std::string> ids, std::vector<std::vector<std::string>> groups) {
        specimen_ids_ = std::move(ids);
        group_names_ = std::move(groups);
    }

private:
    const Workspace& ws_;
    const AnalysisParams& params_;
    Console& console_;
    RunOptions options_;
    RunChannel& channel_;
    ResultRecord record_;
    ModelVariables named_variables_;
    std::vector<std::string> specimen_ids_;
    std::vector<std::vector<std::string>> group_names_;
    std::string report_;
    bool reported_ = false;
};

}  // namespace quillan
