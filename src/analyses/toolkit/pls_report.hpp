// The report lines and the record of a two-block PLS, shared by the
// integration and pls actions.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/toolkit/figure_data.hpp"
#include "analyses/toolkit/two_block_pls.hpp"

#include <string>
#include <vector>

namespace quillan {

// How the PLS was tested, for the report's head.
std::string pls_method_text(long long nperm);
// r-PLS, Z and p, then each axis's singular value, share and r.
std::string pls_text(const PlsResult& r);
// The record of one PLS, named `name`.
void record_pls(ActionEnv& env, const PlsResult& r, const std::string& name, long long nperm);

// The recorder's names of an integration's statistics: each pair's r-PLS,
// then their mean, under `title` ("Integration").
void name_integration_statistics(ActionEnv& env, const std::vector<std::string>& labels, const std::string& title);

struct IntegrationWords {
    std::string title;    // of the statistics and pictures: "Integration"
    FigureGroups groups;  // the colours of the pictures' points, by row of the blocks
};

// The report of every pair of modules (and of their mean, with more than
// two), their records and their pictures; `labels` names the modules.
std::string integration_text(ActionEnv& env, const IntegrationResult& r, const std::vector<std::string>& labels,
                             const IntegrationWords& words);

// The first axis's scores of a PLS for its picture, titled `title`, the
// axes named by the blocks.
PlsFigure pls_figure(const PlsResult& r, const std::string& title, const std::string& block1, const std::string& block2,
                     const FigureGroups& groups);
// The groups of G1 that colour a picture's points; none without a group file.
FigureGroups figure_groups(ActionEnv& env);

}  // namespace quillan
