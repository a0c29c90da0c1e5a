#include "geometry/geometry.hpp"

#include "geometry/consensus_iteration.hpp"
#include "geometry/kernels.hpp"
#include "geometry/shape_table.hpp"
#include "geometry/space_run.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/statistics.hpp"

#include <cmath>
#include <string>

namespace quillan {

Centroid centroid_of(std::span<const double> x) {
    const std::size_t p = x.size() / 2;
    if (p == 0) throw QuillanError("centpos: a configuration needs at least one landmark (two values).");
    Centroid c;
    kernels::centroid<double>(x.data(), static_cast<int>(p), c.x, c.y);
    return c;
}

Eigen::VectorXd centroid_sizes(const Matrix& x, int dimensions) {
    if (dimensions == 3) {
        if (x.rows() > 0 && x.cols() < 3)
            throw QuillanError("centsize: a configuration in space needs at least one landmark (three values).");
        const int p = static_cast<int>(x.cols() / 3);
        Eigen::VectorXd y(x.rows());
        for (Eigen::Index i = 0; i < x.rows(); ++i) y(i) = centroid_size_space(x.data() + i * x.cols(), p);
        return y;
    }
    if (x.rows() > 0 && x.cols() < 2) throw QuillanError("centsize: a configuration needs at least one landmark (two values).");
    const int p = static_cast<int>(x.cols() / 2);
    Eigen::VectorXd y(x.rows());
    for (Eigen::Index i = 0; i < x.rows(); ++i) y(i) = kernels::row_centroid_size(x.data() + i * x.cols(), p);
    return y;
}

StandardSizeResult standardise_along_lines(const Matrix& data, const std::vector<double>& t, double tfixed, int dimensions) {
    validate_landmark_table(data, dimensions);
    const Eigen::Index m = data.rows();
    const Eigen::Index n = data.cols();
    if (t.size() != static_cast<std::size_t>(m))
        throw QuillanError("The covariate has " + std::to_string(t.size()) + " values for " + std::to_string(m) +
                           " specimens; it needs one value per specimen.");
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!std::isfinite(t[i]))
            throw QuillanError("The covariate value of specimen " + std::to_string(i + 1) +
                               " is not a finite number. Please check the covariate file.");
    if (!std::isfinite(tfixed)) throw QuillanError("The covariate value to standardise to is not a finite number.");
    bool distinct = false;
    for (double v : t) distinct = distinct || v != t.front();
    if (!distinct)
        throw QuillanError("The covariate has the same value for all " + std::to_string(m) +
                           " specimens being standardised, so no straight line can be fitted against it.");

    std::vector<double> x(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) x[i] = t[i] - tfixed;

    StandardSizeResult r;
    r.tvect.resize(n - 1, 2);
    r.y.resize(m, n);
    for (Eigen::Index j = 0; j < n - 1; ++j) {
        const Line line = polyfit1(x.data(), data.data() + j, static_cast<std::size_t>(m), n);
        r.tvect(j, 0) = line.slope;
        r.tvect(j, 1) = line.intercept;
    }
    for (Eigen::Index i = 0; i < m; ++i) {
        for (Eigen::Index j = 0; j < n - 1; ++j) r.y(i, j) = data(i, j) - r.tvect(j, 0) * x[static_cast<std::size_t>(i)];
        r.y(i, n - 1) = data(i, n - 1);
    }
    return r;
}

namespace {

// Checks a reference configuration for a table of `coordinates` values a row.
void check_reference(std::span<const double> xref, const ShapeTable& table, const char* op) {
    const std::size_t need = table.coordinates();
    if (xref.size() < need)
        throw QuillanError(std::string(op) + ": the reference has " + std::to_string(xref.size()) +
                           " elements; configurations of " + std::to_string(table.landmarks()) + " landmarks need " +
                           std::to_string(need) + ".");
    for (std::size_t q = 0; q < need; ++q)
        if (!std::isfinite(xref[q]))
            throw QuillanError(std::string(op) + ": the reference configuration holds a value that is not a finite number.");
}

// The rows of a run as a table, with the input's trailing column.
template <class Run>
Matrix aligned_table(const Run& run, const Matrix& x) {
    Matrix out(x.rows(), x.cols());
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        run.row(static_cast<std::size_t>(i), out.data() + i * x.cols());
        out(i, x.cols() - 1) = x(i, x.cols() - 1);
    }
    return out;
}

template <class Run>
Matrix fit_rows(const ShapeTable& table, const Matrix& x, std::span<const double> xref) {
    ShapeScratch work;
    Run run(work, table.landmarks());
    run.load_all(table);
    run.fit_all(xref.data());
    return aligned_table(run, x);
}

template <class Run>
std::vector<double> distances_of(const ShapeTable& table, std::span<const double> xref) {
    ShapeScratch work;
    Run run(work, table.landmarks());
    run.load_all(table);
    std::vector<double> d(table.rows());
    run.distances(xref.data(), d.data());
    return d;
}

template <class Run>
Consensus run_consensus(const ShapeTable& table, const Matrix& x, Procedure proc) {
    ShapeScratch work;
    Run run(work, table.landmarks());
    run.load_all(table);
    Consensus c;
    c.passes = run.iterate(proc);
    if (proc == Procedure::Full) run.principal_axes();
    c.y.resize(1, x.cols());
    const double* y = run.consensus();
    for (Eigen::Index q = 0; q < x.cols(); ++q) c.y(0, q) = y[q];
    c.xpt = aligned_table(run, x);
    return c;
}

Consensus consensus_of(const Matrix& x, int dimensions, Procedure proc) {
    ShapeTable table(x, {}, dimensions);
    if (dimensions == 3) return run_consensus<SpaceRun>(table, x, proc);
    return run_consensus<ConsensusRun>(table, x, proc);
}

}  // namespace

Matrix full_procrustes_fit(const Matrix& x, std::span<const double> xref, int dimensions) {
    ShapeTable table(x, {}, dimensions);
    check_reference(xref, table, "getfullpsup");
    if (dimensions == 3) return fit_rows<SpaceRun>(table, x, xref);
    return fit_rows<ConsensusRun>(table, x, xref);
}

Matrix full_procrustes_fit(const Matrix& x, const Matrix& xref, int dimensions) {
    const std::vector<double> r = elements(xref);
    return full_procrustes_fit(x, std::span<const double>(r), dimensions);
}

Matrix full_procrustes_distances(std::span<const double> xref, const Matrix& x, int dimensions) {
    ShapeTable table(x, {}, dimensions);
    check_reference(xref, table, "fullpdist");
    const std::vector<double> d = dimensions == 3 ? distances_of<SpaceRun>(table, xref) : distances_of<ConsensusRun>(table, xref);
    Matrix p(x.rows(), 2);
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        p(i, 0) = d[static_cast<std::size_t>(i)];
        p(i, 1) = x(i, x.cols() - 1);
    }
    return p;
}

Matrix full_procrustes_distances(const Matrix& xref, const Matrix& x, int dimensions) {
    const std::vector<double> r = elements(xref);
    return full_procrustes_distances(std::span<const double>(r), x, dimensions);
}

Consensus full_procrustes_consensus(const Matrix& x, int dimensions) { return consensus_of(x, dimensions, Procedure::Full); }

Consensus rotation_only_consensus(const Matrix& x, int dimensions) {
    return consensus_of(x, dimensions, Procedure::RotationOnly);
}

}  // namespace quillan
