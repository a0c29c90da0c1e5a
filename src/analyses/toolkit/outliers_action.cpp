// "RunOutliers": each specimen's Procrustes distance from the mean shape,
// sorted, and the specimens beyond the upper quartile plus 1.5
// interquartile ranges flagged as possible digitising errors.
#include "analyses/analyses.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/outliers.hpp"
#include "analyses/toolkit/shape_inputs.hpp"

#include <algorithm>

namespace quillan {

namespace {

std::string set_text(const ActionEnv& env, const OutlierSet& s, const GroupFactor* g) {
    std::string text = "\n";
    if (g)
        text +=
            "Group " + g->names[static_cast<std::size_t>(s.group)] + " (" + std::to_string(s.specimens.size()) + " specimens)\n";
    text += "Lower quartile " + shown(s.lower_quartile) + ", median " + shown(s.median) + ", upper quartile " +
            shown(s.upper_quartile) + ", limit " + shown(s.upper_limit) + "\n";
    text += "Flagged: ";
    if (s.flagged.empty()) text += "none";
    for (std::size_t k = 0; k < s.flagged.size(); ++k) text += (k ? ", " : "") + specimen_name(env, s.flagged[k]);
    // The text ranks each set's specimens by distance; the record keeps one
    // model a specimen in the file's order (record_outliers), which scripts
    // read by name, so this table is the text's alone.
    ReportTable ranks({{"rank", 6}, {"specimen", 16, true, "", false, 2}, {"distance", 12}});
    for (std::size_t k = 0; k < s.specimens.size(); ++k) {
        const bool flagged = s.distances[k] >= s.upper_limit;
        ranks.row("",
                  {ReportTable::words(std::to_string(k + 1)), ReportTable::words(specimen_name(env, s.specimens[k])),
                   ReportTable::number(s.distances[k])},
                  flagged ? "  *" : "");
    }
    return text + "\n\n" + ranks.text();
}

void record_outliers(ActionEnv& env, const OutlierResult& r, const GroupFactor* g) {
    for (const OutlierSet& s : r.sets)
        env.record()
            .model(g ? "G1 " + g->names[static_cast<std::size_t>(s.group)] : "all specimens")
            .set("specimens", static_cast<double>(s.specimens.size()))
            .set("lower_quartile", s.lower_quartile)
            .set("median", s.median)
            .set("upper_quartile", s.upper_quartile)
            .set("limit", s.upper_limit)
            .set("flagged", static_cast<double>(s.flagged.size()));
    for (std::size_t i = 0; i < r.distance.size(); ++i) {
        bool flagged = false;
        for (const OutlierSet& s : r.sets)
            flagged = flagged || std::find(s.flagged.begin(), s.flagged.end(), static_cast<int>(i)) != s.flagged.end();
        env.record()
            .model(specimen_name(env, static_cast<int>(i)))
            .set("specimen", static_cast<double>(i + 1))
            .set("distance", r.distance[i])
            .set("flagged", flagged ? 1 : 0);
    }
}

// The numbers of the pictures: every set's sorted distances with its limit,
// and the farthest flagged specimen (the farthest of all when none is
// flagged) beside the mean of its set.
OutliersFigure outliers_figure(const ActionEnv& env, const Eigen::MatrixXd& shapes, const OutlierResult& r,
                               const GroupFactor* g) {
    OutliersFigure f;
    f.within_groups = g != nullptr;
    for (Eigen::Index i = 0; i < shapes.rows(); ++i) f.names.push_back(specimen_name(env, static_cast<int>(i)));
    const OutlierSet* home = nullptr;
    for (const OutlierSet& s : r.sets)
        f.sets.push_back({g ? g->names[static_cast<std::size_t>(s.group)] : std::string(), s.specimens, s.distances,
                          s.upper_limit, s.flagged});
    const auto pick = [&](bool flagged_only) {
        for (const OutlierSet& s : r.sets) {
            const std::vector<int>& c = flagged_only ? s.flagged : s.specimens;
            if (!c.empty() && (f.farthest < 0 || r.distance[static_cast<std::size_t>(c.front())] >
                                                     r.distance[static_cast<std::size_t>(f.farthest)])) {
                f.farthest = c.front();
                home = &s;
            }
        }
    };
    pick(true);
    f.farthest_flagged = f.farthest >= 0;
    if (!f.farthest_flagged) pick(false);
    if (home) {
        Eigen::RowVectorXd mean = Eigen::RowVectorXd::Zero(shapes.cols());
        for (int i : home->specimens) mean += shapes.row(i);
        f.beside_mean = {mean / static_cast<double>(home->specimens.size()), shapes.row(f.farthest), env.ws().dimensions};
    }
    return f;
}

}  // namespace

void run_outliers(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const bool within = env.settings().flag("within-groups");
    GroupFactor g;
    if (within) g = first_grouping(env);
    if (within)
        require_group_sizes(g, 3,
                            "an outlier screen within groups needs: the distances of one or two specimens from their own "
                            "mean are all equal, so the rule would flag every one of them.");
    const OutlierResult r = find_outliers(shapes, within ? g.codes : std::vector<int>{});
    std::string text = shape_report_head(env, "Outliers: each specimen's Procrustes distance from the mean shape");
    text +=
        within ? "Distances from the mean of each specimen's own group of G1\n" : "Distances from the mean of all specimens\n";
    text += "Flagged (*): a distance at least the upper quartile plus 1.5 times the interquartile range\n";
    for (const OutlierSet& s : r.sets) text += set_text(env, s, within ? &g : nullptr);
    record_outliers(env, r, within ? &g : nullptr);
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.outliers = outliers_figure(env, shapes, r, within ? &g : nullptr);
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
