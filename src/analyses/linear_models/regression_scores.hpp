// The regression score of shape on a covariate, as RRPP's and geomorph's
// regression plots compute it ("RegScore"): the direction of shape change
// with the covariate is the covariate's coefficient when the model's fitted
// shapes are regressed on it alongside the model's own columns, and each
// specimen's score is its centred shape projected onto that direction.  The
// picture plots the score against the covariate.
#pragma once

#include <string>
#include <vector>

namespace quillan {

struct RegressionScores {
    std::string covariate;  // as the formula names it: "cov", "log(CS)"
    std::vector<double> x, score;
    // The groups the points are coloured by (the model's first factor);
    // empty when the model has no factor.
    std::string factor;
    std::vector<std::string> levels;
    std::vector<int> group_of;
};

}  // namespace quillan
