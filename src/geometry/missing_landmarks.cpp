#include "geometry/missing_landmarks.hpp"

#include "platform/error.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace quillan {

namespace {

std::vector<Eigen::Index> present_rows(const Config& x) {
    std::vector<Eigen::Index> rows;
    for (Eigen::Index i = 0; i < x.rows(); ++i)
        if (std::isfinite(x(i, 0)) && std::isfinite(x(i, 1))) rows.push_back(i);
    return rows;
}

Config rows_of(const Config& x, const std::vector<Eigen::Index>& rows) {
    Config out(static_cast<Eigen::Index>(rows.size()), 2);
    for (std::size_t r = 0; r < rows.size(); ++r) out.row(static_cast<Eigen::Index>(r)) = x.row(rows[r]);
    return out;
}

// r^2 log r^2, the kernel of the mapping spline (0 at r = 0).
double spline_kernel(double r2) { return r2 > 0 ? r2 * std::log(r2) : 0.0; }

// The thin-plate spline taking `from` onto `to`, evaluated at `at`.
Config spline_map(const Config& from, const Config& to, const Config& at, const std::string& specimen) {
    const Eigen::Index p = from.rows();
    Eigen::MatrixXd l = Eigen::MatrixXd::Zero(p + 3, p + 3);
    for (Eigen::Index i = 0; i < p; ++i) {
        for (Eigen::Index j = 0; j < p; ++j) l(i, j) = spline_kernel((from.row(i) - from.row(j)).squaredNorm());
        l(i, p) = l(p, i) = 1;
        l(i, p + 1) = l(p + 1, i) = from(i, 0);
        l(i, p + 2) = l(p + 2, i) = from(i, 1);
    }
    Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(p + 3, 2);
    rhs.topRows(p) = to;
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(l);
    if (!lu.isInvertible())
        throw QuillanError("specimen " + specimen +
                           ": its present landmarks lie on a line (or on the reference's), so no spline maps onto them");
    const Eigen::MatrixXd coef = lu.solve(rhs);
    Config out(at.rows(), 2);
    for (Eigen::Index q = 0; q < at.rows(); ++q) {
        Eigen::RowVector2d v = coef.row(p) + at(q, 0) * coef.row(p + 1) + at(q, 1) * coef.row(p + 2);
        for (Eigen::Index j = 0; j < p; ++j) v += spline_kernel((from.row(j) - at.row(q)).squaredNorm()) * coef.row(j);
        out.row(q) = v;
    }
    return out;
}

// The complete specimens superimposed and put back at their own sizes, and
// their mean (the reference).
struct Reference {
    std::vector<std::size_t> complete;
    std::vector<Config> scaled;
    Config mean;
};

Reference reference_of(const std::vector<Config>& x) {
    Reference r;
    std::vector<Config> full;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (present_rows(x[i]).size() == static_cast<std::size_t>(x[i].rows())) {
            r.complete.push_back(i);
            full.push_back(x[i]);
        }
    PartialOptions o;
    o.principal_axes = false;
    const PartialResult gpa = partial_procrustes(full, o);
    r.mean = Config::Zero(x.front().rows(), 2);
    for (std::size_t j = 0; j < full.size(); ++j) {
        r.scaled.push_back(gpa.projected[j] * gpa.sizes[j]);
        r.mean += r.scaled.back();
    }
    r.mean /= static_cast<double>(full.size());
    return r;
}

// A configuration as one vector: every x, then every y.
Eigen::VectorXd flat(const Config& x) {
    Eigen::VectorXd v(2 * x.rows());
    v << x.col(0), x.col(1);
    return v;
}

// The regression of the missing coordinates (`miss`, indexes into the flat
// vector) on the present ones (`have`) over the complete specimens (rows of
// `data`), applied to the present coordinates `x`.
Eigen::VectorXd regress(const Eigen::MatrixXd& data, const std::vector<Eigen::Index>& have, const std::vector<Eigen::Index>& miss,
                        const Eigen::VectorXd& x, const std::string& specimen) {
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
                           std::to_string(miss.size() / 2) + " missing landmarks on its present ones");
    const Eigen::MatrixXd beta = qr.solve(yy * w);
    Eigen::RowVectorXd scores(u.cols() + 1);
    scores(0) = 1;
    scores.tail(u.cols()) = x.transpose() * u;
    return ((scores * beta) * w.transpose()).transpose();
}

