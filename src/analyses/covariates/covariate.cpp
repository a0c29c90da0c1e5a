#include "analyses/covariates/covariate.hpp"

#include "analyses/common.hpp"
#include "analyses/covariates/covariate_checks.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/degenerate.hpp"
#include "geometry/geometry.hpp"
#include "groups/groups.hpp"
#include "platform/format.hpp"
#include "platform/statistics.hpp"

#include <cmath>
#include <functional>

namespace quillan {

namespace {

struct ModelLines {
    const char* one_way;
    const char* two_way;
};

const ModelLines kModelLines[] = {
    {"\\n\\nNo Covariate Used", "\\n\\nNo Covariate Used"},
    {"\\n\\nCovariate Used, no intercation", "\\n\\nCovariate Used, no interaction"},
    {"\\n\\nCovariate Used, Group 1 interaction (G1 x Covariate)", "\\n\\nCovariate Used, Group 1 interaction (G1 x Covariate)"},
    {"\\n\\nCovariate Used, Group 2 interaction (G2 x Covariate)", "\\n\\nCovariate Used, Group 2 interaction (G2 x Covariate)"},
    {"\\n\\nCovariate Used, Groups 1 & 2 interaction (G1 x G2 x Covariate",
     "\\n\\nCovariate Used, Groups 1 & 2 interaction (G1 x G2 x Covariate)"},
};

std::vector<double> column_values(const Matrix& m) { return column_codes(m, 0); }

// Per-group standardisation of models 3 to 5.
Matrix standardise_by_groups(const Workspace& ws, Console& console, const Codes& codes,
                             const std::function<std::string(double)>& name_of, double svalue, double& edf_red) {
    const SplitGroups split = split_by_group(ws.landmarks, codes, column_values(ws.covariate));
    const std::size_t ngroups = split.ssize.size();
    edf_red = static_cast<double>(ngroups);
    std::vector<std::string> names;
    for (double c : split.gcodes) names.push_back(name_of(c));
    const std::vector<Matrix> y =
        standardise_by_group(split.dlist, split.splitc, ngroups, svalue, &console, names, ws.dimensions);
    return unsplit_by_group(y, split.d_ord, ngroups);
}

}  // namespace

double standardisation_value(const Workspace& ws) {
    return mean(ws.covariate.size() ? elements(ws.covariate) : std::vector<double>{});
}

CovariateModel apply_covariate_model(const Workspace& ws, const ControlWords& words, Console& console, CovariateChoice choice,
                                     double svalue, bool two_way) {
    const int model = static_cast<int>(choice);
    CovariateModel m;
    m.line = format_expand_reuse(two_way ? kModelLines[model - 1].two_way : kModelLines[model - 1].one_way);
    const Matrix& data = require_landmarks(ws, words);
    if (model == 1) {
        m.xdata = data;
        m.edf_red = 0;
        return m;
    }
    require_covariate(ws, words);
    const std::vector<double> clist = column_values(ws.covariate);
    if (model == 2) {
        if (!has_two_values(clist))
            throw Refused("The covariate has the same value for every specimen, so no regression line on it can be fitted.");
        m.xdata = standardise_along_lines(data, clist, svalue, ws.dimensions).y;
        require_finite_fit(ws, m.xdata);
        m.edf_red = 1;
        return m;
    }
    if (ws.groups.size() == 0)
        throw QuillanError("No group file is loaded: covariate models 3 to 5 fit their lines within groups.");
    if (ws.groups.rows() != data.rows())
        throw QuillanError(format_expand_reuse(
            "The group file has %i specimens, but the landmark file has %i: load files that describe the same "
            "specimens.",
            {static_cast<double>(ws.groups.rows()), static_cast<double>(data.rows())}));
    if (model == 3) {
        const Codes codes = column_codes(ws.groups, 0);
        m.xdata = standardise_by_groups(
            ws, console, codes, [](double c) { return variable_group(c, 1); }, svalue, m.edf_red);
        require_finite_fit(ws, m.xdata);
        return m;
    }
    if (ws.groups.cols() < 2)
        throw QuillanError(format_expand_reuse(
            "Covariate model %i fits its lines within the groups of the second grouping variable, but the group "
            "file has only one column.",
            {static_cast<double>(model)}));
    const Codes g1 = column_codes(ws.groups, 0), g2 = column_codes(ws.groups, 1);
    if (model == 4) {
        m.xdata = standardise_by_groups(
            ws, console, g2, [](double c) { return variable_group(c, 2); }, svalue, m.edf_red);
        require_finite_fit(ws, m.xdata);
        return m;
    }
    const CombinedCode cells = cell_codes(g1, g2, &console);
    m.xdata = standardise_by_groups(
        ws, console, cells.cell_list, [&cells](double c) { return cell_of(cells, c); }, svalue, m.edf_red);
    require_finite_fit(ws, m.xdata);
    return m;
}

std::vector<Matrix> standardise_by_group(const std::vector<Matrix>& X, const std::vector<std::vector<double>>& z,
                                         std::size_t ngroups, double svalue, Console* console,
                                         const std::vector<std::string>& names, int dimensions) {
    if (ngroups > X.size() || ngroups > z.size()) throw QuillanError("stand_by_groupfunction: more groups than blocks.");
    std::vector<Matrix> y;
    y.reserve(ngroups);
    for (std::size_t i = 0; i < ngroups; ++i) {
        const Matrix& xt = X[i];
        const std::vector<double>& zt = z[i];
        if (console) {
            console->echo("mx", static_cast<double>(xt.rows()));
            console->echo("nx", static_cast<double>(xt.cols()));
            console->echo("mz", 1.0);
            console->echo("nz", static_cast<double>(zt.size()));
        }
        const std::string name = i < names.size() ? names[i] : format_expand_reuse("group %i", {static_cast<double>(i + 1)});
        if (xt.rows() < 2)
            throw Refused("The " + name + " has a single specimen, so its regression line on the covariate cannot be fitted.");
        if (!has_two_values(zt))
            throw Refused("The covariate has the same value for every specimen of the " + name +
                          ", so its regression line on the covariate cannot be fitted.");
        y.push_back(standardise_along_lines(xt, zt, svalue, dimensions).y);
    }
    return y;
}

StandardisationTotals compare_totals(const PreparedTable& data, const PreparedTable& xdata) {
    StandardisationTotals t;
    t.pre_total_ss = data.total_ss();
    // The lines are fitted to the coordinates as loaded: of specimens of one
    // shape in different places and turns they leave differences that are
    // no shape's, so the shapes must vary before the standardisation.
    require_shape_variation(t.pre_total_ss, data.specimens());
    t.total_ss = xdata.total_ss();
    t.prior_line = format_expand_reuse(
        "\\nPrior to Standardization via the covariate\\n, SS=%1.4f Explained by Covariate SS=%1.4f, Percent Explained =%2.3f",
        {t.pre_total_ss, t.pre_total_ss - t.total_ss, (100 * (t.pre_total_ss - t.total_ss)) / t.pre_total_ss});
    return t;
}

Matrix procrustes_residuals(const Matrix& x) {
    const Consensus c = rotation_only_consensus(x);
    Matrix y = c.xpt;
    for (Eigen::Index i = 0; i < y.rows(); ++i) y.row(i) -= c.y.row(0);
    return y;
}

bool has_two_values(const double* z, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i)
        if (z[i] != z[0]) return true;
    return false;
}

