// The design matrix of a model formula, coded as R's model.matrix codes it
// with its default treatment contrasts: an intercept; a factor of L levels
// as L - 1 indicators of levels 2..L, or as L indicators inside a term whose
// margin without it is not in the model (the inner factor of `pop / ind`);
// an interaction as the products of its variables' columns, the first
// variable varying fastest.  Columns that are combinations of earlier ones
// (the empty combinations of a nested factor) are left out, as R's QR with
// limited pivoting leaves them out.  Then, per term and sums-of-squares
// type, the columns of the full and the reduced model its SS compares.
#pragma once

#include "analyses/linear_models/model_formula.hpp"
#include "analyses/linear_models/model_request.hpp"

#include <Eigen/Dense>

#include <string>
#include <utility>
#include <vector>

namespace quillan {

struct ModelDesign {
    ParsedFormula formula;
    std::vector<ModelVariable> variables;  // as the formula uses them (log taken), one per formula variable
    Eigen::MatrixXd x;                     // the kept columns
    std::vector<int> assign;               // each kept column's term: 0 the intercept, t + 1 term t
    std::vector<std::string> column_names;
    // Each kept column's term (0 the intercept, t + 1 term t) and its cell
    // there: the level, past the first coded, of each of the term's variables.
    std::vector<std::pair<int, std::vector<int>>> source_cells;
    long long dropped_columns = 0;  // combinations of earlier columns (empty cells among them), left out
    int rank() const { return static_cast<int>(x.cols()); }
    std::size_t terms() const { return formula.terms.size(); }
};

// Builds the design of `formula` over `n` specimens.  Refuses (Refused) an
// unknown name (listing the known ones), log() of a factor or of a value not
// above 0, a factor of a single level, a constant or non-finite covariate,
// an empty cell of crossed factors, a term aliased with earlier ones, and
// more parameters than the specimens leave room for.
ModelDesign build_design(const std::string& formula_text, const ModelVariables& known, int n);

// The kept columns of `design` over other values of its variables (the
// covariates at their means, say), one row per specimen.
Eigen::MatrixXd design_columns(const ModelDesign& design, const std::vector<ModelVariable>& variables);

// The columns of the full and the reduced model of each term under `type`,
// as RRPP forms them: type I the terms up to and before it; type II every
// term that does not contain it, with and without it; type III the whole
// model with and without it.
struct TermModels {
    std::vector<int> full, reduced;  // column indexes into ModelDesign::x
};
std::vector<TermModels> term_models(const ModelDesign& design, SsType type);

}  // namespace quillan
