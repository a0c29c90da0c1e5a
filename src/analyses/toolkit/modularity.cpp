#include "analyses/toolkit/modularity.hpp"

#include "analyses/degenerate.hpp"
#include "analyses/linear_models/linear_model.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace quillan {

namespace {

using Eigen::Index;
using Eigen::MatrixXd;

std::vector<int> per_coordinate(const std::vector<int>& module, int dimensions) {
    std::vector<int> out;
    for (int m : module)
        for (int d = 0; d < dimensions; ++d) out.push_back(m);
    return out;
}

// Row i of a matrix of cross-products added into the summed squares of the
// pairs of modules (ss, modules x modules, a row a module), its element on
// the diagonal left out.  Rows go in order and each row from its first
// column, so every sum takes its terms in one order, whichever way the rows
// were made.
void add_row_squares(const double* row, Index stride, Index columns, Index i, const int* coord_module, int modules, double* ss) {
    double* const own = ss + static_cast<std::ptrdiff_t>(coord_module[i]) * modules;
    for (Index j = 0; j < i; ++j) own[coord_module[j]] += row[j * stride] * row[j * stride];
    for (Index j = i + 1; j < columns; ++j) own[coord_module[j]] += row[j * stride] * row[j * stride];
}

// The covariance ratio from those sums: the mean over the pairs of modules
// of the root of their sum over the geometric mean of each one's own.
double ratio_of_squares(const std::vector<double>& ss, int modules, std::vector<double>* pairs) {
    const auto at = [&](int a, int b) {
        return ss[static_cast<std::size_t>(a) * static_cast<std::size_t>(modules) + static_cast<std::size_t>(b)];
    };
    double sum = 0;
    int count = 0;
    for (int a = 0; a < modules; ++a)
        for (int b = a + 1; b < modules; ++b, ++count) {
            const double cr = std::sqrt(at(a, b) / std::sqrt(at(a, a) * at(b, b)));
            if (pairs) pairs->push_back(cr);
            sum += cr;
        }
    return sum / count;
}

// A few rows of a turned matrix, each row's elements side by side.
using Band = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

template <int D>
Eigen::Matrix<double, D, D> turn_of(double degrees) {
    const double a = degrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    // (x, y, z) -> (x c + y s, -x s + y c, z), as a row vector times [c -s; s c] (and 1 for z)
    Eigen::Matrix<double, D, D> r = Eigen::Matrix<double, D, D>::Identity();
    r.template topLeftCorner<2, 2>() << c, -s, s, c;
    return r;
}

// The D rows of the cross-products of the centred coordinates from row i,
// after every specimen is turned by r in the plane of x and y (about z in
// space), into `band` (D x columns): each block of two landmarks turned as
// their coordinates are, as a matrix of fixed size.
template <int D>
void turn_band(const MatrixXd& cross, Index i, const Eigen::Matrix<double, D, D>& r, Band& band) {
    const Eigen::Matrix<double, D, D> rt = r.transpose();
    for (Index j = 0; j < cross.cols(); j += D) {
        const Eigen::Matrix<double, D, D> left = rt * cross.template block<D, D>(i, j);
        band.template block<D, D>(0, j) = left * r;
    }
}

// The whole matrix turned by `degrees`.
template <int D>
MatrixXd turned_blocks(const MatrixXd& cross, double degrees) {
    const Eigen::Matrix<double, D, D> r = turn_of<D>(degrees);
    MatrixXd out(cross.rows(), cross.cols());
    Band band(D, cross.cols());
    for (Index i = 0; i < cross.rows(); i += D) {
        turn_band<D>(cross, i, r, band);
        out.middleRows(i, D) = band;
    }
    return out;
}

// The covariance ratio of `cross` turned by `degrees`, a band of rows at a
// time, without the turned matrix: the search's 1,800 turns allocate
// nothing and give the bits covariance_ratio gives of turned_blocks.
template <int D>
double turned_ratio(const MatrixXd& cross, double degrees, const std::vector<int>& coord_module, int modules, Band& band,
                    std::vector<double>& ss) {
    const Eigen::Matrix<double, D, D> r = turn_of<D>(degrees);
    std::fill(ss.begin(), ss.end(), 0.0);
    for (Index i = 0; i < cross.rows(); i += D) {
        turn_band<D>(cross, i, r, band);
        for (Index k = 0; k < D; ++k)
            add_row_squares(&band(k, 0), 1, band.cols(), i + k, coord_module.data(), modules, ss.data());
    }
    return ratio_of_squares(ss, modules, nullptr);
}

MatrixXd turned_cross(const MatrixXd& cross, double degrees, int dimensions) {
    return dimensions == 3 ? turned_blocks<3>(cross, degrees) : turned_blocks<2>(cross, degrees);
}

// The angle of modularity.test's search: CR at every 0.05 degrees from 0
// to 89.95, and the first angle whose CR is nearest their average.  Each
// angle costs a pass over the cross-products (seconds in all for hundreds
// of landmarks), so each reports progress and may stop the action.
double search_angle(const PermutationEngine& engine, const MatrixXd& cross, const std::vector<int>& coord_module, int modules,
                    int dimensions) {
    std::vector<double> crs, ss(static_cast<std::size_t>(modules) * static_cast<std::size_t>(modules));
    Band band(dimensions, cross.cols());
    for (int step = 0; step < 1800; ++step) {
        engine.step(step, 1800);
        crs.push_back(dimensions == 3 ? turned_ratio<3>(cross, step * 0.05, coord_module, modules, band, ss)
                                      : turned_ratio<2>(cross, step * 0.05, coord_module, modules, band, ss));
    }
    double mean = 0;
    for (double v : crs) mean += v;
    mean /= static_cast<double>(crs.size());
    std::size_t best = 0;
    for (std::size_t k = 1; k < crs.size(); ++k)
        if (std::abs(crs[k] - mean) < std::abs(crs[best] - mean)) best = k;
    return static_cast<double>(best) * 0.05;
}

// The specimens turned together so that the principal axes of their mean
// lie along x, y (and z), each axis pointing to its positive side, the
// orientation geomorph's gpagen leaves them in by default (in space this
// may mirror them, as gpagen's turn does): CR depends on it.
MatrixXd on_principal_axes(const MatrixXd& shapes, int dimensions) {
    const Eigen::RowVectorXd mean = shapes.colwise().mean();
    MatrixXd m = mean.reshaped(dimensions, mean.size() / dimensions).transpose();
    m.rowwise() -= m.colwise().mean();
    const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(m.transpose() * m);
    MatrixXd rot = eig.eigenvectors().rowwise().reverse();
    for (Index i = 0; i < dimensions; ++i)
        if (rot(i, i) < 0) rot.col(i) *= -1;
    MatrixXd out(shapes.rows(), shapes.cols());
    for (Index l = 0; l < m.rows(); ++l)
        out.middleCols(dimensions * l, dimensions) = shapes.middleCols(dimensions * l, dimensions) * rot;
    return out;
}

void check_partition(const std::vector<int>& module, Index landmarks, int dimensions, Index columns) {
    if (static_cast<Index>(module.size()) != landmarks || landmarks * dimensions != columns)
        throw QuillanError("modularity_test: one module per landmark is needed");
    const int modules = module.empty() ? 0 : *std::max_element(module.begin(), module.end()) + 1;
    if (modules < 2) throw Refused("A modularity test needs a partition of the landmarks into at least two modules.");
    for (int m = 0; m < modules; ++m) {
        const auto size = std::count(module.begin(), module.end(), m);
        if (size < 2)
            throw Refused("Module " + std::to_string(m + 1) + " has " + std::to_string(size) +
                          " landmark(s); every module needs at least two.");
    }
}

// The cross-products of the centred coordinates, a band of columns at a
// time: for thousands of landmarks they take seconds, and each band may
// stop the action.  Refuses a module that does not vary.
MatrixXd module_cross_products(const PermutationEngine& engine, const MatrixXd& shapes, const std::vector<int>& coord_module,
                               int modules) {
    const MatrixXd centred = shapes.rowwise() - shapes.colwise().mean();
    MatrixXd cross(centred.cols(), centred.cols());
    constexpr Index kBand = 512;
    for (Index j = 0; j < cross.cols(); j += kBand) {
        engine.step(j, cross.cols());
        const Index w = std::min(kBand, cross.cols() - j);
        cross.middleCols(j, w).noalias() = centred.transpose() * centred.middleCols(j, w);
    }
    std::vector<double> module_ss(static_cast<std::size_t>(modules), 0.0);
    for (Index c = 0; c < cross.rows(); ++c)
        module_ss[static_cast<std::size_t>(coord_module[static_cast<std::size_t>(c)])] += cross(c, c);
    for (int m = 0; m < modules; ++m)
        require_varying_block(module_ss[static_cast<std::size_t>(m)], shapes.rows(), "Module " + std::to_string(m + 1));
    return cross;
}

struct ModularityState {
    std::vector<int> order, shuffled;
};

}  // namespace