bool has_two_values(const std::vector<double>& z) { return has_two_values(z.data(), z.size()); }

namespace {

// Columns handled side by side: each keeps its own sums, added row by row in
// row order exactly as a column-by-column loop adds them, so the result does
// not depend on the chunking; the independent sums only let the machine work
// on several columns at once.
constexpr std::size_t kChunk = 8;

// Adds the residual sums of C columns, starting at x, to `total` one column
// after another.
template <std::size_t C>
void residual_chunk(const double* z, std::size_t n, double zm, double sxx, bool sloped, const double* x,
                    std::ptrdiff_t row_stride, double& total) {
    const double dn = static_cast<double>(n);
    double ym[C], sxy[C], slope[C], intercept[C], s[C];
    for (std::size_t l = 0; l < C; ++l) ym[l] = sxy[l] = s[l] = 0.0;
    for (std::size_t r = 0; r < n; ++r) {
        const double* row = x + static_cast<std::ptrdiff_t>(r) * row_stride;
        for (std::size_t l = 0; l < C; ++l) ym[l] += row[l];
    }
    for (std::size_t l = 0; l < C; ++l) ym[l] /= dn;
    if (!sloped) {
        for (std::size_t r = 0; r < n; ++r) {
            const double* row = x + static_cast<std::ptrdiff_t>(r) * row_stride;
            for (std::size_t l = 0; l < C; ++l) {
                const double e = row[l] - ym[l];
                s[l] += e * e;
            }
        }
    } else {
        for (std::size_t r = 0; r < n; ++r) {
            const double* row = x + static_cast<std::ptrdiff_t>(r) * row_stride;
            const double dz = z[r] - zm;
            for (std::size_t l = 0; l < C; ++l) sxy[l] += dz * (row[l] - ym[l]);
        }
        for (std::size_t l = 0; l < C; ++l) {
            slope[l] = sxy[l] / sxx;
            intercept[l] = ym[l] - slope[l] * zm;
        }
        for (std::size_t r = 0; r < n; ++r) {
            const double* row = x + static_cast<std::ptrdiff_t>(r) * row_stride;
            const double zr = z[r];
            for (std::size_t l = 0; l < C; ++l) {
                const double e = row[l] - slope[l] * zr - intercept[l];
                s[l] += e * e;
            }
        }
    }
    for (std::size_t l = 0; l < C; ++l) total += s[l];
}

}  // namespace

