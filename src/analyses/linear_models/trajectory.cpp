// "RunTrajectory": phenotypic trajectories.  The trajectories are the
// least-squares means of the cells of the model group * level (--group,
// --level: G1 and G2 by default, or any factor of an import), or, with
// --points p, the means of each group's specimens whose variables hold p
// points each; the model's ANOVA table, each path's length and the
// pairwise comparisons of the paths (trajectories.hpp) follow, all on the
// table's permutations.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/linear_models/trajectories.hpp"
#include "analyses/linear_models/trajectory_report.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "platform/error.hpp"

#include <algorithm>

namespace quillan {

namespace {

// Every group needs a point at every level: refused, naming the first
// group and level without a specimen, before the model's design (which
// would offer to leave the interaction out).
void require_every_cell(const ModelVariable& group, const ModelVariable& level) {
    std::vector<char> seen(group.levels.size() * level.levels.size(), 0);
    for (std::size_t i = 0; i < group.codes.size(); ++i)
        seen[static_cast<std::size_t>(group.codes[i]) * level.levels.size() + static_cast<std::size_t>(level.codes[i])] = 1;
    for (std::size_t c = 0; c < seen.size(); ++c)
        if (!seen[c])
            throw Refused("The group \"" + group.levels[c / level.levels.size()] + "\" of " + group.name +
                          " has no specimen at the level \"" + level.levels[c % level.levels.size()] + "\" of " + level.name +
                          ": every trajectory needs a point at every level.");
}

// The model of the trajectories over the factors alone.  The formula is
// written over stand-in names, which any column's name may not be, and the
// design then takes the columns' own names back for its table.
ModelDesign trajectory_design(const ModelVariables& vars, const TrajectoryLayout& layout, int n) {
    ModelVariables used{factor_named(vars, layout.group, "group factor")};
    if (layout.points == 0) {
        if (layout.level == layout.group)
            throw Refused("The group and level factors are both \"" + layout.group + "\": name two factors.");
        used.push_back(factor_named(vars, layout.level, "level factor"));
    }
    if (used.size() > 1) require_every_cell(used[0], used[1]);
    const std::vector<std::string> names{used[0].name, used.size() > 1 ? used[1].name : ""};
    used[0].name = "group";
    if (used.size() > 1) used[1].name = "level";
    ModelDesign d = build_design(used.size() > 1 ? "group * level" : "group", used, n);
    for (std::size_t v = 0; v < d.variables.size(); ++v) {
        const std::string& own = d.variables[v].name == "group" ? names[0] : names[1];
        d.formula.variables[v].name = own;
        d.variables[v].name = own;
    }
    return d;
}

// The trajectories' points in the first two principal components of all of
// them (each point one observation), for the picture.
TrajectoryFigure trajectory_figure(const TrajectoryResult& r) {
    TrajectoryFigure f{r.groups, r.points, {}, {}};
    const Eigen::Index t = r.trajectories.front().rows(), v = r.trajectories.front().cols();
    Eigen::MatrixXd all(static_cast<Eigen::Index>(r.trajectories.size()) * t, v);
    for (std::size_t g = 0; g < r.trajectories.size(); ++g)
        all.middleRows(static_cast<Eigen::Index>(g) * t, t) = r.trajectories[g];
    const Eigen::RowVectorXd mean = all.colwise().mean();
    all.rowwise() -= mean;
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(all, Eigen::ComputeThinV);
    Eigen::MatrixXd axes = Eigen::MatrixXd::Zero(v, 2);
    const Eigen::Index kept = std::min<Eigen::Index>(2, svd.matrixV().cols());
    axes.leftCols(kept) = svd.matrixV().leftCols(kept);
    const double total = svd.singularValues().squaredNorm();
    for (Eigen::Index c = 0; c < 2; ++c)
        f.percent.push_back(c < kept && total > 0 ? 100 * svd.singularValues()(c) * svd.singularValues()(c) / total : 0);
    for (const auto& tr : r.trajectories) f.scores.push_back((tr.rowwise() - mean) * axes);
    return f;
}

TrajectoryLayout layout_of(const OptionValues& o) {
    TrajectoryLayout l{o.text("group"), o.text("level"), static_cast<int>(o.whole("points"))};
    if (o.whole("points") < 0 || o.whole("points") == 1 || o.whole("points") > 100000)
        throw Refused(
            "--points is the number of points of each specimen's trajectory: 2 or more (or 0, for the points of "
            "--level).");
    if (l.group.empty()) l.group = "G1";
    if (l.level.empty()) l.level = "G2";
    return l;
}

}  // namespace

void run_trajectory(ActionEnv& env) {
    const Matrix& landmarks = require_landmarks(env);
    const long long nperm = read_nperm(env);
    const OptionValues& o = env.settings();
    const TrajectoryLayout layout = layout_of(o);
    const bool as_loaded = o.choice_index("coordinates") == 1;
    const ModelDesign design = trajectory_design(env.model_variables(), layout, static_cast<int>(landmarks.rows()));
    if (as_loaded && size_corrected_asked(env))
        throw Refused(
            "--size-corrected corrects superimposed shapes; with --coordinates as-loaded the coordinates are "
            "taken as they are: give one or the other.");
    const Eigen::MatrixXd shapes = as_loaded ? Eigen::MatrixXd(landmarks.leftCols(landmarks.cols() - 1)) : aligned_shapes(env);
    if (as_loaded) require_shape_variation((shapes.rowwise() - shapes.colwise().mean()).squaredNorm(), shapes.rows());
    const TrajectoryComparisons comparisons(shapes, design, layout);
    PermutationEngine engine(env.options(), &env.console());
    const StreamIds loops = engine.take_streams(1);
    ModelTestOptions test;
    test.nperm = nperm;
    const ModelTable table = test_linear_model(engine, shapes, design, test, loops.at(0), &comparisons);
    const TrajectoryResult result = comparisons.result(table.companion, nperm);
    record_trajectories(env, table, result);
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.trajectory = trajectory_figure(result);
        recorder->keep_figures(figures);
    }
    env.set_report(trajectory_report(env, layout, as_loaded, table, result));
}

}  // namespace quillan
