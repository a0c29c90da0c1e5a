#include "geometry/missing_landmarks.hpp"

#include "platform/error.hpp"

#include "geometry/decompositions.hpp"

#include <algorithm>
#include <cmath>

namespace quillan {

namespace {

template <int D>
using Point = Eigen::Matrix<double, 1, D>;

template <int D>
std::vector<Eigen::Index> present_rows(const PointsOf<D>& x) {
    std::vector<Eigen::Index> rows;
    for (Eigen::Index i = 0; i < x.rows(); ++i)
        if (x.row(i).allFinite()) rows.push_back(i);
    return rows;
}

template <int D>
PointsOf<D> rows_of(const PointsOf<D>& x, const std::vector<Eigen::Index>& rows) {
    PointsOf<D> out(static_cast<Eigen::Index>(rows.size()), D);
    for (std::size_t r = 0; r < rows.size(); ++r) out.row(static_cast<Eigen::Index>(r)) = x.row(rows[r]);
    return out;
}

// The kernel of the mapping spline at squared distance r2 (0 at r = 0):
// r^2 log r^2 in the plane, r in space.
template <int D>
double spline_kernel(double r2) {
    if constexpr (D == 3) return std::sqrt(r2);
    return r2 > 0 ? r2 * std::log(r2) : 0.0;
}

// The thin-plate spline taking `from` onto `to`, evaluated at `at`.
template <int D>
PointsOf<D> spline_map(const PointsOf<D>& from, const PointsOf<D>& to, const PointsOf<D>& at, const std::string& specimen) {
    const Eigen::Index p = from.rows();
    Eigen::MatrixXd l = Eigen::MatrixXd::Zero(p + D + 1, p + D + 1);
    for (Eigen::Index i = 0; i < p; ++i) {
        for (Eigen::Index j = 0; j < p; ++j) l(i, j) = spline_kernel<D>((from.row(i) - from.row(j)).squaredNorm());
        l(i, p) = l(p, i) = 1;
        for (Eigen::Index c = 0; c < D; ++c) l(i, p + 1 + c) = l(p + 1 + c, i) = from(i, c);
    }
    Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(p + D + 1, D);
    rhs.topRows(p) = to;
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(l);
    if (!lu.isInvertible())
        throw QuillanError("specimen " + specimen + ": its present landmarks lie " + (D == 3 ? "in a plane" : "on a line") +
                           " (or on the reference's), so no spline maps onto them");
    const Eigen::MatrixXd coef = lu.solve(rhs);
    PointsOf<D> out(at.rows(), D);
    for (Eigen::Index q = 0; q < at.rows(); ++q) {
        Point<D> v = coef.row(p);
        for (Eigen::Index c = 0; c < D; ++c) v += at(q, c) * coef.row(p + 1 + c);
        for (Eigen::Index j = 0; j < p; ++j) v += spline_kernel<D>((from.row(j) - at.row(q)).squaredNorm()) * coef.row(j);
        out.row(q) = v;
    }
    return out;
}

// The complete specimens superimposed and put back at their own sizes, and
// their mean (the reference).
template <int D>
struct Reference {
    std::vector<std::size_t> complete;
    std::vector<PointsOf<D>> scaled;
    PointsOf<D> mean;
};

template <int D>
Reference<D> reference_of(const std::vector<PointsOf<D>>& x, bool to_optimum) {
    Reference<D> r;
    std::vector<PointsOf<D>> full;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (present_rows(x[i]).size() == static_cast<std::size_t>(x[i].rows())) {
            r.complete.push_back(i);
            full.push_back(x[i]);
        }
    PartialOptions o;
    o.principal_axes = false;
    o.to_optimum = to_optimum;
    if (to_optimum) o.max_iterations = 10000;
    const PartialResultOf<D> gpa = partial_procrustes(full, o);
    r.mean = PointsOf<D>::Zero(x.front().rows(), D);
    for (std::size_t j = 0; j < full.size(); ++j) {
        r.scaled.push_back(gpa.projected[j] * gpa.sizes[j]);
        r.mean += r.scaled.back();
    }
    r.mean /= static_cast<double>(full.size());
    return r;
}

// A configuration as one vector: every x, then every y (then every z).
template <int D>
Eigen::VectorXd flat(const PointsOf<D>& x) {
    return Eigen::Map<const Eigen::VectorXd>(x.data(), x.size());
}

// The regression of the missing coordinates (`miss`, indexes into the flat
// vector) on the present ones (`have`) over the complete specimens (rows of
// `data`), applied to the present coordinates `x`.
Eigen::VectorXd regress(const Eigen::MatrixXd& data, const std::vector<Eigen::Index>& have, const std::vector<Eigen::Index>& miss,
                        const Eigen::VectorXd& x, const std::string& specimen, int dimensions) {
    const Eigen::MatrixXd v = data.transpose() * data;
    Eigen::MatrixXd cross(have.size(), miss.size()), xx(data.rows(), have.size()), yy(data.rows(), miss.size());
    for (std::size_t a = 0; a < have.size(); ++a) {
        xx.col(static_cast<Eigen::Index>(a)) = data.col(have[a]);
        for (std::size_t b = 0; b < miss.size(); ++b)
            cross(static_cast<Eigen::Index>(a), static_cast<Eigen::Index>(b)) = v(have[a], miss[b]);
    }
    for (std::size_t b = 0; b < miss.size(); ++b) yy.col(static_cast<Eigen::Index>(b)) = data.col(miss[b]);
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(cross, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const Eigen::MatrixXd& u = svd.matrixU();
    const Eigen::MatrixXd& w = svd.matrixV();
    Eigen::MatrixXd design(data.rows(), u.cols() + 1);
    design.col(0).setOnes();
    design.rightCols(u.cols()) = xx * u;
    const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design);
    if (qr.rank() < design.cols())
        throw QuillanError("specimen " + specimen + ": the complete specimens do not determine the regression of its " +
                           std::to_string(miss.size() / static_cast<std::size_t>(dimensions)) +
                           " missing landmarks on its present ones");
    const Eigen::MatrixXd beta = qr.solve(yy * w);
    Eigen::RowVectorXd scores(u.cols() + 1);
    scores(0) = 1;
    scores.tail(u.cols()) = x.transpose() * u;
    return ((scores * beta) * w.transpose()).transpose();
}

template <int D>
void estimate_by_spline(const std::vector<PointsOf<D>>& x, const Reference<D>& ref, EstimationOf<D>& e,
                        const std::function<std::string(std::size_t)>& name) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto rows = present_rows(x[i]);
        if (rows.size() == static_cast<std::size_t>(x[i].rows())) continue;
        e.working[i] = spline_map(rows_of(ref.mean, rows), rows_of(x[i], rows), ref.mean, name(i));
        for (Eigen::Index r = 0; r < x[i].rows(); ++r)
            if (!std::binary_search(rows.begin(), rows.end(), r)) e.filled[i].row(r) = e.working[i].row(r);
    }
}