double residual_ss(const double* z, std::size_t n, const double* x, std::size_t ncols, std::ptrdiff_t row_stride) {
    if (n == 0) return 0.0;
    const bool sloped = has_two_values(z, n);
    if (sloped && n == 2) return 0.0;
    // The covariate's mean and spread are the same for every column; polyfit1
    // would compute them again per column, with the same result.
    double zm = 0.0;
    for (std::size_t r = 0; r < n; ++r) zm += z[r];
    zm /= static_cast<double>(n);
    double sxx = 0.0;
    for (std::size_t r = 0; r < n; ++r) {
        const double dz = z[r] - zm;
        sxx += dz * dz;
    }
    double y = 0.0;
    std::size_t j = 0;
    for (; j + kChunk <= ncols; j += kChunk) residual_chunk<kChunk>(z, n, zm, sxx, sloped, x + j, row_stride, y);
    for (; j < ncols; ++j) residual_chunk<1>(z, n, zm, sxx, sloped, x + j, row_stride, y);
    return y;
}

double regression_unexplained_ss(const Matrix& x, const std::vector<double>& z) {
    if (static_cast<Eigen::Index>(z.size()) != x.rows())
        throw QuillanError("getunexplained: the covariate must have one value per row of the table.");
    for (double v : z)
        if (!std::isfinite(v)) throw QuillanError("getunexplained: a covariate value is not a finite number.");
    if (!has_two_values(z))
        throw QuillanError(
            "getunexplained: the covariate has the same value for every row, so no straight line can be fitted "
            "against it.");
    if (x.cols() < 2) return 0.0;
    return residual_ss(z.data(), z.size(), x.data(), static_cast<std::size_t>(x.cols() - 1), x.cols());
}

}  // namespace quillan
