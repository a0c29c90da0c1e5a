#include "geometry/shape_table.hpp"

#include "geometry/consensus_iteration.hpp"
#include "geometry/kernels.hpp"
#include "geometry/space_run.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace quillan {

namespace {

std::string specimen_text(std::size_t row, std::span<const std::size_t> specimens) {
    const std::size_t number = specimens.empty() ? row + 1 : specimens[row];
    const std::string n = std::to_string(number);
    return "Specimen " + n + " (line " + n + " of the landmark file)";
}

std::string value_text(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-Inf" : "Inf";
}

void check_plane_width(Eigen::Index w) {
    if (w % 2 == 0)
        throw QuillanError("The landmark table has " + std::to_string(w) +
                           " columns, an even number. Each line of a landmark file holds the x and y of every landmark "
                           "and then one further value, so its number of values is odd. Please check the landmark file.");
    if (w < 5)
        throw QuillanError("The landmark table has " + std::to_string(w) +
                           " columns, too few for a shape: at least two landmarks (x1 y1 x2 y2 and one further value, "
                           "5 columns) are needed.");
}

void check_space_width(Eigen::Index w) {
    if (w % 3 != 1)
        throw QuillanError("The landmark table has " + std::to_string(w) +
                           " columns. Each line of a 3-D landmark file holds the x, y and z of every landmark and then "
                           "one further value, so its number of values is one more than a multiple of three. Please "
                           "check the landmark file.");
    if (w < 10)
        throw QuillanError("The landmark table has " + std::to_string(w) +
                           " columns, too few for a shape in 3-D: at least three landmarks (x1 y1 z1 ... x3 y3 z3 and one "
                           "further value, 10 columns) are needed.");
}

void check_shape(const Matrix& data, int dimensions) {
    const Eigen::Index w = data.cols();
    if (data.rows() == 0 || w == 0) throw QuillanError("The landmark table is empty: there is no specimen to superimpose.");
    if (dimensions == 3) check_space_width(w);
    else if (dimensions == 2) check_plane_width(w);
    else throw QuillanError("Landmarks have 2 or 3 coordinates, not " + std::to_string(dimensions) + ".");
}

// Checks row i's coordinates and stores it centred and scaled in `out`.
void prepare_row(const Matrix& data, Eigen::Index i, int k, int d, double* out, std::span<const std::size_t> specimens) {
    const std::size_t row = static_cast<std::size_t>(i);
    for (int q = 0; q < d * k; ++q) {
        const double v = data(i, q);
        if (!std::isfinite(v))
            throw QuillanError(specimen_text(row, specimens) + " has a coordinate that is not a finite number (column " +
                               std::to_string(q + 1) + " holds " + value_text(v) +
                               "). Please check that line of the landmark file.");
        out[q] = v;
    }
    double cs;
    if (d == 3) cs = centre_scale_space(out, k);
    else kernels::centre_scale<double>(out, k, &cs);
    const bool finite = std::isfinite(cs) && cs > 0 && std::all_of(out, out + d * k, [](double v) { return std::isfinite(v); });
    if (finite) return;
    bool one_point = true;
    for (int j = 1; j < k && one_point; ++j)
        for (int c = 0; c < d; ++c) one_point = one_point && data(i, d * j + c) == data(i, c);
    if (one_point)
        throw QuillanError(specimen_text(row, specimens) +
                           " has all its landmarks at one point (centroid size 0), so it has no shape to superimpose. "
                           "Please check that line of the landmark file.");
    throw QuillanError(specimen_text(row, specimens) +
                       " has landmarks too close together or too far apart for its centroid size to be computed. "
                       "Please check that line of the landmark file.");
}

}  // namespace

ShapeTable::ShapeTable(const Matrix& data, std::span<const std::size_t> specimens, int dimensions) {
    check_shape(data, dimensions);
    if (!specimens.empty() && specimens.size() < static_cast<std::size_t>(data.rows()))
        throw QuillanError("ShapeTable: fewer specimen numbers than rows.");
    rows_ = static_cast<std::size_t>(data.rows());
    d_ = dimensions;
    k_ = landmarks_of(data.cols(), d_);
    const std::size_t m1 = coordinates();
    stride_ = (m1 + kLineDoubles - 1) / kLineDoubles * kLineDoubles;
    coords_.assign(rows_ * stride_, 0.0);
    trailing_.resize(rows_);
    for (Eigen::Index i = 0; i < data.rows(); ++i) {
        const std::size_t r = static_cast<std::size_t>(i);
        prepare_row(data, i, k_, d_, coords_.data() + r * stride_, specimens);
        trailing_[r] = data(i, data.cols() - 1);
    }
}

void validate_landmark_table(const Matrix& data, int dimensions) {
    check_shape(data, dimensions);
    const int k = landmarks_of(data.cols(), dimensions);
    std::vector<double> row(static_cast<std::size_t>(dimensions * k));
    for (Eigen::Index i = 0; i < data.rows(); ++i) prepare_row(data, i, k, dimensions, row.data(), {});
}

