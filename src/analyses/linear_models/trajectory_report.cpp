#include "analyses/linear_models/trajectory_report.hpp"

#include "analyses/toolkit/shape_inputs.hpp"

#include <algorithm>

namespace quillan {

namespace {

std::string test_cells(const PairwiseTest& t, const char* format) {
    return padded(formatted(format, t.observed), 11) + padded(formatted("%.4f", t.z), 9) + padded(formatted("%.4g", t.p), 11);
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

std::string pairs_text(const TrajectoryResult& r) {
    std::size_t w = 6;
    for (const auto& g : r.groups) w = std::max(w, g.size() + 1);
    std::string text = "\nPairwise comparisons of the trajectories\n\n" + padded("", 2 * w + 1) + padded("|dL|", 11) +
                       padded("Z", 9) + padded("Pr > |dL|", 11);
    if (r.angles) text += "  " + padded("angle", 11) + padded("Z", 9) + padded("Pr > angle", 11);
    if (r.shapes) text += "  " + padded("shape", 11) + padded("Z", 9) + padded("Pr > shape", 11);
    text += "\n";
    for (const auto& p : r.pairs) {
        text += padded(p.first, w, true) + " " + padded(p.second, w, true) + test_cells(p.length, "%.6g");
        if (r.angles) text += "  " + test_cells(p.angle, "%.4f");
        if (r.shapes) text += "  " + test_cells(p.shape, "%.6g");
        text += "\n";
    }
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
    std::vector<std::string> names;
    for (const auto& t : table.terms) names.push_back(t.label);
    names.push_back("Residuals");
    record_model_table(env, table, names, "ANOVA ");
    ResultRecord& rec = env.record();
    for (std::size_t g = 0; g < r.groups.size(); ++g)
        rec.model("Trajectory " + r.groups[g]).set("path_length", r.path_lengths[g]);
    const auto put = [&](RecordedModel& m, const char* what, const PairwiseTest& t) {
        m.set(what, t.observed).set(std::string(what) + "_Z", t.z).set(std::string(what) + "_p", t.p);
        m.test(what, t.observed, t.count_ge, t.count_ge, r.nperm, t.p, false);
    };
    for (const auto& p : r.pairs) {
        RecordedModel& m = rec.model("Trajectories " + p.first + " - " + p.second);
        put(m, "length_difference", p.length);
        if (r.angles) put(m, "angle", p.angle);
        if (r.shapes) put(m, "shape_difference", p.shape);
    }
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
    text += model_table_text(table);
    text += "\nTrajectories: " + std::to_string(r.groups.size()) + ", each of " + std::to_string(r.points.size()) + " points (" +
            joined(r.points) + ")\n\n";
    std::size_t w = 6;
    for (const auto& g : r.groups) w = std::max(w, g.size() + 1);
    text += padded("", w) + padded("path length", 13) + "\n";
    for (std::size_t g = 0; g < r.groups.size(); ++g)
        text += padded(r.groups[g], w, true) + padded(formatted("%.6g", r.path_lengths[g]), 13) + "\n";
    return text + pairs_text(r);
}

}  // namespace quillan
