// What the shape analyses (outliers, disparity, canonical variates,
// integration, modularity) read before their computation: the aligned
// shapes, the groups of G1 with their names, the specimens' names and the
// lines of the report that say what was read (the side files' meaning is in
// side_tables.hpp).
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/report_table.hpp"

#include <Eigen/Dense>

#include <string>
#include <vector>

namespace quillan {

struct GroupFactor {
    std::vector<int> codes;          // 0-based, one per specimen
    std::vector<std::string> names;  // by code: the import's words, or the group file's codes
    std::vector<int> sizes;
};

// The factor an option names: a factor of the loaded data, or a column of
// numbers taken as the codes of one (as a factor table of numbered
// individuals, sides and replicates gives them).  `option` names it in the
// refusal ("individual factor").
ModelVariable factor_named(const ModelVariables& vars, const std::string& name, const char* option);
// Whether the action's --size-corrected asks for size-corrected shapes
// (false for an action whose row does not declare it).
bool size_corrected_asked(const ActionEnv& env);
// The report's line of the size correction asked for (--size-corrected with
// --size, --logsz and --size-group); empty when none is.
std::string size_correction_words(const ActionEnv& env);
// The shapes an analysis on tangent coordinates runs on: `landmarks`
// superimposed as the request's alignment and steps say, projected onto the
// tangent space at their consensus, and size-corrected when asked (the
// residuals of the size model plus the mean shape); what was done is noted
// in the record.
Eigen::MatrixXd analysis_shapes(ActionEnv& env, const Matrix& landmarks);
// The loaded landmarks as analysis_shapes gives them.  Refuses specimens
// that all have one shape (require_shape_variation): every shape analysis
// would report noise on them.
Eigen::MatrixXd aligned_shapes(ActionEnv& env);
// The groups of the group file's first column (G1); `minimum` groups at least.
GroupFactor first_grouping(ActionEnv& env, std::size_t minimum = 1);
// Refuses a group of G1 with fewer than `minimum` specimens, naming it;
// `why` ends the message (what such a group cannot give).
void require_group_sizes(const GroupFactor& g, int minimum, const std::string& why);
// The notice, once per analysis, of the groups of G1 with a single
// specimen, `consequence` saying what that means for this analysis's
// numbers; nothing when there is none.
void tell_single_specimen_groups(ActionEnv& env, const GroupFactor& g, const std::string& consequence);
// Specimen i (0-based) as the report names it: its ID, or "specimen i+1".
std::string specimen_name(const ActionEnv& env, int i);
// The report's opening: the title, each loaded file's line, the alignment
// and the size correction.
std::string shape_report_head(const ActionEnv& env, const std::string& title);

}  // namespace quillan