void estimate_by_spline(const std::vector<Config>& x, const Reference& ref, Estimation& e,
                        const std::function<std::string(std::size_t)>& name) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto rows = present_rows(x[i]);
        if (rows.size() == static_cast<std::size_t>(x[i].rows())) continue;
        e.working[i] = spline_map(rows_of(ref.mean, rows), rows_of(x[i], rows), ref.mean, name(i));
        for (Eigen::Index r = 0; r < x[i].rows(); ++r)
            if (!std::binary_search(rows.begin(), rows.end(), r)) e.filled[i].row(r) = e.working[i].row(r);
    }
}

void estimate_by_regression(const std::vector<Config>& x, const Reference& ref, Estimation& e,
                            const std::function<std::string(std::size_t)>& name) {
    const Eigen::Index p = x.front().rows();
    Eigen::MatrixXd data(static_cast<Eigen::Index>(ref.complete.size()), 2 * p);
    for (std::size_t j = 0; j < ref.complete.size(); ++j) {
        data.row(static_cast<Eigen::Index>(j)) = flat(ref.scaled[j]).transpose();
        e.working[ref.complete[j]] = ref.scaled[j];
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto rows = present_rows(x[i]);
        if (rows.size() == static_cast<std::size_t>(p)) continue;
        const Config mine = rows_of(x[i], rows);
        const Eigen::RowVector2d centre = mine.colwise().mean();
        const Config target = rows_of(ref.mean, rows);
        const Config centred_target = target.rowwise() - target.colwise().mean();
        const Eigen::Matrix2d g = rotation_onto(centred_target, mine.rowwise() - centre);
        const Config aligned = (mine.rowwise() - centre) * g;
        std::vector<Eigen::Index> have, miss;
        for (Eigen::Index c = 0; c < 2 * p; ++c) (std::binary_search(rows.begin(), rows.end(), c % p) ? have : miss).push_back(c);
        Eigen::VectorXd xv(static_cast<Eigen::Index>(have.size()));
        xv << aligned.col(0), aligned.col(1);
        const Eigen::VectorXd predicted = regress(data, have, miss, xv, name(i));
        Config w = Config::Constant(p, 2, std::nan(""));
        for (std::size_t r = 0; r < rows.size(); ++r) w.row(rows[r]) = aligned.row(static_cast<Eigen::Index>(r));
        for (std::size_t b = 0; b < miss.size(); ++b) w(miss[b] % p, miss[b] / p) = predicted(static_cast<Eigen::Index>(b));
        e.working[i] = w;
        // Back into the specimen's own frame: undo the rotation and the centring.
        for (Eigen::Index r = 0; r < p; ++r)
            if (!std::binary_search(rows.begin(), rows.end(), r)) e.filled[i].row(r) = w.row(r) * g.transpose() + centre;
    }
}

}  // namespace

int fewest_present(EstimateMethod method) { return method == EstimateMethod::ThinPlateSpline ? 3 : 2; }

int fewest_complete(EstimateMethod method, int present, int p) {
    if (method == EstimateMethod::ThinPlateSpline) return 2;
    return std::max(2, 2 * std::min(present, p - present) + 1);
}

Estimation estimate_missing(const std::vector<Config>& x, EstimateMethod method,
                            const std::function<std::string(std::size_t)>& name) {
    Estimation e;
    e.filled = x;
    e.working = x;
    if (x.empty()) return e;
    const int p = static_cast<int>(x.front().rows());
    int complete = 0;
    for (const auto& c : x) complete += present_rows(c).size() == static_cast<std::size_t>(p) ? 1 : 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int present = static_cast<int>(present_rows(x[i]).size());
        if (present == p) continue;
        if (present < fewest_present(method))
            throw QuillanError("specimen " + name(i) + " has " + std::to_string(present) +
                               " landmarks present; estimating needs at least " + std::to_string(fewest_present(method)));
        if (complete < fewest_complete(method, present, p))
            throw QuillanError("specimen " + name(i) + ": estimating its " + std::to_string(p - present) +
                               " missing landmarks needs at least " + std::to_string(fewest_complete(method, present, p)) +
                               " complete specimens, and there are " + std::to_string(complete));
    }
    if (complete == static_cast<int>(x.size())) return e;
    const Reference ref = reference_of(x);
    if (method == EstimateMethod::ThinPlateSpline) estimate_by_spline(x, ref, e, name);
    else estimate_by_regression(x, ref, e, name);
    return e;
}

}  // namespace quillan
