// Regression of shape on the covariate.
//
// Standardisation: before the group tests of the covariate actions, every
// specimen is moved along least-squares straight lines in the covariate to
// one common value, SVALUE, the mean of the covariate list.  The covariate
// model chosen in the covariate box says which lines: none, one per
// coordinate over all specimens, or one per coordinate within each group of
// grouping variable 1, of grouping variable 2, or of their cells.
//
// Residual regression: `procrustes_residuals` turns a block of configurations into
// deviations from their own consensus and `regression_unexplained_ss` gives the sum of
// squares left when every coordinate of such deviations is regressed on the
// covariate; the slope-model tests use them group by group.
#pragma once

#include "analyses/analysis_params.hpp"
#include "analyses/scoring.hpp"
#include "analyses/workspace.hpp"
#include "platform/console.hpp"

#include <string>
#include <vector>

namespace quillan {

// The covariate model step: the standardised table, the line that names the
// model in the report, and the number of regression lines fitted per
// coordinate (which the F tests take from their error degrees of freedom).
struct CovariateModel {
    Matrix xdata;
    std::string line;
    double edf_red = 0;
};
CovariateModel apply_covariate_model(const Workspace& ws, const ControlWords& words, Console& console, CovariateChoice choice,
                                     double svalue, bool two_way);

// SVALUE: the mean of the whole covariate list as loaded (not a number when
// none is loaded; only model 1 runs without one).
double standardisation_value(const Workspace& ws);

// Standardises each group's block to `svalue` along the group's own lines.
// `names` (optional) names the groups in messages.  Fails with a message
// naming the group when a group has a single specimen or a covariate that is
// constant within it, since its lines are then undetermined.
std::vector<Matrix> standardise_by_group(const std::vector<Matrix>& X, const std::vector<std::vector<double>>& z,
                                         std::size_t ngroups, double svalue, Console* console = nullptr,
                                         const std::vector<std::string>& names = {}, int dimensions = 2);

// The total sums of squares before and after standardisation and the report
// line that compares them.
struct StandardisationTotals {
    double pre_total_ss = 0;
    double total_ss = 0;
    std::string prior_line;
};
StandardisationTotals compare_totals(const PreparedTable& data, const PreparedTable& xdata);

// Deviations of each row (all columns) from the rotation-only consensus of
// the block, after the rows are aligned on it.
Matrix procrustes_residuals(const Matrix& x);

// Residual sum of squares after regressing each column but the last of `x`
// on `z` (one value per row) by a least-squares straight line.  Fails with a
// message when z does not have one finite value per row or has one value
// repeated (no line can then be fitted).
double regression_unexplained_ss(const Matrix& x, const std::vector<double>& z);

// The arithmetic of regression_unexplained_ss: the residual sum of squares of the
// least-squares lines of `ncols` columns against the n values of z, where
// row r of the table starts at x + r * row_stride and its columns are
// contiguous.  Each line is fitted as polyfit1 fits it, and the squared
// residuals are summed row by row within a column and then column by column.
// Where no line is determined the sum stays meaningful instead of turning
// non-finite:
//  - z with one value repeated (n = 1 included) has no slope: each column is
//    fitted by its mean alone and leaves its sum of squares about the mean;
//  - two points with distinct z lie on their line: exactly 0.
double residual_ss(const double* z, std::size_t n, const double* x, std::size_t ncols, std::ptrdiff_t row_stride);

// True when z holds at least two different values.
bool has_two_values(const std::vector<double>& z);
bool has_two_values(const double* z, std::size_t n);

}  // namespace quillan
