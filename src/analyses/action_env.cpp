#include "analyses/action_env.hpp"

#include "platform/capped_read.hpp"

namespace quillan {

void ActionEnv::set_report(const std::string& text) {
    // The report quotes IDs, level names and file names, which may hold any
    // byte; none reaches a terminal as a control.
    const std::string shown = printable_text(text);
    channel_.show_report(shown);
    report_ = shown;
    reported_ = true;
}

void ActionEnv::require_one_way_list() const {
    if (ws().groups.cols() > 1) throw Refused(kOneWayRefusal);
}

void ActionEnv::require_two_way_list(const char* refusal) const {
    if (ws().groups.cols() < 2) throw Refused(refusal);
}

namespace {

// A formula names its variables and a model's table names its rows: a column
// whose name is taken would be used in place of another without a word, or
// give a table with two rows of one name.
void require_distinct_names(const ModelVariables& vars, std::size_t aliases) {
    for (std::size_t i = aliases; i < vars.size(); ++i) {
        const std::string& name = vars[i].name;
        if (name == "Residuals" || name == "Total")
            throw Refused("The column \"" + name +
                          "\" has a name a model's table keeps for its own rows (Residuals, Total): rename the column.");
        for (std::size_t j = 0; j < i; ++j) {
            if (vars[j].name != name) continue;
            throw Refused(j < aliases ? "The column \"" + name + "\" has the name the loaded " +
                                            (name == "cov" ? "covariate" : "group file's column") +
                                            " goes by in a formula: rename the column."
                                      : "Two columns are named \"" + name + "\": rename one of them.");
        }
    }
}

}  // namespace

ModelVariables workspace_variables(const Workspace& w, const ModelVariables& named) {
    ModelVariables vars;
    for (Eigen::Index j = 0; j < w.groups.cols() && j < 2; ++j)
        vars.push_back(ModelVariable::factor_of_codes(j == 0 ? "G1" : "G2", column_codes(w.groups, j)));
    if (w.covariate.rows() > 0 && w.covariate.cols() > 0) {
        ModelVariable cov;
        cov.name = "cov";
        cov.values = column_codes(w.covariate, 0);
        vars.push_back(std::move(cov));
    }
    const std::size_t aliases = vars.size();
    vars.insert(vars.end(), named.begin(), named.end());
    require_distinct_names(vars, aliases);
    return vars;
}

ModelVariables ActionEnv::model_variables() const { return workspace_variables(ws(), named_variables_); }

}  // namespace quillan
