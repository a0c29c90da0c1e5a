#include "io/specimens.hpp"

#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/linear_models/size_correction.hpp"
#include "geometry/geometry.hpp"
#include "geometry/partial_procrustes.hpp"
#include "io/output.hpp"
#include "platform/error.hpp"

#include <cmath>
#include <optional>

namespace quillan::io {

namespace {

std::string level_of(const Legend* legend, std::size_t column, double code) {
    if (legend && column < legend->chosen.size()) {
        const Factor& f = legend->factors[static_cast<std::size_t>(legend->chosen[column])];
        if (code >= 1 && code <= static_cast<double>(f.levels.size()) && code == std::floor(code))
            return f.levels[static_cast<std::size_t>(code) - 1];
    }
    return number_text(code);
}

// Appends one cell after a comma.
void cell(std::string& out, const std::string& text) {
    out += ',';
    out += text;
}

// The coordinates as gpagen aligns them: the import's own alignment when it
// slid semilandmarks, else the partial Procrustes superimposition of the table.
template <int D>
Matrix partial_coordinates(const Matrix& lm, const Legend* legend) {
    const Eigen::Index m = lm.rows(), k = (lm.cols() - 1) / D;
    if (legend && legend->steps.partial.rows() == m && legend->steps.partial.cols() == D * k) return legend->steps.partial;
    return gpagen_coordinates(lm, D);
}

std::string estimated_cell(const Legend* legend, Eigen::Index i) {
    std::string out;
    for (int l : legend->steps.estimated_in(static_cast<std::size_t>(i))) {
        if (!out.empty()) out += ' ';
        out += std::to_string(l);
    }
    return out;
}

// The names of the coordinate columns, x1,y1 (and z1 in space) ... with `prefix`.
std::string coordinate_names(Eigen::Index k, int dimensions, const std::string& prefix) {
    std::string out;
    for (Eigen::Index j = 1; j <= k; ++j)
        for (const char* axis : {"x", "y", "z"}) {
            if (axis[0] == 'z' && dimensions != 3) continue;
            out += "," + prefix + axis + std::to_string(j);
        }
    return out;
}

}  // namespace

std::string specimens_csv(const SpecimenExport& e) {
    const Matrix& lm = *e.landmarks;
    const int d = e.dimensions;
    const Eigen::Index m = lm.rows(), k = (lm.cols() - 1) / d;
    const bool with_groups = e.groups && e.groups->rows() == m && e.groups->cols() > 0;
    const bool with_cov = e.covariate && e.covariate->rows() == m && e.covariate->cols() > 0;
    const bool with_ids = e.legend && static_cast<Eigen::Index>(e.legend->ids.size()) == m;
    const Consensus c = full_procrustes_consensus(lm, d);
    const Matrix dist = full_procrustes_distances(c.y, lm, d);
    const Eigen::VectorXd sizes = centroid_sizes(lm, d);
    std::optional<Consensus> sc;
    if (e.standardised) sc = full_procrustes_consensus(*e.standardised, d);
    const Matrix aligned = !e.partial ? c.xpt
                           : d == 3   ? partial_coordinates<3>(lm, e.legend)
                                      : partial_coordinates<2>(lm, e.legend);
    const bool with_estimates = e.legend && !e.legend->steps.estimated.empty();
    Eigen::MatrixXd corrected;
    if (e.size_design) corrected = size_corrected(projected(aligned.leftCols(d * k), d), *e.size_design);

    std::string out = "specimen,id";
    if (with_groups)
        for (Eigen::Index j = 0; j < e.groups->cols(); ++j) {
            const std::string g = std::to_string(j + 1);
            out += ",G" + g + ",G" + g + "_code";
        }
    if (with_cov) out += ",covariate";
    if (with_estimates) out += ",estimated";
    out += ",centroid_size,procrustes_distance";
    out += coordinate_names(k, d, "");
    if (sc) out += coordinate_names(k, d, "std_");
    if (e.size_design) out += coordinate_names(k, d, "sc_");
    out += "\n";
    for (Eigen::Index i = 0; i < m; ++i) {
        out += std::to_string(i + 1) + "," +
               (with_ids ? csv_cell(e.legend->ids[static_cast<std::size_t>(i)]) : std::to_string(i + 1));
        if (with_groups)
            for (Eigen::Index j = 0; j < e.groups->cols(); ++j) {
                const double code = (*e.groups)(i, j);
                cell(out, csv_cell(level_of(e.legend, static_cast<std::size_t>(j), code)));
                cell(out, number_text(code));
            }
        if (with_cov) cell(out, number_text((*e.covariate)(i, 0)));
        if (with_estimates) cell(out, estimated_cell(e.legend, i));
        cell(out, number_text(sizes(i)));
        cell(out, number_text(dist(i, 0)));
        for (Eigen::Index j = 0; j < d * k; ++j) cell(out, number_text(aligned(i, j)));
        if (sc)
            for (Eigen::Index j = 0; j < d * k; ++j) cell(out, number_text(sc->xpt(i, j)));
        if (e.size_design)
            for (Eigen::Index j = 0; j < d * k; ++j) cell(out, number_text(corrected(i, j)));
        out += "\n";
    }
    return out;
}

}  // namespace quillan::io
