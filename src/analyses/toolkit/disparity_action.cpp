// "RunDisparity": the Procrustes variance of each group of G1 about the
// fitted shapes of a model (--formula: ~ 1 by default, ~ cov, ~ G1, ...),
// and the absolute difference of every pair of groups with its
// permutation p-value.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/linear_models/model_design.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/disparity.hpp"
#include "analyses/toolkit/shape_inputs.hpp"

#include <algorithm>

namespace quillan {

namespace {

std::string model_formula(const ModelRequest& q) {
    std::string f = q.formula;
    if (const auto tilde = f.find('~'); tilde != std::string::npos) f = f.substr(tilde + 1);
    f.erase(0, f.find_first_not_of(" \t"));
    f.erase(f.find_last_not_of(" \t") + 1);
    return f.empty() ? "1" : f;
}

// A group of one specimen has no spread of its own: a difference from it is
// not starred, whatever its p.
bool single(const DisparityResult& r, int group) { return r.sizes[static_cast<std::size_t>(group)] == 1; }

// The two tables of the report and of its record: each group's variance,
// then every pair's difference with its p (starred at 0.05 or less).
std::string disparity_tables(ActionEnv& env, const DisparityResult& r, const GroupFactor& g) {
    using T = ReportTable;
    std::size_t w = 8;
    for (const auto& name : g.names) w = std::max(w, name.size() + 2);
    T groups({{"group", w, true}, {"n", 6, false, "specimens"}, {"variance", 14, false, "procrustes_variance"}});
    for (std::size_t k = 0; k < g.names.size(); ++k)
        groups.row(
            "G1 " + g.names[k],
            {T::words(g.names[k]), {std::to_string(r.sizes[k]), static_cast<double>(r.sizes[k])}, T::number(r.variance[k])});
    T pairs({{"", w, true}, {"", w, true}, {"difference", 14, false, "difference"}, {"p", 10, false, "p"}});
    for (const DisparityPair& p : r.pairs) {
        const std::string& a = g.names[static_cast<std::size_t>(p.a)];
        const std::string& b = g.names[static_cast<std::size_t>(p.b)];
        pairs.row("G1 " + a + " - " + b, {T::words(a), T::words(b), T::number(p.difference), T::number(p.p, true)},
                  p.p <= 0.05 && !single(r, p.a) && !single(r, p.b) ? "  *" : "");
    }
    groups.record(env.record());
    pairs.record(env.record(), [&](std::size_t i, RecordedModel& m) {
        const DisparityPair& p = r.pairs[i];
        m.test("absolute difference of variances", p.difference, p.count_ge, p.count_ge, r.nperm, p.p, false);
    });
    return "\n" + groups.text() + "\nPairwise absolute differences\n\n" + pairs.text();
}

}  // namespace

void run_disparity(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const GroupFactor g = first_grouping(env, 2);
    tell_single_specimen_groups(env, g,
                                "its variance is one specimen's squared distance from the model's fit (0 where the model "
                                "fits each group's mean), not a spread, so no difference from it is starred.");
    const long long nperm = read_nperm(env);
    const std::string formula = model_formula(env.model_request());
    const auto n = static_cast<int>(shapes.rows());
    const Eigen::MatrixXd x =
        formula == "1" ? Eigen::MatrixXd(Eigen::MatrixXd::Ones(n, 1)) : build_design(formula, env.model_variables(), n).x;
    if (PermutationRecorder* recorder = env.options().recorder) {
        std::vector<std::string> names;
        for (std::size_t a = 0; a < g.names.size(); ++a)
            for (std::size_t b = a + 1; b < g.names.size(); ++b)
                names.push_back("Disparity: absolute difference of the variances of " + g.names[a] + " and " + g.names[b]);
        recorder->name_statistics(0, names, PValueRule::ReachedWithObserved);
    }
    PermutationEngine engine(env.options(), &env.console());
    const DisparityResult r = disparity_test(engine, squared_residuals(shapes, x), g.codes, nperm);
    std::string text = shape_report_head(env, "Disparity: Procrustes variance of each group of G1");
    text += "Model whose residuals are measured: ~ " + formula + (formula == "1" ? " (about the grand mean)" : "") +
            "\nPermutations: " + std::to_string(nperm) +
            " (the squared residual distances shuffled among the groups); p = (permutations with a difference at least the "
            "observed + 1) / (permutations + 1); * p <= 0.05\n";
    text += disparity_tables(env, r, g);
    if (PermutationRecorder* recorder = env.options().recorder) {
        DisparityFigure f{g.names, r.variance, {}};
        for (const DisparityPair& p : r.pairs)  // no bracket joins a group of one
            if (!single(r, p.a) && !single(r, p.b)) f.pairs.push_back({p.a, p.b, p.p});
        ToolkitFigures figures;
        figures.disparity = std::move(f);
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
