// What the pictures of the shape analyses are drawn from.  Each action hands
// its numbers to the run's recorder (PermutationRecorder::keep_figures)
// beside its report, so the window and quillan-batch --plots draw exactly
// what the report says: plain numbers and names, no drawing.  Titles and
// names say "G1" where the group factor is meant; the pictures put the
// factor's own name in its place where an import named it.
#pragma once

#include <Eigen/Dense>

#include <optional>
#include <string>
#include <vector>

namespace quillan {

// The groups of G1 that colour the points; empty names: one group.
struct FigureGroups {
    std::vector<std::string> names;
    std::vector<int> group_of;  // per specimen, 0-based
};

// Two shapes as rows of dk coordinates: a shape picture draws the change
// from `from` to `to` (the change scaled by the magnification chosen).
struct FigureShapes {
    Eigen::RowVectorXd from, to;
    int dimensions = 2;
};

struct OutliersFigure {
    struct Set {
        std::string group;              // empty: every specimen
        std::vector<int> specimens;     // 0-based, farthest first
        std::vector<double> distances;  // beside `specimens`
        double limit = 0;               // upper quartile + 1.5 interquartile ranges
        std::vector<int> flagged;       // 0-based, as the report flags them
    };
    std::vector<Set> sets;
    std::vector<std::string> names;  // every specimen's name, as the report gives it
    bool within_groups = false;
    // The specimen drawn beside the mean of its set: the farthest flagged,
    // or the farthest of all when none is flagged.
    int farthest = -1;
    bool farthest_flagged = false;
    FigureShapes beside_mean;  // from the mean to the specimen
};

struct DisparityFigure {
    struct Pair {
        int a = 0, b = 0;  // 0-based groups
        double p = 1;
    };
    std::vector<std::string> groups;
    std::vector<double> variance;
    std::vector<Pair> pairs;
};

struct CvaFigure {
    FigureGroups groups;
    Eigen::MatrixXd scores;       // specimens x (one or two) variates
    std::vector<double> percent;  // each variate's share of the eigenvalues
    FigureShapes along_first;     // from the mean to the shape at the highest CV1 score
};

struct PlsFigure {
    std::string title;           // what the blocks are ("Integration: ... of modules A and B")
    std::string block1, block2;  // the axes' names
    std::vector<double> x, y;    // each specimen's first-axis scores
    double r = 0;                // their correlation (r-PLS)
    FigureGroups groups;
};

struct SymmetryFigure {
    std::string sides;               // "side 1 minus side 2"
    FigureShapes directional;        // from the mean shape to the mean plus the directional asymmetry
    FigureShapes fluctuating;        // from the mean shape along the first axis of the individual x side component
    double fluctuating_percent = 0;  // of that component's variance on the axis
};

// Each specimen in the first two principal components of the shapes, the
// replicates of one subject to be joined in replicate order.
struct MeasurementErrorFigure {
    std::vector<double> x, y;
    std::vector<double> percent;          // the two components' shares of the variance
    std::vector<int> subject, replicate;  // 0-based, per specimen
    std::vector<std::string> replicates;  // the replicates' names
};

// Phenotypic trajectories in the first two principal components of their
// points: each group's points in level order.
struct TrajectoryFigure {
    std::vector<std::string> groups, points;
    std::vector<Eigen::MatrixXd> scores;  // per group: a row per point, PC1 and PC2
    std::vector<double> percent;          // each component's share of the points' variance
};

// The allometry scores of each specimen against its (logged) size.
struct AllometryFigure {
    std::string size;  // the axis's name: "log(C_size)"
    std::vector<double> x;
    struct Score {
        std::string name, file;  // "CAC", "allometry-cac"
        std::vector<double> y;
    };
    std::vector<Score> scores;
    FigureGroups groups;
};

// The phylomorphospace: tips and inner nodes in two components, each node
// joined to its parent along the tree's branches.
struct PhylomorphospaceFigure {
    std::string axis;             // the components' name on the axes ("PC", "phylogenetic PC", "PaC")
    std::vector<double> percent;  // each component's share
    std::vector<std::string> tips;
    Eigen::MatrixXd tip_scores, node_scores;  // a row a tip (a node, the root first); two columns
    std::vector<int> tip_parent;              // per tip, its parent's row of node_scores
    std::vector<int> node_parent;             // per node, its parent's row (-1 for the root)
    // The levels that colour the tips, per tip; empty names: one colour.
    // `factor` names what they are levels of; empty: G1.
    FigureGroups groups;
    std::string factor;
};

struct ToolkitFigures {
    std::optional<OutliersFigure> outliers;
    std::optional<DisparityFigure> disparity;
    std::optional<CvaFigure> cva;
    std::vector<PlsFigure> pls;  // one per pair of blocks
    std::optional<SymmetryFigure> symmetry;
    std::optional<MeasurementErrorFigure> measurement_error;
    std::optional<TrajectoryFigure> trajectory;
    std::optional<AllometryFigure> allometry;
    std::optional<PhylomorphospaceFigure> phylomorphospace;
};

}  // namespace quillan
