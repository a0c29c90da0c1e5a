#include "analyses/toolkit/shape_inputs.hpp"

#include "analyses/common.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/linear_models/size_correction.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cstdio>

namespace quillan {

ModelVariable factor_named(const ModelVariables& vars, const std::string& name, const char* option) {
    std::string known;
    for (const ModelVariable& v : vars) {
        if (v.name == name) return v.is_factor() ? v : ModelVariable::factor_of_codes(v.name, v.values);
        known += (known.empty() ? "" : ", ") + v.name;
    }
    throw Refused(std::string("The ") + option + " \"" + name + "\" is no factor of the loaded data; the factors are: " +
                  (known.empty() ? "none (load a group file or import a table with factors)" : known) + ".");
}

bool size_corrected_asked(const ActionEnv& env) { return size_correction_asked(env.settings()).has_value(); }

std::string size_correction_words(const ActionEnv& env) {
    const std::optional<SizeModel> model = size_correction_asked(env.settings());
    return model ? size_correction_line(*model) : std::string();
}

Eigen::MatrixXd analysis_shapes(ActionEnv& env, const Matrix& landmarks) {
    const ModelRequest q = env.model_request();
    env.record().run.gpa_steps = gpa_steps_name(q.gpa_steps);
    Eigen::MatrixXd shapes = tangent_shapes(landmarks, q.alignment, env.ws().dimensions, q.gpa_steps);
    const std::optional<SizeModel> model = size_correction_asked(env.settings());
    if (!model) return shapes;
    const SizeDesign d = size_design(*model, env.model_variables(), landmarks,
                                     [&](Eigen::Index i) { return specimen_name(env, static_cast<int>(i)); });
    env.record().run.size_correction = *model;
    return size_corrected(shapes, d.design.x);
}

Eigen::MatrixXd aligned_shapes(ActionEnv& env) {
    Eigen::MatrixXd shapes = analysis_shapes(env, require_landmarks(env));
    require_specimens(shapes.rows(), 2, "A shape analysis");
    require_shape_variation((shapes.rowwise() - shapes.colwise().mean()).squaredNorm(), shapes.rows());
    return shapes;
}

GroupFactor first_grouping(ActionEnv& env, std::size_t minimum) {
    const Matrix& groups = require_groups(env);
    std::vector<double> raw;
    for (Eigen::Index i = 0; i < groups.rows(); ++i) raw.push_back(groups(i, 0));
    const ModelVariable v = ModelVariable::factor_of_codes("G1", raw);
    GroupFactor g;
    g.codes = v.codes;
    g.names = v.levels;
    const auto& named = env.group_names();
    if (!named.empty() && named.front().size() == v.levels.size()) g.names = named.front();
    g.sizes.assign(g.names.size(), 0);
    for (int c : g.codes) ++g.sizes[static_cast<std::size_t>(c)];
    if (g.names.size() < minimum)
        throw Refused("This analysis compares groups, but G1 has " + std::to_string(g.names.size()) +
                      " group(s); it needs at least " + std::to_string(minimum) + ".");
    return g;
}

void require_group_sizes(const GroupFactor& g, int minimum, const std::string& why) {
    for (std::size_t k = 0; k < g.sizes.size(); ++k)
        if (g.sizes[k] < minimum)
            throw Refused("Group " + g.names[k] + " of G1 has " +
                          (g.sizes[k] == 1 ? std::string("a single specimen") : std::to_string(g.sizes[k]) + " specimens") +
                          ", fewer than the " + std::to_string(minimum) + " " + why);
}

void tell_single_specimen_groups(ActionEnv& env, const GroupFactor& g, const std::string& consequence) {
    std::vector<std::string> lone;
    for (std::size_t k = 0; k < g.sizes.size(); ++k)
        if (g.sizes[k] == 1) lone.push_back(g.names[k]);
    if (lone.empty()) return;
    std::string list;
    for (std::size_t i = 0; i < lone.size(); ++i) list += (i == 0 ? "" : i + 1 == lone.size() ? " and " : ", ") + lone[i];
    env.message((lone.size() == 1 ? "Group " + list + " of G1 has" : "Groups " + list + " of G1 each have") +
                    " a single specimen: " + consequence,
                "Single-specimen groups");
}

std::string specimen_name(const ActionEnv& env, int i) {
    const auto& ids = env.specimen_ids();
    if (static_cast<std::size_t>(i) < ids.size() && !ids[static_cast<std::size_t>(i)].empty())
        return ids[static_cast<std::size_t>(i)];
    return "specimen " + std::to_string(i + 1);
}

std::string shape_report_head(const ActionEnv& env, const std::string& title) {
    const Workspace& ws = env.ws();
    std::string text = title + "\n";
    for (const std::string* info : {&ws.landmarks_info, &ws.groups_info, &ws.covariate_info})
        for (std::size_t from = 0; from < info->size();) {
            const std::size_t end = std::min(info->find('\n', from), info->size());
            std::string line = info->substr(from, end - from);
            line.erase(0, line.find_first_not_of(" \t"));
            if (!line.empty()) text += "   " + line + "\n";
            from = end + 1;
        }
    text += std::string("\nShape: ") + superimposition_words(env.model_request()) +
            ", projected onto the tangent space at the consensus\n";
    return text + size_correction_words(env);
}

}  // namespace quillan
