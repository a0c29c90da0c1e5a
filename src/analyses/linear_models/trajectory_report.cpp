#include "analyses/linear_models/trajectory_report.hpp"

#include "analyses/toolkit/shape_inputs.hpp"

#include <algorithm>

namespace quillan {

namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

PairsTable pairs_table(const TrajectoryResult& r) {
    std::vector<PairColumns> statistics{{"|dL|", "length_difference", "%.6g", "Pr > |dL|", 11}};
    if (r.angles) statistics.push_back({"angle", "angle", "%.4f", "Pr > angle", 11, 0, 2});
    if (r.shapes) statistics.push_back({"shape", "shape_difference", "%.6g", "Pr > shape", 11, 0, 2});
    PairsTable table(r.groups, statistics);
    for (const auto& p : r.pairs) {
        std::vector<PairwiseTest> tests{p.length};
        if (r.angles) tests.push_back(p.angle);
        if (r.shapes) tests.push_back(p.shape);
        table.add("Trajectories " + p.first + " - " + p.second, p.first, p.second, tests);
    }
    return table;
}

ReportTable path_table(const TrajectoryResult& r) {
    std::size_t w = 6;
    for (const auto& g : r.groups) w = std::max(w, g.size() + 1);
    ReportTable table({{"", w, true}, {"path length", 13, false, "path_length"}});
    for (std::size_t g = 0; g < r.groups.size(); ++g)
        table.row("Trajectory " + r.groups[g], {ReportTable::words(r.groups[g]), ReportTable::as("%.6g", r.path_lengths[g])});
    return table;
}

std::string pairs_text(const TrajectoryResult& r) {
    std::string text = "\nPairwise comparisons of the trajectories\n\n" + pairs_table(r).text();
    text += "\n|dL|: the absolute difference of the path lengths\n";
    if (r.angles)
        text +=
            "angle: degrees between the trajectories' first principal axes, each pointed from its first point "
            "towards its last\n";
    if (r.shapes)
        text +=
            "shape: the distance between the trajectories at unit size, each turned onto the mean of all of them "
            "(so it depends on the other trajectories too)\n";
    return text;
}

}  // namespace

void record_trajectories(ActionEnv& env, const ModelTable& table, const TrajectoryResult& r) {
    model_anova_table(table, "ANOVA ").record(env.record());
    path_table(r).record(env.record());
    pairs_table(r).record(env.record(), r.nperm);
}

std::string trajectory_report(const ActionEnv& env, const TrajectoryLayout& layout, bool as_loaded, const ModelTable& table,
                              const TrajectoryResult& r) {
    const bool cells = layout.points == 0;
    const std::string title = cells ? "Phenotypic trajectories of " + layout.group + " across the levels of " + layout.level +
                                          ": least-squares means of " + layout.group + " * " + layout.level
                                    : "Phenotypic trajectories of " + layout.group + ": " + std::to_string(layout.points) +
                                          " points in each specimen's variables, averaged within the groups";
    std::string text = shape_report_head(env, title);
    if (as_loaded) {
        text.erase(text.rfind("\nShape: ") + 1);
        text += "Shape: the coordinates as loaded, not superimposed\n";
    }
    text += "Permutations: " + std::to_string(table.nperm) +
            ", randomized residuals of each term's reduced model (RRPP); the trajectories' on those of the model "
            "without its last term\nEffect sizes (Z); p = (permutations at least the observed + 1) / (permutations + 1)\n\n";
    text += model_anova_table(table).text();
    text += "\nTrajectories: " + std::to_string(r.groups.size()) + ", each of " + std::to_string(r.points.size()) + " points (" +
            joined(r.points) + ")\n\n";
    text += path_table(r).text();
    return text + pairs_text(r);
}

}  // namespace quillan
