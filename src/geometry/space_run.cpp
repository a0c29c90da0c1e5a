#include "geometry/space_run.hpp"

#include "geometry/consensus_iteration.hpp"
#include "geometry/geometry.hpp"
#include "platform/error.hpp"

#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace quillan {

namespace {

typedef Eigen::Matrix3d M3;

// The sums of one sweep of a fit of z onto w: the cross products
// a(p, q) = sum of w_j[p] z_j[q], the coordinate sums of z and its squared
// length, each in landmark order.
struct CrossSums {
    M3 a = M3::Zero();
    double s[3] = {0.0, 0.0, 0.0};
    double zz = 0.0;
};

CrossSums cross_sums(const double* z, const double* w, int k) {
    CrossSums c;
    for (int j = 0; j < k; ++j) {
        const double* zj = z + 3 * j;
        const double* wj = w + 3 * j;
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 3; ++q) c.a(p, q) += wj[p] * zj[q];
        c.s[0] += zj[0];
        c.s[1] += zj[1];
        c.s[2] += zj[2];
        c.zz += zj[0] * zj[0] + zj[1] * zj[1] + zj[2] * zj[2];
    }
    return c;
}

// The squared size of z about its own centroid: |z|^2 - k |c|^2.
double centred_size_sq(const CrossSums& c, int k) {
    const double p = static_cast<double>(k);
    const double cx = c.s[0] / p, cy = c.s[1] / p, cz = c.s[2] / p;
    return c.zz - p * (cx * cx + cy * cy + cz * cz);
}

// The rotation that best fits z onto w for the cross products `a`, and the
// sum s1 + s2 + d s3 of its singular values with the reflection's sign.
struct Turn {
    M3 r;
    double trace;
};

Turn best_turn(const M3& a) {
    const Eigen::JacobiSVD<M3> svd(a, Eigen::ComputeFullU | Eigen::ComputeFullV);
    M3 u = svd.matrixU();
    const M3& v = svd.matrixV();
    const Eigen::Vector3d s = svd.singularValues();
    const double d = u.determinant() * v.determinant() < 0 ? -1.0 : 1.0;
    u.col(2) *= d;
    return {u * v.transpose(), s(0) + s(1) + d * s(2)};
}

// Every landmark of x multiplied by the 3 x 3 matrix m.
void transform(double* x, int k, const M3& m) {
    for (int j = 0; j < k; ++j) {
        double* p = x + 3 * j;
        const double a = p[0], b = p[1], c = p[2];
        for (int r = 0; r < 3; ++r) p[r] = m(r, 0) * a + m(r, 1) * b + m(r, 2) * c;
    }
}

// Fits z onto w in place: full (rotation and scale) or rotation only.
void fit(double* z, const double* w, int k, Procedure proc) {
    const CrossSums c = cross_sums(z, w, k);
    const Turn t = best_turn(c.a);
    if (proc == Procedure::Full) transform(z, k, (t.trace / centred_size_sq(c, k)) * t.r);
    else transform(z, k, t.r);
}

// Squared full distance of z from w (closed form, z neither moved nor
// turned); `wsum` is w's coordinate sums and `ww` its squared length.
double distance_sq(const double* z, const double* w, int k, const double wsum[3], double ww) {
    CrossSums c = cross_sums(z, w, k);
    const double p = static_cast<double>(k);
    for (int r = 0; r < 3; ++r)
        for (int q = 0; q < 3; ++q) c.a(r, q) -= wsum[r] * (c.s[q] / p);
    const double tr = best_turn(c.a).trace;
    const double d = ww - tr * tr / centred_size_sq(c, k);
    return d < 0 ? 0.0 : d;
}

