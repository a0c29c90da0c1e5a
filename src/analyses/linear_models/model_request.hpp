// What a linear-model run is asked for, and the variables its formula may
// name.  The request is read from the action's options (model_request_of),
// which every front end fills from the same declarations; the shell hands
// the named columns of an import to the action through its ActionEnv.
#pragma once

#include "analyses/options.hpp"

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

struct ModelRequest {
    std::string formula;  // empty: the loaded groups, G1 or G1 * G2
    SsType ss_type = SsType::I;
    Alignment alignment = Alignment::Full;
    GpaSteps gpa_steps = GpaSteps::Converged;
    Randomization randomization = Randomization::Residuals;
    std::string error;     // per term, comma-separated: a term's label or "Residuals"; empty: all Residuals
    std::string pairwise;  // a factor whose groups' means are compared after the model; empty: none
    PairwiseMeans means = PairwiseMeans::LeastSquares;
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

// The request of the options an action's row declares; an option the row
// does not declare keeps the request's default (disparity has a formula and
// an alignment, nothing else).  The choices' words are declared in the
// enumerations' order.
ModelRequest model_request_of(const OptionValues& options);

}  // namespace quillan