// ---------------------------------------------------------------------------
// ConsensusRun

ConsensusRun::ConsensusRun(ShapeScratch& work, int k)
    : w_(work), k_(k), ops_(&kernels::ops_for_rows(0)), lanes_(static_cast<std::size_t>(ops_->lanes)) {
    const std::size_t m = 2 * static_cast<std::size_t>(k) + 1;
    if (w_.xref_.size() < m) {
        w_.xref_.resize(m);
        w_.xrefold_.resize(m);
    }
    if (w_.acc_.size() < kernels::acc_room(k)) w_.acc_.resize(kernels::acc_room(k));
    b_.k = k;
}

namespace {

// Makes room for the tiles of n rows of k landmarks in the tile buffer.
double* tiles_for(LineVector& buf, std::size_t n, std::size_t lanes, int k) {
    const std::size_t need = (n + lanes - 1) / lanes * lanes * 2 * static_cast<std::size_t>(k);
    if (buf.size() < need) buf.resize(need);
    return buf.data();
}

}  // namespace

void ConsensusRun::load(const ShapeTable& table, std::span<const int> rows) {
    for (const int r : rows)
        if (r < 0 || static_cast<std::size_t>(r) >= table.rows())
            throw QuillanError("Row " + std::to_string(r) + " is not a row of the landmark table.");
    b_.n = rows.size();
    use_kernels_for(b_.n);
    b_.tiles = tiles_for(w_.tiles_, b_.n, lanes_, k_);
    pending_table_ = &table;
    pending_rows_ = rows.data();
}

void ConsensusRun::load_all(const ShapeTable& table) {
    b_.n = table.rows();
    use_kernels_for(b_.n);
    b_.tiles = tiles_for(w_.tiles_, b_.n, lanes_, k_);
    ops_->load(b_, table, nullptr);
    pending_table_ = nullptr;
}

void ConsensusRun::use_kernels_for(std::size_t n) {
    ops_ = &kernels::ops_for_rows(n);
    lanes_ = static_cast<std::size_t>(ops_->lanes);
}

void ConsensusRun::ensure_loaded() const {
    if (pending_table_ == nullptr) return;
    ops_->load(b_, *pending_table_, pending_rows_);
    pending_table_ = nullptr;
}

std::size_t ConsensusRun::iterate(Procedure proc) {
    const std::size_t n = b_.n;
    if (n == 0) throw QuillanError("The consensus of no specimens is not defined.");
    const int k = k_;
    const std::size_t m1 = 2 * static_cast<std::size_t>(k);
    double* xref = w_.xref_.data();
    double* xrefold = w_.xrefold_.data();
    double* acc = w_.acc_.data();

    // The first specimen is the starting reference.
    const ShapeTable* fresh = pending_table_;
    if (fresh != nullptr) {
        const double* first = fresh->row(pending_rows_ ? static_cast<std::size_t>(pending_rows_[0]) : 0);
        std::copy(first, first + m1, xref);
        pending_table_ = nullptr;
    } else {
        for (std::size_t q = 0; q < m1; ++q) xref[q] = b_.tiles[q * lanes_];
    }

    const double tol = proc == Procedure::Full ? 1.4901161193847656e-08 * static_cast<double>(m1) / 2 : 7.450580596923829e-10;
    double xd = 1.0;
    std::size_t passes = 0;
    while (xd > tol) {
        if (passes == kMaxConsensusPasses)
            throw QuillanError("The consensus of " + std::to_string(n) + " specimens did not settle after " +
                               std::to_string(kMaxConsensusPasses) + " passes.");
        ++passes;
        // Fit every row onto the reference and sum the columns, each in row
        // order; rows not yet copied are copied tile by tile in this pass.
        for (std::size_t q = 0; q < m1; ++q) acc[q] = 0.0;
        if (fresh != nullptr) {
            ops_->load_fit(b_, *fresh, pending_rows_, proc, xref, acc);
            fresh = nullptr;
        } else {
            ops_->fit_pass(b_, proc, xref, acc);
        }
        if (passes == 1) xref[m1] = b_.tfirst;
        xd = ops_->next_reference(xref, xrefold, acc, n, k, b_.tmean, proc);
    }
    if (std::isnan(xd))
        throw QuillanError("The consensus of " + std::to_string(n) +
                           " specimens could not be computed: the superimposition produced values that are not numbers.");
    w_.passes += passes;
    w_.row_passes += passes * n;
    return passes;
}

