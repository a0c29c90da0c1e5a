#include "analyses/toolkit/pls_report.hpp"

#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "platform/error.hpp"

namespace quillan {

std::string pls_method_text(long long nperm) {
    return "Permutations: " + std::to_string(nperm) +
           " (the rows of the first block shuffled); Z: effect size of r-PLS among them; p = (permutations with r-PLS at "
           "least the observed + 1) / (permutations + 1)\n";
}

namespace {

// Each axis's singular value, share of the covariance and r.
ReportTable axes_table(const PlsResult& r) {
    ReportTable table({{"axis", 6},
                       {"singular value", 16, false, "singular_value"},
                       {"% covariance", 14, false, "percent"},
                       {"r", 10, false, "r"}});
    for (std::size_t j = 0; j < r.axes.size(); ++j)
        table.row("", {ReportTable::words(std::to_string(j + 1)), ReportTable::number(r.axes[j].singular_value),
                       ReportTable::number(r.axes[j].percent, true), ReportTable::number(r.axes[j].r, true)});
    return table;
}

}  // namespace

std::string pls_text(const PlsResult& r) {
    return "r-PLS " + shown(r.r_pls, true) + ", Z = " + shown(r.z, true) + ", p = " + shown(r.p, true) + "\n\n" +
           axes_table(r).text();
}

void record_pls(ActionEnv& env, const PlsResult& r, const std::string& name, long long nperm) {
    RecordedModel& m = env.record().model(name);
    m.set("r_pls", r.r_pls).set("Z", r.z).set("p", r.p).test("r-PLS", r.r_pls, r.count_ge, r.count_ge, nperm, r.p, false);
    axes_table(r).record_into(m,
                              [](std::size_t j, const std::string& key) { return "axis " + std::to_string(j + 1) + " " + key; });
}

void name_integration_statistics(ActionEnv& env, const std::vector<std::string>& labels, const std::string& title) {
    PermutationRecorder* recorder = env.options().recorder;
    if (!recorder) return;
    std::vector<std::string> names;
    for (std::size_t a = 0; a < labels.size(); ++a)
        for (std::size_t b = a + 1; b < labels.size(); ++b)
            names.push_back(title + ": r-PLS of modules " + labels[a] + " and " + labels[b]);
    names.push_back(title + ": mean r-PLS");
    recorder->name_statistics(0, names, PValueRule::ReachedWithObserved);
}

std::string integration_text(ActionEnv& env, const IntegrationResult& r, const std::vector<std::string>& labels,
                             const IntegrationWords& words) {
    const long long nperm = r.nperm;
    const auto label = [&](int m) { return labels[static_cast<std::size_t>(m)]; };
    std::string text;
    for (std::size_t k = 0; k < r.pairs.size(); ++k) {
        const std::string a = label(r.pairs[k].first), b = label(r.pairs[k].second);
        text += "\nModules " + a + " and " + b + "\n" + pls_text(r.pls[k]);
        record_pls(env, r.pls[k], "modules " + a + " - " + b, nperm);
    }
    if (r.pairs.size() > 1) {
        text += "\nMean r-PLS of the " + std::to_string(r.pairs.size()) + " pairs: " + shown(r.mean_r, true) +
                ", Z = " + shown(r.z, true) + ", p = " + shown(r.p, true) + "\n";
        env.record()
            .model("mean of the pairs")
            .set("r_pls", r.mean_r)
            .set("Z", r.z)
            .set("p", r.p)
            .test("mean r-PLS", r.mean_r, r.count_ge, r.count_ge, nperm, r.p, false);
    }
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        for (std::size_t k = 0; k < r.pairs.size(); ++k) {
            const std::string a = label(r.pairs[k].first), b = label(r.pairs[k].second);
            figures.pls.push_back(pls_figure(r.pls[k], words.title + ": first PLS axis of modules " + a + " and " + b,
                                             "Module " + a, "Module " + b, words.groups));
        }
        recorder->keep_figures(figures);
    }
    return text;
}

}  // namespace quillan

namespace quillan {

PlsFigure pls_figure(const PlsResult& r, const std::string& title, const std::string& block1, const std::string& block2,
                     const FigureGroups& groups) {
    PlsFigure f;
    f.title = title;
    f.block1 = block1;
    f.block2 = block2;
    if (r.x_scores.cols() > 0 && r.y_scores.cols() > 0) {
        f.x.assign(r.x_scores.col(0).data(), r.x_scores.col(0).data() + r.x_scores.rows());
        f.y.assign(r.y_scores.col(0).data(), r.y_scores.col(0).data() + r.y_scores.rows());
    }
    f.r = r.axes.empty() ? 0.0 : r.axes.front().r;
    f.groups = groups;
    return f;
}

FigureGroups figure_groups(ActionEnv& env) {
    // The colours are a courtesy: a group file that does not fit the
    // specimens leaves the points in one colour rather than failing the run.
    if (env.ws().groups.rows() != env.ws().landmarks.rows()) return {};
    try {
        const GroupFactor g = first_grouping(env);
        return {g.names, g.codes};
    } catch (const QuillanError&) {
        return {};
    }
}

}  // namespace quillan
