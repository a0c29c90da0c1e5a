// What a linear-model run is asked for, and the variables its formula may
// name.  The front ends fill the request (the batch options, the window's
// Models controls); the shell hands it and the named columns of an import
// to the action through its ActionEnv.
#pragma once

#include <string>
#include <vector>

namespace quillan {

enum class SsType { I, II, III };

enum class Alignment {
    Full,     // the program's own full Procrustes consensus and fits
    Partial,  // unit centroid size and rotations only, as geomorph's gpagen aligns by default
};

// How the superimposition is iterated.
enum class GpaSteps {
    Converged,  // to its optimum, which the specimens alone fix: the same numbers whatever their order
    Gpagen,     // geomorph's gpagen's steps (start on the first specimen, stop at a change of 1e-4), to match its digits
};

enum class Randomization {
    Residuals,  // the residuals of each term's reduced model (RRPP)
    Rows,       // whole rows of shape against the design (full randomization)
};

enum class PairwiseMeans {
    LeastSquares,  // the model's fitted values, covariates at their means (RRPP's); slopes where a covariate meets the factor
    Plain,         // the groups' own averages of shape, whatever else the model holds
};

// What the shape analyses other than the linear model are asked for beyond
// the alignment (and, for disparity, the formula) of the request below.
struct ShapeRequest {
    bool within_groups = false;   // outliers: each group measured from its own mean
    bool cross_validate = true;   // canonical variates: leave-one-out classification too
    bool rotation_search = true;  // modularity of 2-D landmarks: turn to the average CR first
    std::string partition;        // integration, modularity: the file of each landmark's module
    std::string block2;           // pls: the table of the second block, one row per specimen
    // symmetry: the factors of each configuration's individual, side and
    // replicate (empty: G1, G2 and no replicates), the side reflected first,
    // and the file of land pairs (object symmetry; empty: matching).
    std::string individual, side, replicate, mirror_side, land_pairs;
};

struct ModelRequest {
    std::string formula;  // empty: the loaded groups, G1 or G1 * G2
    SsType ss_type = SsType::I;
    Alignment alignment = Alignment::Full;
    GpaSteps gpa_steps = GpaSteps::Converged;
    Randomization randomization = Randomization::Residuals;
    std::string error;     // per term, comma-separated: a term's label or "Residuals"; empty: all Residuals
    std::string pairwise;  // a factor whose groups' means are compared after the model; empty: none
    PairwiseMeans means = PairwiseMeans::LeastSquares;
    ShapeRequest shape;
};

// A variable a formula may name: a factor (levels and one 0-based code per
// specimen) or a covariate (one value per specimen).
struct ModelVariable {
    std::string name;
    std::vector<std::string> levels;  // a factor's level words in order; empty for a covariate
    std::vector<int> codes;
    std::vector<double> values;
    bool is_factor() const { return !levels.empty(); }
    // A factor of numeric codes (a group file's column), levels sorted by value.
    static ModelVariable factor_of_codes(const std::string& name, const std::vector<double>& codes);
    // A factor of words, levels sorted as R sorts a factor's levels (by their bytes).
    static ModelVariable factor_of_words(const std::string& name, const std::vector<std::string>& words);
};

using ModelVariables = std::vector<ModelVariable>;

}  // namespace quillan