bool ConsensusRun::principal_turn(double& c, double& s) const {
    const double* xref = w_.xref_.data();
    double sxy = 0.0, sxx = 0.0, syy = 0.0;
    for (int j = 0; j < k_; ++j) {
        const double x = xref[2 * j];
        const double y = xref[2 * j + 1];
        sxy += x * y;
        sxx += x * x;
        syy += y * y;
    }
    const double num = -2 * sxy;
    const double den = sxx - syy;
    // An isotropic consensus has no principal axes (0/0): it keeps its
    // orientation.
    if (num == 0 && den == 0) return false;
    const double theta = 0.5 * std::atan(num / den);
    c = std::cos(theta);
    s = std::sin(theta);
    return true;
}

void ConsensusRun::principal_axes() {
    ensure_loaded();
    const std::size_t m1 = 2 * static_cast<std::size_t>(k_);
    double* xref = w_.xref_.data();
    double c, s;
    if (principal_turn(c, s)) {
        kernels::rotate<double>(xref, k_, c, s);
        ops_->rotate_all(b_, c, s);
    }
    xref[m1] = 999;
}

double ConsensusRun::principal_axes_distances() {
    // The principal-axis turn moves the consensus and every aligned row
    // alike, so it changes no distance: the sum is taken from the rows as
    // they stand, each distance in closed form in a single sweep.
    ensure_loaded();
    const double* xref = w_.xref_.data();
    double wx = 0.0, wy = 0.0, ww = 0.0;
    for (int j = 0; j < k_; ++j) {
        wx += xref[2 * j];
        wy += xref[2 * j + 1];
        ww += xref[2 * j] * xref[2 * j] + xref[2 * j + 1] * xref[2 * j + 1];
    }
    return ops_->distance_sq_sum(b_, xref, wx, wy, ww);
}

const double* ConsensusRun::consensus() const { return w_.xref_.data(); }

void ConsensusRun::fit_all(const double* ref) {
    ensure_loaded();
    ops_->fit_all(b_, ref);
}

void ConsensusRun::distances(const double* ref, double* d) {
    ensure_loaded();
    ops_->distances(b_, ref, d);
}

void ConsensusRun::row(std::size_t i, double* out) const {
    ensure_loaded();
    const std::size_t m1 = 2 * static_cast<std::size_t>(k_);
    const double* tile = b_.tiles + (i / lanes_) * m1 * lanes_;
    const std::size_t l = i % lanes_;
    for (std::size_t q = 0; q < m1; ++q) out[q] = tile[q * lanes_ + l];
}

void ConsensusRun::deviations(double* out) const {
    ensure_loaded();
    const std::size_t m1 = 2 * static_cast<std::size_t>(k_);
    const double* ref = w_.xref_.data();
    for (std::size_t i = 0; i < b_.n; ++i) {
        const double* tile = b_.tiles + (i / lanes_) * m1 * lanes_;
        const std::size_t l = i % lanes_;
        double* row = out + i * m1;
        for (std::size_t q = 0; q < m1; ++q) row[q] = tile[q * lanes_ + l] - ref[q];
    }
}

// ---------------------------------------------------------------------------

namespace {

template <class Run>
double finish_group(Run& run) {
    run.iterate(Procedure::Full);
    const double s = run.principal_axes_distances();
    if (!std::isfinite(s))
        throw QuillanError("The distances of " + std::to_string(run.size()) +
                           " specimens from their consensus could not be computed: a specimen at right angles to the "
                           "consensus shape was fitted to a single point.");
    return s;
}

template <class Run>
void residuals_of(const ShapeTable& table, std::span<const int> rows, ShapeScratch& work, double* out, double* consensus) {
    Run run(work, table.landmarks());
    run.load(table, rows);
    run.iterate(Procedure::RotationOnly);
    run.deviations(out);
    if (consensus) std::copy(run.consensus(), run.consensus() + table.coordinates(), consensus);
}

}  // namespace

double group_ss(const ShapeTable& table, std::span<const int> rows, ShapeScratch& work) {
    if (table.dimensions() == 3) {
        SpaceRun run(work, table.landmarks());
        run.load(table, rows);
        return finish_group(run);
    }
    ConsensusRun run(work, table.landmarks());
    run.load(table, rows);
    return finish_group(run);
}

void consensus_residuals(const ShapeTable& table, std::span<const int> rows, ShapeScratch& work, double* out, double* consensus) {
    if (table.dimensions() == 3) residuals_of<SpaceRun>(table, rows, work, out, consensus);
    else residuals_of<ConsensusRun>(table, rows, work, out, consensus);
}

double whole_table_ss(const ShapeTable& table, ShapeScratch& work) {
    if (table.dimensions() == 3) {
        SpaceRun run(work, table.landmarks());
        run.load_all(table);
        return finish_group(run);
    }
    ConsensusRun run(work, table.landmarks());
    run.load_all(table);
    return finish_group(run);
}

double whole_table_ss(const Matrix& data, int dimensions) {
    ShapeTable table(data, {}, dimensions);
    ShapeScratch work;
    return whole_table_ss(table, work);
}

}  // namespace quillan