// The specimen's present landmarks, centred and turned onto the reference's;
// `centre` and `g` take them back.
template <int D>
PointsOf<D> aligned_on(const PointsOf<D>& ref, const PointsOf<D>& x, const std::vector<Eigen::Index>& rows, Point<D>& centre,
                       Eigen::Matrix<double, D, D>& g) {
    const PointsOf<D> mine = rows_of(x, rows);
    centre = mine.colwise().mean();
    const PointsOf<D> target = rows_of(ref, rows);
    const PointsOf<D> centred_target = target.rowwise() - target.colwise().mean();
    g = rotation_onto(centred_target, PointsOf<D>(mine.rowwise() - centre));
    return (mine.rowwise() - centre) * g;
}

template <int D>
void estimate_by_regression(const std::vector<PointsOf<D>>& x, const Reference<D>& ref, EstimationOf<D>& e,
                            const std::function<std::string(std::size_t)>& name) {
    const Eigen::Index p = x.front().rows();
    Eigen::MatrixXd data(static_cast<Eigen::Index>(ref.complete.size()), D * p);
    for (std::size_t j = 0; j < ref.complete.size(); ++j) {
        data.row(static_cast<Eigen::Index>(j)) = flat(ref.scaled[j]).transpose();
        e.working[ref.complete[j]] = ref.scaled[j];
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto rows = present_rows(x[i]);
        if (rows.size() == static_cast<std::size_t>(p)) continue;
        Point<D> centre;
        Eigen::Matrix<double, D, D> g;
        const PointsOf<D> aligned = aligned_on(ref.mean, x[i], rows, centre, g);
        std::vector<Eigen::Index> have, miss;
        for (Eigen::Index c = 0; c < D * p; ++c) (std::binary_search(rows.begin(), rows.end(), c % p) ? have : miss).push_back(c);
        const Eigen::VectorXd predicted = regress(data, have, miss, flat(aligned), name(i), D);
        PointsOf<D> w = PointsOf<D>::Constant(p, D, std::nan(""));
        for (std::size_t r = 0; r < rows.size(); ++r) w.row(rows[r]) = aligned.row(static_cast<Eigen::Index>(r));
        for (std::size_t b = 0; b < miss.size(); ++b) w(miss[b] % p, miss[b] / p) = predicted(static_cast<Eigen::Index>(b));
        e.working[i] = w;
        // Back into the specimen's own frame: undo the rotation and the centring.
        for (Eigen::Index r = 0; r < p; ++r)
            if (!std::binary_search(rows.begin(), rows.end(), r)) e.filled[i].row(r) = w.row(r) * g.transpose() + centre;
    }
}

