#include "analyses/linear_models/trajectories.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillan {

namespace {

const ModelVariable& factor_named(const ModelDesign& d, const std::string& name) {
    for (const auto& v : d.variables)
        if (v.name == name && v.is_factor()) return v;
    throw Refused("The trajectories' \"" + name + "\" is no factor of their model.");
}

// The first principal axis of a trajectory's points about their centre,
// pointed from the first point towards the last.  It is the leading
// eigenvector of the points' small Gram matrix, taken back to the variables.
Eigen::VectorXd principal_axis(const Eigen::MatrixXd& t) {
    const Eigen::MatrixXd c = t.rowwise() - t.colwise().mean();
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(c * c.transpose());
    Eigen::VectorXd axis = c.transpose() * eig.eigenvectors().col(c.rows() - 1);
    if (const double norm = axis.norm(); norm > 0) axis /= norm;
    if (axis.dot(t.row(t.rows() - 1) - t.row(0)) < 0) axis = -axis;
    return axis;
}

// The trajectories centred, scaled to unit size and each turned onto their
// mean (the mean of the unturned ones), as one rotation without reflection
// from the singular value decomposition of the cross-product with the mean.
// Where the points span fewer dimensions than there are variables, the
// trajectories are first written in an orthonormal basis of their rows; the
// rotation there is the one of the variables restricted to them, and a
// reflection can always be undone in the dimensions left over, so only in
// the variables themselves is the sign of the rotation fixed.
std::vector<Eigen::MatrixXd> turned_trajectories(const std::vector<Eigen::MatrixXd>& trajectories) {
    const auto groups = static_cast<Eigen::Index>(trajectories.size());
    const Eigen::Index t = trajectories.front().rows(), v = trajectories.front().cols();
    Eigen::MatrixXd stacked(groups * t, v);
    for (Eigen::Index j = 0; j < groups; ++j) {
        const Eigen::MatrixXd c =
            trajectories[static_cast<std::size_t>(j)].rowwise() - trajectories[static_cast<std::size_t>(j)].colwise().mean();
        const double size = c.norm();
        stacked.middleRows(j * t, t) = size > 0 ? Eigen::MatrixXd(c / size) : c;
    }
    const bool reduced = v > groups * t;
    if (reduced) {
        const Eigen::HouseholderQR<Eigen::MatrixXd> qr(stacked.transpose());
        stacked = qr.matrixQR().topRows(groups * t).triangularView<Eigen::Upper>().toDenseMatrix().transpose();
    }
    Eigen::MatrixXd mean = Eigen::MatrixXd::Zero(t, stacked.cols());
    for (Eigen::Index j = 0; j < groups; ++j) mean += stacked.middleRows(j * t, t);
    mean /= static_cast<double>(groups);
    std::vector<Eigen::MatrixXd> out;
    for (Eigen::Index j = 0; j < groups; ++j) {
        const auto y = stacked.middleRows(j * t, t);
        const Eigen::JacobiSVD<Eigen::MatrixXd> svd(mean.transpose() * y, Eigen::ComputeFullU | Eigen::ComputeFullV);
        Eigen::MatrixXd u = svd.matrixU();
        if (!reduced && u.determinant() * svd.matrixV().determinant() < 0) u.col(u.cols() - 1) *= -1;
        out.push_back(y * svd.matrixV() * u.transpose());
    }
    return out;
}

std::string pair_name(const std::vector<std::string>& groups, std::size_t a, std::size_t b) {
    return groups[a] + " and " + groups[b];
}

struct TrajectoryScratch : TableCompanion::Work {
    std::unique_ptr<TableCompanion::Work> rows;
    std::vector<Eigen::MatrixXd> trajectories;
};

}  // namespace

void trajectory_statistics(const std::vector<Eigen::MatrixXd>& trajectories, bool angles, bool shapes, double* stats,
                           double* lengths) {
    const std::size_t groups = trajectories.size();
    std::vector<double> length(groups, 0.0);
    std::vector<Eigen::VectorXd> axes;
    for (std::size_t j = 0; j < groups; ++j) {
        const Eigen::MatrixXd& t = trajectories[j];
        for (Eigen::Index i = 1; i < t.rows(); ++i) length[j] += (t.row(i) - t.row(i - 1)).norm();
        if (angles) axes.push_back(principal_axis(t));
    }
    if (lengths) std::copy(length.begin(), length.end(), lengths);
    std::vector<Eigen::MatrixXd> turned;
    if (shapes) turned = turned_trajectories(trajectories);
    int s = 0;
    for (std::size_t a = 0; a < groups; ++a)
        for (std::size_t b = a + 1; b < groups; ++b) {
            stats[s++] = std::fabs(length[a] - length[b]);
            if (angles) stats[s++] = std::acos(std::clamp(axes[a].dot(axes[b]), -1.0, 1.0)) * 180 / std::numbers::pi;
            if (shapes) stats[s++] = (turned[a] - turned[b]).norm();
        }
}