// The rotation (rows: the new axes) that brings a configuration onto its
// principal axes and turns it least: of the orderings and signs of the
// eigenvectors of its scatter matrix that make a rotation, the one closest
// to the identity (largest trace).  False when the axes already are its
// principal axes (the scatter matrix is diagonal).
bool principal_rotation(const double* x, int k, M3& q) {
    M3 c = M3::Zero();
    for (int j = 0; j < k; ++j)
        for (int r = 0; r < 3; ++r)
            for (int s = 0; s < 3; ++s) c(r, s) += x[3 * j + r] * x[3 * j + s];
    if (c(0, 1) == 0 && c(0, 2) == 0 && c(1, 2) == 0) return false;
    const Eigen::SelfAdjointEigenSolver<M3> eig(c);
    const M3 e = eig.eigenvectors();
    std::array<int, 3> perm = {0, 1, 2};
    double best = -4.0;
    do {
        for (int signs = 0; signs < 8; ++signs) {
            M3 cand;
            for (int col = 0; col < 3; ++col) cand.col(col) = ((signs >> col) & 1 ? -1.0 : 1.0) * e.col(perm[col]);
            if (cand.determinant() < 0) continue;
            if (cand.trace() > best) {
                best = cand.trace();
                q = cand.transpose();
            }
        }
    } while (std::next_permutation(perm.begin(), perm.end()));
    return true;
}

}  // namespace

double centroid_size_space(const double* x, int k) {
    double sx = 0.0, sy = 0.0, sz = 0.0;
    for (int j = 0; j < k; ++j) {
        sx += x[3 * j];
        sy += x[3 * j + 1];
        sz += x[3 * j + 2];
    }
    const double p = static_cast<double>(k);
    const double cx = sx / p, cy = sy / p, cz = sz / p;
    double ss = 0.0;
    for (int j = 0; j < k; ++j) {
        const double dx = x[3 * j] - cx, dy = x[3 * j + 1] - cy, dz = x[3 * j + 2] - cz;
        ss += dx * dx + dy * dy + dz * dz;
    }
    return std::sqrt(ss);
}

double centre_scale_space(double* x, int k) {
    double sx = 0.0, sy = 0.0, sz = 0.0;
    for (int j = 0; j < k; ++j) {
        sx += x[3 * j];
        sy += x[3 * j + 1];
        sz += x[3 * j + 2];
    }
    const double p = static_cast<double>(k);
    const double c[3] = {sx / p, sy / p, sz / p};
    for (int q = 0; q < 3 * k; ++q) x[q] -= c[q % 3];
    const double cs = centroid_size_space(x, k);
    const double r = 1.0 / cs;
    for (int q = 0; q < 3 * k; ++q) x[q] *= r;
    return cs;
}

void turn_rows_in_space(const double* from, const double* onto, int k, const double* rows, std::size_t n, double* out) {
    const M3 r = best_turn(cross_sums(from, onto, k).a).r;
    const std::size_t m1 = 3 * static_cast<std::size_t>(k);
    std::copy(rows, rows + n * m1, out);
    for (std::size_t i = 0; i < n; ++i) transform(out + i * m1, k, r);
}

SpaceRun::SpaceRun(ShapeScratch& work, int k) : w_(work), k_(k), m1_(3 * static_cast<std::size_t>(k)) {
    if (w_.xref_.size() < m1_ + 1) {
        w_.xref_.resize(m1_ + 1);
        w_.xrefold_.resize(m1_ + 1);
    }
    if (w_.acc_.size() < m1_) w_.acc_.resize(m1_);
}

double* SpaceRun::rows() const { return w_.tiles_.data(); }

void SpaceRun::load(const ShapeTable& table, std::span<const int> rows) {
    for (const int r : rows)
        if (r < 0 || static_cast<std::size_t>(r) >= table.rows())
            throw QuillanError("Row " + std::to_string(r) + " is not a row of the landmark table.");
    n_ = rows.size();
    if (w_.tiles_.size() < n_ * m1_) w_.tiles_.resize(n_ * m1_);
    double tsum = 0.0;
    for (std::size_t i = 0; i < n_; ++i) {
        const std::size_t r = static_cast<std::size_t>(rows[i]);
        std::copy(table.row(r), table.row(r) + m1_, this->rows() + i * m1_);
        tsum += table.trailing(r);
    }
    if (n_ > 0) {
        tfirst_ = table.trailing(static_cast<std::size_t>(rows[0]));
        tmean_ = tsum / static_cast<double>(n_);
    }
}

void SpaceRun::load_all(const ShapeTable& table) {
    std::vector<int>& all = w_.all_rows_;
    all.resize(table.rows());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    load(table, all);
}

void SpaceRun::fit_pass(Procedure proc, const double* ref, double* acc) {
    for (std::size_t i = 0; i < n_; ++i) {
        double* z = rows() + i * m1_;
        fit(z, ref, k_, proc);
        for (std::size_t q = 0; q < m1_; ++q) acc[q] += z[q];
    }
}

