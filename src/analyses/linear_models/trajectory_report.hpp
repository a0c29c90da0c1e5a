// The report and the record of a trajectory analysis.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/linear_models/trajectories.hpp"

#include <string>

namespace quillan {

// The numbers of the JSON and CSV exports: the model's table under
// "ANOVA ", each trajectory's path length and each pair's comparisons.
void record_trajectories(ActionEnv& env, const ModelTable& table, const TrajectoryResult& r);

// The report: the data read, the model's table, the path lengths and the
// pairwise comparisons.  `as_loaded`: the coordinates were taken as loaded.
std::string trajectory_report(const ActionEnv& env, const TrajectoryLayout& layout, bool as_loaded, const ModelTable& table,
                              const TrajectoryResult& r);

}  // namespace quillan