TrajectoryComparisons::TrajectoryComparisons(const Eigen::MatrixXd& shapes, const ModelDesign& design,
                                             const TrajectoryLayout& layout)
    : rows_(shapes, design, SsType::I, layout.points > 0 ? layout.group : layout.group + ":" + layout.level,
            PairwiseMeans::LeastSquares),
      cells_(layout.points == 0) {
    const ModelVariable& group = factor_named(design, layout.group);
    groups_ = group.levels;
    const auto variables = static_cast<Eigen::Index>(shapes.cols());
    if (cells_) {
        const ModelVariable& level = factor_named(design, layout.level);
        points_ = level.levels;
        width_ = variables;
        for (const auto& g : groups_)
            for (const auto& l : points_)
                if (std::find(rows_.groups().begin(), rows_.groups().end(), g + "." + l) == rows_.groups().end())
                    throw Refused("The group \"" + g + "\" of " + layout.group + " has no specimen at the level \"" + l +
                                  "\" of " + layout.level + ": every trajectory needs a point at every level.");
    } else {
        if (variables % layout.points != 0)
            throw Refused("The " + std::to_string(variables) + " variables of each specimen do not split into " +
                          std::to_string(layout.points) + " points of equal width (--points).");
        for (int p = 1; p <= layout.points; ++p) points_.push_back(std::to_string(p));
        width_ = variables / layout.points;
    }
    for (Eigen::Index g = 0; g < rows_.sizes().size(); ++g)
        if (rows_.sizes()(g) < 2)
            throw Refused("The trajectory point \"" + rows_.groups()[static_cast<std::size_t>(g)] +
                          "\" has a single specimen: every point needs more than one.");
    if (groups_.size() < 2) throw Refused("Trajectories are compared in pairs: " + layout.group + " has a single group.");
    if (points_.size() < 2) throw Refused("A trajectory needs two points or more; these have one.");
    angles_ = width_ > 1;
    shapes_ = points_.size() > 2;
    const std::size_t pairs = groups_.size() * (groups_.size() - 1) / 2;
    observed_.resize(pairs * (1 + (angles_ ? 1 : 0) + (shapes_ ? 1 : 0)));
    std::vector<Eigen::MatrixXd> t;
    split(rows_.observed(), t);
    trajectory_statistics(t, angles_, shapes_, observed_.data());
}

TrajectoryComparisons::~TrajectoryComparisons() = default;

// The rows are the groups' means: the cells in order of group, then level,
// or one row a group holding its points one after the other.
void TrajectoryComparisons::split(const Eigen::MatrixXd& rows, std::vector<Eigen::MatrixXd>& out) const {
    const auto points = static_cast<Eigen::Index>(points_.size());
    out.resize(groups_.size());
    for (Eigen::Index g = 0; g < static_cast<Eigen::Index>(groups_.size()); ++g) {
        Eigen::MatrixXd& t = out[static_cast<std::size_t>(g)];
        t.resize(points, width_);
        for (Eigen::Index i = 0; i < points; ++i)
            if (cells_) t.row(i) = rows.row(g * points + i);
            else t.row(i) = rows.row(g).segment(i * width_, width_);
    }
}

std::vector<std::string> TrajectoryComparisons::names() const {
    std::vector<std::string> names;
    for (std::size_t a = 0; a < groups_.size(); ++a)
        for (std::size_t b = a + 1; b < groups_.size(); ++b) {
            const std::string pair = "Trajectories of " + pair_name(groups_, a, b);
            names.push_back(pair + ": difference of path lengths");
            if (angles_) names.push_back(pair + ": angle (degrees)");
            if (shapes_) names.push_back(pair + ": shape difference");
        }
    return names;
}

std::unique_ptr<TableCompanion::Work> TrajectoryComparisons::work() const {
    auto w = std::make_unique<TrajectoryScratch>();
    w->rows = rows_.work();
    return w;
}

void TrajectoryComparisons::statistics(const std::vector<int>& perm, const CellSums* cells, std::size_t last,
                                       CellSums::Scratch* moved, Work& work, double* stats) const {
    auto& s = static_cast<TrajectoryScratch&>(work);
    split(rows_.permuted(perm, cells, last, moved, *s.rows), s.trajectories);
    trajectory_statistics(s.trajectories, angles_, shapes_, stats);
}

TrajectoryResult TrajectoryComparisons::result(const CompanionCounts& counts, long long nperm) const {
    TrajectoryResult out;
    out.groups = groups_;
    out.points = points_;
    out.angles = angles_;
    out.shapes = shapes_;
    out.nperm = nperm;
    split(rows_.observed(), out.trajectories);
    out.path_lengths.resize(groups_.size());
    std::vector<double> stats(observed_.size());
    trajectory_statistics(out.trajectories, angles_, shapes_, stats.data(), out.path_lengths.data());
    std::size_t s = 0;
    const auto next = [&] {
        const PairwiseTest t = test_of(observed_[s], counts.count_ge[s], counts.z[s], nperm);
        ++s;
        return t;
    };
    for (std::size_t a = 0; a < groups_.size(); ++a)
        for (std::size_t b = a + 1; b < groups_.size(); ++b) {
            TrajectoryPair pair{groups_[a], groups_[b], next(), {}, {}};
            if (angles_) pair.angle = next();
            if (shapes_) pair.shape = next();
            out.pairs.push_back(pair);
        }
    return out;
}

}  // namespace quillan
