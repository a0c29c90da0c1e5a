// The report lines and the record of a two-block PLS, shared by the
// integration and pls actions.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/toolkit/figure_data.hpp"
#include "analyses/toolkit/two_block_pls.hpp"

#include <string>

namespace quillan {

// How the PLS was tested, for the report's head.
std::string pls_method_text(long long nperm);
// r-PLS, Z and p, then each axis's singular value, share and r.
std::string pls_text(const PlsResult& r);
// The record of one PLS, named `name`.
void record_pls(ActionEnv& env, const PlsResult& r, const std::string& name, long long nperm);

// The first axis's scores of a PLS for its picture, titled `title`, the
// axes named by the blocks.
PlsFigure pls_figure(const PlsResult& r, const std::string& title, const std::string& block1, const std::string& block2,
                     const FigureGroups& groups);
// The groups of G1 that colour a picture's points; none without a group file.
FigureGroups figure_groups(ActionEnv& env);

}  // namespace quillan