std::size_t SpaceRun::iterate(Procedure proc) {
    if (n_ == 0) throw QuillanError("The consensus of no specimens is not defined.");
    double* xref = w_.xref_.data();
    double* old = w_.xrefold_.data();
    double* acc = w_.acc_.data();
    std::copy(rows(), rows() + m1_, xref);
    const double tol = proc == Procedure::Full ? 1.4901161193847656e-08 * static_cast<double>(k_) : 7.450580596923829e-10;
    const double dn = static_cast<double>(n_);
    double xd = 1.0;
    std::size_t passes = 0;
    while (xd > tol) {
        if (passes == kMaxConsensusPasses)
            throw QuillanError("The consensus of " + std::to_string(n_) + " specimens did not settle after " +
                               std::to_string(kMaxConsensusPasses) + " passes.");
        ++passes;
        std::fill(acc, acc + m1_, 0.0);
        fit_pass(proc, xref, acc);
        if (passes == 1) xref[m1_] = tfirst_;
        std::copy(xref, xref + m1_ + 1, old);
        for (std::size_t q = 0; q < m1_; ++q) xref[q] = acc[q] / dn;
        xref[m1_] = tmean_;
        double size;
        if (proc == Procedure::Full) {
            size = centroid_size_space(xref, k_);
        } else {
            double ss = 0.0;
            for (std::size_t q = 0; q < m1_; ++q) ss += xref[q] * xref[q];
            size = std::sqrt(ss);
        }
        for (std::size_t q = 0; q <= m1_; ++q) xref[q] /= size;
        xd = 0.0;
        for (std::size_t q = 0; q < m1_; ++q) xd += (xref[q] - old[q]) * (xref[q] - old[q]);
    }
    if (std::isnan(xd))
        throw QuillanError("The consensus of " + std::to_string(n_) +
                           " specimens could not be computed: the superimposition produced values that are not numbers.");
    w_.passes += passes;
    w_.row_passes += passes * n_;
    return passes;
}

void SpaceRun::principal_axes() {
    double* xref = w_.xref_.data();
    M3 q;
    if (principal_rotation(xref, k_, q)) {
        transform(xref, k_, q);
        for (std::size_t i = 0; i < n_; ++i) transform(rows() + i * m1_, k_, q);
    }
    xref[m1_] = 999;
}

double SpaceRun::principal_axes_distances() {
    // The turn onto the principal axes moves the consensus and every row
    // alike, so the distances are taken from the rows as they stand.
    const double* xref = w_.xref_.data();
    double wsum[3] = {0.0, 0.0, 0.0}, ww = 0.0;
    for (int j = 0; j < k_; ++j)
        for (int r = 0; r < 3; ++r) {
            wsum[r] += xref[3 * j + r];
            ww += xref[3 * j + r] * xref[3 * j + r];
        }
    double sum = 0.0;
    for (std::size_t i = 0; i < n_; ++i) sum += distance_sq(rows() + i * m1_, xref, k_, wsum, ww);
    return sum;
}

const double* SpaceRun::consensus() const { return w_.xref_.data(); }

void SpaceRun::fit_all(const double* ref) {
    for (std::size_t i = 0; i < n_; ++i) fit(rows() + i * m1_, ref, k_, Procedure::Full);
}

void SpaceRun::distances(const double* ref, double* d) {
    std::vector<double> z(m1_);
    for (std::size_t i = 0; i < n_; ++i) {
        std::copy(rows() + i * m1_, rows() + (i + 1) * m1_, z.begin());
        fit(z.data(), ref, k_, Procedure::Full);
        double s = 0.0;
        for (std::size_t q = 0; q < m1_; ++q) s += (z[q] - ref[q]) * (z[q] - ref[q]);
        d[i] = std::sqrt(s);
    }
}

void SpaceRun::row(std::size_t i, double* out) const { std::copy(rows() + i * m1_, rows() + (i + 1) * m1_, out); }

void SpaceRun::deviations(double* out) const {
    const double* ref = w_.xref_.data();
    for (std::size_t i = 0; i < n_; ++i)
        for (std::size_t q = 0; q < m1_; ++q) out[i * m1_ + q] = rows()[i * m1_ + q] - ref[q];
}

}  // namespace quillan
