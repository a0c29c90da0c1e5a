// "RunModel": the Procrustes linear model of shape on a formula of the
// loaded factors and covariates, its ANOVA table by residual randomization
// and, when asked, pairwise comparisons of a factor's groups.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/model_pairwise.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/phylo/pgls.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace quillan {

namespace {

std::string default_formula(const Workspace& ws) {
    if (ws.groups.cols() >= 2) return "G1 * G2";
    if (ws.groups.cols() == 1) return "G1";
    if (ws.covariate.size() > 0) return "cov";
    throw Refused(
        "A linear model needs a formula (give one with --formula, for example \"G1 * G2\"), or a group file "
        "whose columns G1 and G2 it then takes.");
}

std::string trimmed(const std::string& s) {
    const auto a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// The error term of each term, from "pop:ind,Residuals" (one name a term,
// in the table's order); -1 is the residual mean square.
std::vector<int> error_terms(const std::string& text, const ModelDesign& d) {
    std::vector<int> out(d.terms(), -1);
    if (trimmed(text).empty()) return out;
    std::vector<std::string> names;
    std::string known = "Residuals";
    for (std::size_t t = 0; t < d.terms(); ++t) known += ", " + d.formula.label(t);
    for (std::size_t from = 0;;) {
        const std::size_t comma = text.find(',', from);
        names.push_back(trimmed(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (names.size() != d.terms())
        throw Refused("The error terms name " + std::to_string(names.size()) + " denominators, but the model has " +
                      std::to_string(d.terms()) + " terms: give one a term, in order, each one of: " + known + ".");
    for (std::size_t t = 0; t < names.size(); ++t) {
        if (names[t] == "Residuals") continue;
        std::size_t e = 0;
        while (e < d.terms() && d.formula.label(e) != names[t]) ++e;
        if (e == d.terms())
            throw Refused("The error term \"" + names[t] + "\" (for \"" + d.formula.label(t) +
                          "\") is no term of the model; the names known are: " + known + ".");
        if (e == t) throw Refused("The term \"" + names[t] + "\" cannot be its own error term.");
        out[t] = static_cast<int>(e);
    }
    return out;
}

const char* ss_name(SsType t) { return t == SsType::I ? "I" : t == SsType::II ? "II" : "III"; }

std::string model_report(const Workspace& ws, const std::string& formula, const ModelRequest& q, const ModelTable& t,
                         const ModelDesign& d, const std::string& size_words, const std::string& tree_words) {
    std::string text = std::string(tree_words.empty() ? "Procrustes" : "Phylogenetic (PGLS) Procrustes") +
                       " linear model of shape: " + formula + "\n";
    for (const std::string* info : {&ws.landmarks_info, &ws.groups_info, &ws.covariate_info})
        for (std::size_t from = 0; from < info->size();) {  // each file's line, without the blank lines around it
            const std::size_t end = std::min(info->find('\n', from), info->size());
            if (const std::string line = trimmed(info->substr(from, end - from)); !line.empty()) text += "   " + line + "\n";
            from = end + 1;
        }
    text += std::string("\nShape: ") + superimposition_words(q) + ", projected onto the tangent space at the consensus\n";
    text += size_words;
    text += tree_words;
    text += std::string("Sums of squares and cross-products: type ") + ss_name(q.ss_type) + "\n";
    text += std::string("Permutations: ") + std::to_string(t.nperm) + ", " +
            (q.randomization == Randomization::Residuals ? "randomized residuals of each term's reduced model (RRPP)"
                                                         : "full randomization of rows") +
            "\nEffect sizes (Z) of F; p = (permutations with F at least the observed + 1) / (permutations + 1)\n";
    if (d.dropped_columns > 0)
        text += std::to_string(d.dropped_columns) +
                " column(s) of the design were combinations of earlier ones (empty combinations of nested factors) and "
                "were left out\n";
    for (std::size_t term = 0; term < d.terms(); ++term)
        if (std::none_of(t.terms.begin(), t.terms.end(), [&](const ModelTermRow& r) { return r.term == static_cast<int>(term); }))
            text += d.formula.label(term) + " adds nothing to its reduced model under type " + ss_name(q.ss_type) +
                    " (a term containing it holds all its columns) and is left out of the table, as RRPP leaves it out\n";
    text += "\n" + model_anova_table(t).text();
    for (const auto& r : t.terms)
        if (r.error != "Residuals") text += "F of " + r.label + " has the mean square of " + r.error + " as denominator\n";
    return text;
}

// The pairs of groups compared, as the report shows them and the record
// holds them.
PairsTable pairs_table(const PairwiseResult& r) {
    std::vector<PairColumns> statistics{{"d", "d", "%.6g", "Pr > d"}};
    if (!r.covariate.empty()) {
        statistics.push_back({"|dL|", "length_difference", "%.6g", "Pr > |dL|", 11, 2});
        statistics.push_back({"angle", "angle", "%.4f", "Pr > angle", 11, 2});
    }
    PairsTable table(r.groups, statistics);
    for (const auto& p : r.pairs) {
        std::vector<PairwiseTest> tests{p.distance};
        if (!r.covariate.empty()) tests.insert(tests.end(), {p.length, p.angle});
        table.add(r.factor + " " + p.first + " - " + p.second, p.first, p.second, tests);
    }
    return table;
}

std::string pairs_text(const PairwiseResult& r, const PairsTable& pairs) {
    const std::string fit = r.generalized ? "the phylogenetic GLS fit's" : "the model's";
    if (r.covariate.empty())
        return (r.means == PairwiseMeans::Plain
                    ? "Pairwise distances between the plain means of " + r.factor + " (the groups' own averages of shape)\n\n"
                    : "Pairwise distances between the least-squares means of " + r.factor + " (" + fit +
                          " fitted values with the covariates at their means)\n\n") +
               pairs.text();
    std::size_t w = 6;
    for (const auto& g : r.groups) w = std::max(w, g.size() + 1);
    // The record holds each group's size beside its slope's length (record_pairs).
    ReportTable lengths({{"", w, true}, {"length", 11}});
    for (std::size_t g = 0; g < r.groups.size(); ++g)
        lengths.row("", {ReportTable::words(r.groups[g]), ReportTable::as("%.6g", r.lengths[g])});
    return "Slopes of shape on " + r.covariate + " within the groups of " + r.factor +
           (r.generalized ? " (of " + fit + " fitted values)" : std::string()) + "\n\n" + lengths.text() + "\n" + pairs.text() +
           "(angles in degrees)\n";
}

void record_pairs(ActionEnv& env, const PairwiseResult& r, const PairsTable& pairs) {
    for (std::size_t g = 0; g < r.groups.size(); ++g) {
        RecordedModel& m = env.record().model(r.factor + " " + r.groups[g]).set("specimens", r.sizes[g]);
        if (!r.covariate.empty()) m.set("slope_length", r.lengths[g]);
    }
    pairs.record(env.record(), r.nperm);
}

}  // namespace

AnovaTable::AnovaTable(const ModelTable& t, const std::vector<std::string>& names, const std::string& prefix,
                       const AnovaLayout& layout)
    : terms_(t.terms),
      nperm_(t.nperm),
      table_({{"", layout.label, true, "", layout.flush_labels},
              {"Df", layout.df, false, "df"},
              {"SS", layout.ss, false, "ss"},
              {"MS", layout.ss, false, "ms"},
              {"Rsq", 9, false, "rsq"},
              {"F", 10, false, "F"},
              {"Z", 9, false, "Z"},
              {"Pr(>F)", 9, false, "p"}}) {
    using Cell = ReportTable::Cell;
    const auto df = [](int v) { return Cell{std::to_string(v), static_cast<double>(v)}; };
    for (std::size_t k = 0; k < t.terms.size(); ++k) {
        const ModelTermRow& r = t.terms[k];
        table_.row(prefix + names[k],
                   {ReportTable::words(names[k]), df(r.df), ReportTable::as("%.6g", r.ss), ReportTable::as("%.6g", r.ms),
                    ReportTable::as("%.5f", r.rsq), ReportTable::as("%.4f", r.f), ReportTable::as("%.4f", r.z),
                    ReportTable::as(layout.p_format, r.p)});
    }
    table_.row(prefix + names.back(),
               {ReportTable::words(names.back()), df(t.residual_df), ReportTable::as("%.6g", t.residual_ss),
                ReportTable::as("%.6g", t.residual_ss / t.residual_df), ReportTable::as("%.5f", t.residual_ss / t.total_ss)});
    table_.row(prefix + "Total", {ReportTable::words("Total"), df(t.total_df), ReportTable::as("%.6g", t.total_ss)});
}

void AnovaTable::record(ResultRecord& rec) const {
    table_.record(rec, [&](std::size_t i, RecordedModel& m) {
        if (i >= terms_.size()) return;
        const ModelTermRow& r = terms_[i];
        m.test("F", r.f, r.count_ge, r.count_ge, nperm_, r.p, false);
    });
}

std::vector<std::string> anova_row_names(const ModelTable& t) {
    std::vector<std::string> names;
    for (const auto& r : t.terms) names.push_back(r.label);
    names.push_back("Residuals");
    return names;
}

AnovaTable model_anova_table(const ModelTable& t, const std::string& prefix) {
    AnovaLayout layout;
    for (const auto& r : t.terms) layout.label = std::max(layout.label, r.label.size() + 1);
    return AnovaTable(t, anova_row_names(t), prefix, layout);
}

void run_model(ActionEnv& env) {
    const Workspace& ws = env.ws();
    const Matrix& landmarks = require_landmarks(env);
    const long long nperm = read_nperm(env);
    const ModelRequest& q = env.model_request();
    const std::string formula = trimmed(q.formula).empty() ? default_formula(ws) : trimmed(q.formula);
    const ModelDesign design = build_design(formula, env.model_variables(), static_cast<int>(landmarks.rows()));
    ModelTestOptions test;
    test.ss_type = q.ss_type;
    test.randomization = q.randomization;
    test.error = error_terms(q.error, design);
    test.nperm = nperm;
    Eigen::MatrixXd shapes = analysis_shapes(env, landmarks);
    require_shape_variation((shapes.rowwise() - shapes.colwise().mean()).squaredNorm(), shapes.rows());
    // On a tree, the same model of the transformed shapes and design.
    std::optional<PglsInputs> phylo = pgls_inputs(env, shapes, design);
    if (phylo && !trimmed(q.pairwise).empty() && q.means == PairwiseMeans::Plain)
        throw Refused(
            "Plain means are the groups' own averages of shape, which take no account of the tree: compare the "
            "least-squares means of the phylogenetic model (--pairwise-means ls), or set the tree aside with "
            "--phylo-transform none.");
    if (phylo) shapes = std::move(phylo->y);
    test.generalized = phylo.has_value();
    const ModelDesign& fitted = phylo ? phylo->design : design;
    PermutationEngine engine(env.options(), &env.console());
    const StreamIds loops = engine.take_streams(1);
    // The comparisons of groups, when asked, are drawn on the table's own
    // permutations, as RRPP's pairwise draws them on its fit's; on a tree,
    // of the GLS fit's means.
    std::unique_ptr<PairwiseComparisons> comparisons;
    if (!trimmed(q.pairwise).empty())
        comparisons = std::make_unique<PairwiseComparisons>(shapes, fitted, q.ss_type, trimmed(q.pairwise), q.means,
                                                            ModelTestOptions::Sums::Chosen, phylo ? &design : nullptr);
    const ModelTable table = test_linear_model(engine, shapes, fitted, test, loops.at(0), comparisons.get());
    if (PermutationRecorder* recorder = phylo ? nullptr : env.options().recorder)
        if (RegressionScores scores = regression_scores(shapes, design); !scores.x.empty())
            recorder->keep_regression_scores(scores);
    std::optional<PairwiseResult> pairs;
    if (comparisons) pairs = comparisons->result(table.companion, nperm);
    model_anova_table(table).record(env.record());
    std::string report =
        model_report(ws, formula, q, table, design, size_correction_words(env), phylo ? phylo->words : std::string());
    if (pairs) {
        const PairsTable table = pairs_table(*pairs);
        record_pairs(env, *pairs, table);
        report += "\n" + pairs_text(*pairs, table);
    }
    env.set_report(report);
}

}  // namespace quillan