template <int D>
void require_enough(const std::vector<PointsOf<D>>& x, EstimateMethod method, int complete,
                    const std::function<std::string(std::size_t)>& name) {
    const int p = static_cast<int>(x.front().rows());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int present = static_cast<int>(present_rows(x[i]).size());
        if (present == p) continue;
        if (present < fewest_present(method, D))
            throw QuillanError("specimen " + name(i) + " has " + std::to_string(present) +
                               " landmarks present; estimating needs at least " + std::to_string(fewest_present(method, D)));
        if (complete < fewest_complete(method, present, p, D))
            throw QuillanError("specimen " + name(i) + ": estimating its " + std::to_string(p - present) +
                               " missing landmarks needs at least " + std::to_string(fewest_complete(method, present, p, D)) +
                               " complete specimens, and there are " + std::to_string(complete));
    }
}

template <int D>
EstimationOf<D> estimated(const std::vector<PointsOf<D>>& x, EstimateMethod method,
                          const std::function<std::string(std::size_t)>& name, bool to_optimum) {
    EstimationOf<D> e;
    e.filled = x;
    e.working = x;
    if (x.empty()) return e;
    int complete = 0;
    for (const auto& c : x) complete += present_rows(c).size() == static_cast<std::size_t>(c.rows()) ? 1 : 0;
    require_enough(x, method, complete, name);
    if (complete == static_cast<int>(x.size())) return e;
    const Reference<D> ref = reference_of(x, to_optimum);
    if (method == EstimateMethod::ThinPlateSpline) estimate_by_spline(x, ref, e, name);
    else estimate_by_regression(x, ref, e, name);
    return e;
}

}  // namespace

// The spline needs its affine part determined (three points in the plane,
// four in space); the regression a rotation onto the reference.
int fewest_present(EstimateMethod method, int dimensions) {
    return method == EstimateMethod::ThinPlateSpline ? dimensions + 1 : dimensions;
}

int fewest_complete(EstimateMethod method, int present, int p, int dimensions) {
    if (method == EstimateMethod::ThinPlateSpline) return 2;
    return std::max(2, dimensions * std::min(present, p - present) + 1);
}

Estimation estimate_missing(const std::vector<Config>& x, EstimateMethod method,
                            const std::function<std::string(std::size_t)>& name, bool to_optimum) {
    return estimated(x, method, name, to_optimum);
}

Estimation3 estimate_missing(const std::vector<Config3>& x, EstimateMethod method,
                             const std::function<std::string(std::size_t)>& name, bool to_optimum) {
    return estimated(x, method, name, to_optimum);
}

}  // namespace quillan
