// Bilateral symmetry as a Procrustes ANOVA of individuals and sides.
//
// Matching symmetry: each side of an individual digitised as a
// configuration of its own (a side's specimens optionally reflected first,
// when they were digitised as mirror images); every configuration is
// superimposed with the others.  Object symmetry: each configuration holds
// the whole structure, and it is superimposed together with its reflection,
// the paired landmarks relabelled, so that the two sides of one specimen
// become its two "sides".  Either way the model is individual + side (+ their
// interaction when replicates measure the error), tested by randomized
// residuals; with replicates, individual and side are tested against the
// interaction (fluctuating asymmetry), and the interaction against the
// replicates.
#pragma once

#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "platform/value.hpp"

#include <Eigen/Dense>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

struct SymmetryDesign {
    std::vector<int> individual;  // 0-based code of each specimen's individual
    int individuals = 0;
    // Matching symmetry: each specimen's side, 0 or 1.  Empty for object symmetry.
    std::vector<int> side;
    bool replicates = false;  // the specimens repeat each individual's sides: the interaction is tested
    // Object symmetry: the pairs of matching landmarks, 0-based.
    std::vector<std::pair<int, int>> land_pairs;
    int mirror_side = -1;  // matching: the side whose configurations are reflected first (-1: none)
    bool object() const { return side.empty(); }
};

struct SymmetryResult {
    ModelTable shape;
    std::optional<ModelTable> size;  // matching symmetry: the same model on centroid size
    // Directional asymmetry: the mean over individuals of the difference of
    // their sides' mean shapes (first side minus second), and its length.
    Eigen::VectorXd directional;
    double directional_length = 0;
    // Per individual: the Procrustes distance between its sides' mean shapes
    // (0 for a perfectly symmetric individual), and the length of its
    // difference after the directional asymmetry is taken away (fluctuating).
    std::vector<double> asymmetry, fluctuating;
    // The components of each individual's shape (rows, coordinates as in the
    // superimposition): the symmetric one, the mean of all its
    // configurations; the asymmetric one, the difference of its sides' means
    // added to the mean shape.
    Eigen::MatrixXd symmetric, asymmetric;
    Eigen::RowVectorXd mean;  // the mean shape of every configuration, in the components' coordinates
};

// Refuses a design the analysis cannot test, naming what is wrong: a side
// factor without two sides, an individual missing a side, land pairs out of
// range or repeated, replicates that do not repeat every side.
void check_symmetry_design(const SymmetryDesign& d, int specimens, int landmarks);

// The configurations the analysis superimposes: the specimens with the
// mirrored side reflected (matching), or the specimens followed by their
// relabelled reflections (object), as a landmark table.  For object
// symmetry under partial alignment the specimens are first superimposed on
// their own and projected, as geomorph's bilat.symmetry does before
// reflecting them.
Matrix symmetry_configurations(const Matrix& landmarks, int dimensions, const SymmetryDesign& d, Alignment alignment,
                               GpaSteps steps = GpaSteps::Converged);

SymmetryResult symmetry_test(PermutationEngine& engine, const Matrix& landmarks, int dimensions, const SymmetryDesign& d,
                             Alignment alignment, long long nperm, GpaSteps steps = GpaSteps::Converged);

// The model's terms as the table names them: "ind", "side", then "ind:side"
// (tested, with replicates) and the residual row's name.
std::vector<std::string> symmetry_row_names(const SymmetryDesign& d);

}  // namespace quillan