double covariance_ratio(const MatrixXd& cross, const std::vector<int>& coord_module, int modules, std::vector<double>* pairs) {
    std::vector<double> ss(static_cast<std::size_t>(modules) * static_cast<std::size_t>(modules), 0.0);
    for (Index i = 0; i < cross.rows(); ++i)
        add_row_squares(&cross(i, 0), cross.outerStride(), cross.cols(), i, coord_module.data(), modules, ss.data());
    return ratio_of_squares(ss, modules, pairs);
}

ModularityResult modularity_test(PermutationEngine& engine, const MatrixXd& shapes, const std::vector<int>& module,
                                 int dimensions, const ModularityOptions& options, int loop) {
    check_partition(module, static_cast<Index>(module.size()), dimensions, shapes.cols());
    // Two specimens' covariances are those of one difference: every
    // partition has the same CR.
    require_specimens(shapes.rows(), 3, "A modularity test");
    const int modules = *std::max_element(module.begin(), module.end()) + 1;
    const MatrixXd turned = on_principal_axes(shapes, dimensions);
    const std::vector<int> coord_module = per_coordinate(module, dimensions);
    MatrixXd cross = module_cross_products(engine, turned, coord_module, modules);
    ModularityResult r;
    r.nperm = options.nperm;
    if (options.rotation_search) {
        r.rotation_searched = true;
        r.angle = search_angle(engine, cross, coord_module, modules, dimensions);
    }
    // A transformation of the rows commutes with the turn of each
    // landmark's coordinates: the cross-products of the transformed shapes
    // are turned as the shapes' own would be.
    if (options.rows_transform) cross = module_cross_products(engine, *options.rows_transform * turned, coord_module, modules);
    if (options.rotation_search) cross = turned_cross(cross, r.angle, dimensions);
    r.cr = covariance_ratio(cross, coord_module, modules, &r.pair_cr);
    if (!std::isfinite(r.cr)) throw Refused("A module does not vary among the specimens, so its covariance ratio is undefined.");
    for (int a = 0; a < modules; ++a)
        for (int b = a + 1; b < modules; ++b) r.pairs.emplace_back(a, b);
    const auto landmarks = static_cast<int>(module.size());
    const PermutationBody<ModularityState> body = [&](ModularityState& s, long long, Rng& rng, double* stats) {
        randperm(s.order, landmarks, rng);
        for (int l = 0; l < landmarks; ++l)
            for (int d = 0; d < dimensions; ++d)
                s.shuffled[static_cast<std::size_t>(l * dimensions + d)] =
                    module[static_cast<std::size_t>(s.order[static_cast<std::size_t>(l)])];
        stats[0] = covariance_ratio(cross, s.shuffled, modules);
        return false;
    };
    const PermutationResult res = engine.run<ModularityState>(
        options.nperm, {r.cr}, {Exceeds::Less},
        [&] {
            auto s = std::make_unique<ModularityState>();
            s->shuffled.resize(coord_module.size());
            return s;
        },
        body, loop, true);
    r.count_le = res.counts_ge[0];
    r.ties = res.counts_ge[0] - res.counts[0];
    // A random partition with the observed CR counts half, as geomorph's
    // rank of the observed value among them all (ties at their mean rank).
    r.p = (static_cast<double>(res.counts[0]) + 0.5 * static_cast<double>(r.ties) + 1) / (static_cast<double>(options.nperm) + 1);
    std::vector<double> values{r.cr};
    values.insert(values.end(), res.values.begin(), res.values.end());
    r.z = effect_size(std::move(values), EffectRecipe::Geomorph);
    return r;
}

}  // namespace quillan
