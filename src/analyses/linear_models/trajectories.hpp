// Phenotypic trajectories, as RRPP's trajectory.analysis measures them: each
// group's path through shape space, its points the least-squares means of
// the cells of a group x level model (the levels in order), or points that
// every specimen carries in its own variables (a motion path, a growth
// series of shapes), then averaged within the group.  Three attributes are
// compared between every pair of trajectories:
//
// - size: the path length, the sum of the distances between consecutive
//   points, and the absolute difference of two lengths;
// - direction: the angle (degrees) between the first principal axes of the
//   centred trajectories, each axis pointed from the first point towards
//   the last, so that the angle does not depend on the arbitrary sign a
//   singular value decomposition gives it;
// - shape (three points or more): every trajectory centred and scaled to
//   unit size, turned once (no reflection, no iteration) onto the unit-size
//   mean of all of them as they were before turning, then the distance
//   between two turned trajectories.  The mean is that of every
//   trajectory, so a pair's shape difference depends on the others.
//
// Each statistic is tested on the permutations of the model's table, which
// move the residuals of the model without its last term; the turned
// trajectories of a permutation are turned onto that permutation's own mean.
#pragma once

#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/model_pairwise.hpp"

#include <Eigen/Dense>

#include <memory>
#include <string>
#include <vector>

namespace quillan {

// How the trajectories are read from the model's groups: the cells of
// `group` x `level` (levels the points), or, when `points` is above 0, the
// groups of `group` with each specimen's variables split into `points`
// points of equal width, the first variables the first point.
struct TrajectoryLayout {
    std::string group, level;
    int points = 0;
};

struct TrajectoryPair {
    std::string first, second;
    PairwiseTest length;  // absolute difference of path lengths
    PairwiseTest angle;   // degrees, between first principal axes
    PairwiseTest shape;   // distance between the turned trajectories
};

struct TrajectoryResult {
    std::vector<std::string> groups, points;
    std::vector<Eigen::MatrixXd> trajectories;  // per group: a row per point
    std::vector<double> path_lengths;
    bool angles = false;  // points of more than one variable
    bool shapes = false;  // three points or more
    std::vector<TrajectoryPair> pairs;
    long long nperm = 0;
};

// The statistics of one set of trajectories (each a row per point), in the
// order the comparisons record them: per pair the difference of lengths,
// then, as `angles` and `shapes` say, the angle and the shape difference.
// `lengths` receives each path's length.
void trajectory_statistics(const std::vector<Eigen::MatrixXd>& trajectories, bool angles, bool shapes, double* stats,
                           double* lengths = nullptr);

// The trajectories of a model's groups, and their comparisons on the
// permutations of the model's table (a TableCompanion).  Refused, with the
// group or cell named, when the layout does not give every group the same
// points with more than one specimen at each.
class TrajectoryComparisons : public TableCompanion {
public:
    TrajectoryComparisons(const Eigen::MatrixXd& shapes, const ModelDesign& design, const TrajectoryLayout& layout);
    ~TrajectoryComparisons() override;
    const std::vector<double>& observed() const override { return observed_; }
    std::vector<std::string> names() const override;
    std::unique_ptr<Work> work() const override;
    void statistics(const std::vector<int>& perm, const CellSums* cells, std::size_t last, CellSums::Scratch* moved, Work& work,
                    double* stats) const override;
    TrajectoryResult result(const CompanionCounts& counts, long long nperm) const;

private:
    void split(const Eigen::MatrixXd& rows, std::vector<Eigen::MatrixXd>& out) const;

    GroupRows rows_;
    std::vector<std::string> groups_, points_;
    bool cells_ = false, angles_ = false, shapes_ = false;
    Eigen::Index width_ = 0;  // variables of a point
    std::vector<double> observed_;
};

}  // namespace quillan
