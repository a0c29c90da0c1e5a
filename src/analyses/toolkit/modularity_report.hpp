// The report lines and the record of a modularity test, shared by the
// modularity actions on the shapes as aligned and on a tree.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/toolkit/modularity.hpp"

#include <string>
#include <vector>

namespace quillan {

// The recorder's name of the test's one statistic, under `title`.
void name_modularity_statistics(ActionEnv& env, const std::string& title);
// What was turned and how it was tested, CR with Z and p, each pair's CR;
// and their records.  `labels` names the modules.
std::string modularity_text(ActionEnv& env, const ModularityResult& r, const std::vector<std::string>& labels);

}  // namespace quillan
