#include "analyses/action_env.hpp"

namespace quillan {

void ActionEnv::require_one_way_list() const {
    if (ws().groups.cols() > 1) throw Refused(kOneWayRefusal);
}

void ActionEnv::require_two_way_list(const char* refusal) const {
    if (ws().groups.cols() < 2) throw Refused(refusal);
}

ModelVariables ActionEnv::model_variables() const {
    const Workspace& w = ws();
    ModelVariables vars;
    for (Eigen::Index j = 0; j < w.groups.cols() && j < 2; ++j)
        vars.push_back(ModelVariable::factor_of_codes(j == 0 ? "G1" : "G2", column_codes(w.groups, j)));
    if (w.covariate.rows() > 0 && w.covariate.cols() > 0) {
        ModelVariable cov;
        cov.name = "cov";
        cov.values = column_codes(w.covariate, 0);
        vars.push_back(std::move(cov));
    }
    vars.insert(vars.end(), named_variables_.begin(), named_variables_.end());
    return vars;
}

}  // namespace quillan
