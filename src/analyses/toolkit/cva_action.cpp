// "RunCva": canonical variates of the groups of G1, the Mahalanobis and
// Procrustes distances between the group means with permutation p-values,
// and the classification of the specimens, by resubstitution and
// cross-validated (each left out in turn).
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/shape_inputs.hpp"

#include <algorithm>

namespace quillan {

namespace {

using T = ReportTable;

std::size_t name_width(const GroupFactor& g) {
    std::size_t w = 8;
    for (const auto& name : g.names) w = std::max(w, name.size() + 2);
    return w;
}

// The two tables the report and the record share: the variates'
// eigenvalues, and the distances of every pair of group means.
struct CvaTables {
    ReportTable variates, pairs;
};

CvaTables cva_tables(const CvaResult& r, const GroupFactor& g) {
    CvaTables t{T({{"variate", 9, true}, {"eigenvalue", 14, false, "eigenvalue"}, {"% of total", 12, false, "percent"}}),
                T({{"", name_width(g), true},
                   {"", name_width(g), true},
                   {"Mahalanobis", 14, false, "mahalanobis"},
                   {"p", 10, false, "mahalanobis_p"},
                   {"Procrustes", 14, false, "procrustes"},
                   {"p", 10, false, "procrustes_p"}})};
    const double total = r.eigenvalues.sum();
    for (Eigen::Index v = 0; v < r.eigenvalues.size(); ++v) {
        const std::string name = std::string("CV") + std::to_string(v + 1);
        t.variates.row(name, {T::words(name), T::number(r.eigenvalues(v)), T::number(100 * r.eigenvalues(v) / total, true)});
    }
    for (const CvaPair& p : r.pairs) {
        const std::string& a = g.names[static_cast<std::size_t>(p.a)];
        const std::string& b = g.names[static_cast<std::size_t>(p.b)];
        t.pairs.row("G1 " + a + " - " + b, {T::words(a), T::words(b), T::number(p.mahalanobis), T::number(p.mahalanobis_p, true),
                                            T::number(p.procrustes), T::number(p.procrustes_p, true)});
    }
    return t;
}

// The shape change along each variate and the tables of classification are
// the text's alone: the record keeps each specimen's scores and classes.
std::string shape_change_text(const CvaResult& r, int dimensions) {
    std::vector<T::Column> columns{{"", 10, true}};
    for (Eigen::Index v = 0; v < r.shape_change.cols(); ++v) columns.push_back({"CV" + std::to_string(v + 1), 12});
    T table(std::move(columns));
    for (Eigen::Index c = 0; c < r.shape_change.rows(); ++c) {
        std::vector<T::Cell> cells{T::words(std::string(1, "xyz"[c % dimensions]) + std::to_string(c / dimensions + 1))};
        for (Eigen::Index v = 0; v < r.shape_change.cols(); ++v) cells.push_back(T::number(r.shape_change(c, v)));
        table.row("", std::move(cells));
    }
    return std::string("\nShape change per unit of each variate's score (") + (dimensions == 3 ? "x, y and z" : "x and y") +
           " of each landmark)\n\n" + table.text();
}

std::string confusion_text(const Classification& c, const GroupFactor& g, const std::string& title) {
    const std::size_t w = name_width(g);
    std::vector<T::Column> columns{{"true \\ given", w + 4, true}};
    for (const auto& name : g.names) columns.push_back({name, w});
    T table(std::move(columns));
    for (Eigen::Index t = 0; t < c.confusion.rows(); ++t) {
        std::vector<T::Cell> cells{T::words(g.names[static_cast<std::size_t>(t)])};
        for (Eigen::Index p = 0; p < c.confusion.cols(); ++p) cells.push_back(T::words(std::to_string(c.confusion(t, p))));
        table.row("", std::move(cells));
    }
    return "\n" + title + ": " + shown(c.percent_correct, true) + "% correct\n\n" + table.text();
}

void record_cva(ActionEnv& env, const CvaResult& r, const CvaTables& t, const GroupFactor& g, bool cv) {
    ResultRecord& rec = env.record();
    rec.set("components", r.components).set("resubstitution_percent_correct", r.resubstitution.percent_correct);
    if (cv) rec.set("cross_validated_percent_correct", r.cross_validated.percent_correct);
    t.variates.record(rec);
    t.pairs.record(rec, [&](std::size_t i, RecordedModel& m) {
        const CvaPair& p = r.pairs[i];
        m.test("Mahalanobis distance", p.mahalanobis, p.mahalanobis_ge, p.mahalanobis_ge, r.nperm, p.mahalanobis_p, false)
            .test("Procrustes distance", p.procrustes, p.procrustes_ge, p.procrustes_ge, r.nperm, p.procrustes_p, false);
    });
    for (Eigen::Index i = 0; i < r.scores.rows(); ++i) {
        RecordedModel& m = rec.model(specimen_name(env, static_cast<int>(i)));
        m.set("group", g.codes[static_cast<std::size_t>(i)] + 1);
        for (Eigen::Index v = 0; v < r.scores.cols(); ++v) m.set(std::string("CV") + std::to_string(v + 1), r.scores(i, v));
        m.set("classified", r.resubstitution.predicted[static_cast<std::size_t>(i)] + 1);
        for (std::size_t k = 0; k < g.names.size(); ++k)
            m.set("posterior " + g.names[k], r.resubstitution.posterior(i, static_cast<Eigen::Index>(k)));
        if (!cv) continue;
        m.set("cross_validated", r.cross_validated.predicted[static_cast<std::size_t>(i)] + 1);
        for (std::size_t k = 0; k < g.names.size(); ++k)
            m.set("cross_validated posterior " + g.names[k], r.cross_validated.posterior(i, static_cast<Eigen::Index>(k)));
    }
}

// CV1 against CV2 (CV1 alone for two groups) and the shape at the highest
// CV1 score, for the pictures.
CvaFigure cva_figure(const Eigen::MatrixXd& shapes, const CvaResult& r, const GroupFactor& g, int dimensions) {
    CvaFigure f;
    f.groups = {g.names, g.codes};
    f.scores = r.scores.leftCols(std::min<Eigen::Index>(2, r.scores.cols()));
    for (Eigen::Index v = 0; v < f.scores.cols(); ++v) f.percent.push_back(100 * r.eigenvalues(v) / r.eigenvalues.sum());
    const Eigen::RowVectorXd mean = shapes.colwise().mean();
    if (r.scores.cols() > 0)
        f.along_first = {mean, mean + r.scores.col(0).maxCoeff() * r.shape_change.col(0).transpose(), dimensions};
    return f;
}

}  // namespace

void run_cva(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const GroupFactor g = first_grouping(env, 2);
    const bool cv = !env.settings().flag("no-cross-validate");
    for (std::size_t k = 0; cv && k < g.sizes.size(); ++k)
        if (g.sizes[k] < 2)
            throw Refused("Group " + g.names[k] +
                          " of G1 has a single specimen, which cannot be left out of its own group in the cross-validation "
                          "(or run without it).");
    tell_single_specimen_groups(env, g,
                                "its mean is that specimen, it adds nothing to the pooled within-group covariance, and "
                                "its distances and their p say how far that one specimen lies from the other groups' means.");
    const long long nperm = read_nperm(env);
    if (PermutationRecorder* recorder = env.options().recorder) {
        std::vector<std::string> names;
        for (const char* what : {"Mahalanobis", "Procrustes"})
            for (std::size_t a = 0; a < g.names.size(); ++a)
                for (std::size_t b = a + 1; b < g.names.size(); ++b)
                    names.push_back(std::string("Canonical variates: ") + what + " distance of " + g.names[a] + " and " +
                                    g.names[b]);
        recorder->name_statistics(0, names, PValueRule::ReachedWithObserved);
    }
    PermutationEngine engine(env.options(), &env.console());
    const CvaResult r = canonical_variates(engine, shapes, g.codes, {.nperm = nperm, .cross_validate = cv});
    std::string text = shape_report_head(env, "Canonical variates and discriminant analysis of the groups of G1");
    text += "Computed on the " + std::to_string(r.components) +
            " principal components of non-zero variance (singular value above 1e-10 of the largest); "
            "priors in proportion to the groups' sizes\n";
    text += "Permutations: " + std::to_string(nperm) +
            " (the groups shuffled over the specimens, the pooled covariance recomputed); p = (permutations with a "
            "distance at least the observed + 1) / (permutations + 1)\n";
    const CvaTables tables = cva_tables(r, g);
    text += "\n" + tables.variates.text() + shape_change_text(r, env.ws().dimensions) +
            "\nDistances between the group means\n\n" + tables.pairs.text();
    text += confusion_text(r.resubstitution, g, "Classification by resubstitution");
    if (cv) text += confusion_text(r.cross_validated, g, "Cross-validated classification (each specimen left out in turn)");
    record_cva(env, r, tables, g, cv);
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.cva = cva_figure(shapes, r, g, env.ws().dimensions);
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
