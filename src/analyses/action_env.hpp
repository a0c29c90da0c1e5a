// What an analysis may see and do.  An analysis reads the workspace and the
// two parameter boxes, echoes to the console, shows message windows, may
// pause for a key and finally sets its report.  It reaches the window only
// through this interface, which the shell implements on whatever window the
// program has, so the analyses know nothing of windows, controls or tags.
#pragma once

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

// The refusal texts of the group-list rule.
inline constexpr const char* kOneWayRefusal =
    "You have loaded a group list with multiple columns but are carrying out a One-Way Test.  Please Reload the List and Try "
    "again";
inline constexpr const char* kTwoWayRefusal =
    "Sorry Group list has only one column, you have requested a 2-Way Manova.  Please check the file and reload";
inline constexpr const char* kRegressionRefusal =
    "Sorry Group list has only one column, you have requested a 2-Way Regression model.  Please check the file and reload";

class ActionEnv {
public:
    virtual ~ActionEnv() = default;

    virtual const Workspace& ws() const = 0;
    virtual Console& console() = 0;
    virtual const RunOptions& options() const = 0;

    // The text of the permutation box, read afresh (its first line when it
    // holds several).
    virtual std::string perm_box_text() = 0;
    // The selected entry of the covariate model box, 1 for the first.
    virtual double cov_box_value() = 0;
    // Sets the report as the whole content of the results box.
    virtual void set_report(const std::string& text) = 0;
    virtual void message(const std::string& text, const std::string& title) = 0;
    void message(const std::string& text) { message(text, ""); }
    // Waits for a key, where there is someone to press one.
    virtual void pause() = 0;

    // The group-list rule: a one-way design runs only with at most one
    // column, a two-way design only with at least two.
    void require_one_way_list() const;
    void require_two_way_list(const char* refusal = kTwoWayRefusal) const;

    // The numbers of the report, for export; filled beside the report.
    ResultRecord& record() { return record_; }

    // What a linear model is asked for, as the front end set it.
    const ModelRequest& model_request() const { return model_request_; }
    void set_model_request(const ModelRequest& r) { model_request_ = r; }
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
    static void require_distinct_names(const ModelVariables& vars, std::size_t aliases);
    ResultRecord record_;
    ModelRequest model_request_;
    ModelVariables named_variables_;
    std::vector<std::string> specimen_ids_;
    std::vector<std::vector<std::string>> group_names_;
};

}  // namespace quillan
