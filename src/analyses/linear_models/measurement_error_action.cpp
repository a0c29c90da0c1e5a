// "RunMeasurementError": how repeatable the digitising was.  The subjects
// (--subjects, G1 by default) were each digitised in several replicates
// (--replicates, G2 by default), optionally within groups of subjects
// (--groups); the shapes are the tangent projection of one superimposition,
// analysed as their principal component scores (--me-data pcs, the
// components whose standard deviation exceeds 0.001 of the first's) or as
// the coordinates themselves.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/measurement_error.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/figure_data.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "platform/error.hpp"

#include <algorithm>

namespace quillan {

namespace {

enum class MeData { Pcs, Coordinates };

struct MeNames {
    std::string subjects, replicates, groups;
};

MeasurementErrorDesign me_design(const ModelVariables& vars, const MeNames& n) {
    MeasurementErrorDesign d;
    const ModelVariable s = factor_named(vars, n.subjects, "subjects factor");
    const ModelVariable r = factor_named(vars, n.replicates, "replicates factor");
    if (n.subjects == n.replicates)
        throw Refused("The subjects and the replicates are both \"" + n.subjects + "\": name two different factors.");
    d.subject = s.codes;
    d.subject_names = s.levels;
    d.replicate = r.codes;
    d.replicate_names = r.levels;
    if (!n.groups.empty()) {
        const ModelVariable g = factor_named(vars, n.groups, "groups factor");
        d.group = g.codes;
        d.group_names = g.levels;
    }
    return d;
}

// The ANOVA of the error, in the report and in the record: the Total row
// has no mean square, a row without a test no SNR.
ReportTable error_table(const MeasurementErrorResult& r) {
    using T = ReportTable;
    T t({{"", 22, true},
         {"Df", 6, false, "df"},
         {"SS", 13, false, "ss"},
         {"MS", 13, false, "ms"},
         {"Rsq", 9, false, "rsq"},
         {"EtaSq.ME", 10, false, "etasq_me"},
         {"SNR", 11, false, "SNR"},
         {"Z", 9, false, "Z"},
         {"Pr(>SNR)", 10, false, "p"}});
    t.trim_lines();
    for (const MeasurementErrorRow& row : r.rows) {
        std::vector<T::Cell> cells{
            T::words(row.label), {std::to_string(row.df), static_cast<double>(row.df)}, T::as("%.6g", row.ss)};
        if (row.label != "Total") {
            cells.insert(cells.end(), {T::as("%.6g", row.ms), T::as("%.5f", row.rsq)});
            cells.push_back(row.has_eta ? T::as("%.5f", row.eta) : T::words(""));
            if (row.tested) cells.insert(cells.end(), {T::as("%.6g", row.snr), T::as("%.4f", row.z), T::as("%.4g", row.p)});
        }
        t.row(row.label, std::move(cells));
    }
    return t;
}

std::string eigenvalue_line(const char* name, const std::vector<double>& v) {
    std::string line = padded(name, 8, true);
    for (double e : v) line += padded(formatted("%.6g", e), 11);
    return line + "\n";
}

std::string icc_text(const MeasurementErrorResult& r) {
    std::string text = "\nIntraclass correlation of the dispersions (RRPP's ICCstats, the systematic error within subjects):\n" +
                       padded("ICC", 11) + padded("ICC_a", 11) + padded("ICC_c", 11) + "\n" +
                       padded(formatted("%.6f", r.icc.icc), 11) + padded(formatted("%.6f", r.icc.icc_a), 11) +
                       padded(formatted("%.6f", r.icc.icc_c), 11) + "\n";
    text += "\nMultivariate ICC: the positive eigenvalues of (MSCP_BS + (r - 1) MSCP_W)^-1 (MSCP_BS - MSCP_W)\n";
    if (!r.multivariate.refusal.empty()) return text + r.multivariate.refusal + "\n";
    return text + eigenvalue_line("ICC", r.multivariate.icc) + eigenvalue_line("ICC_a", r.multivariate.icc_a) +
           eigenvalue_line("ICC_c", r.multivariate.icc_c);
}

std::string repeatability_text(const MeasurementErrorResult& r) {
    return "\nRepeatability of the one-way Procrustes ANOVA of the subjects, (MS_among - MS_within) / (MS_among + (r - 1) "
           "MS_within):\n   MS_among " +
           shown(r.ms_among) + ", MS_within " + shown(r.ms_within) + ", r " + shown(r.replicates_per_subject) +
           (r.replicates_per_subject == static_cast<int>(r.replicates_per_subject) ? "" : " (n0: the subjects differ in count)") +
           ", repeatability " + formatted("%.6f", r.repeatability) + "\n";
}

void record_result(ActionEnv& env, const MeasurementErrorResult& r, const ReportTable& table) {
    ResultRecord& rec = env.record();
    table.record(rec, [&](std::size_t i, RecordedModel& m) {
        const MeasurementErrorRow& row = r.rows[i];
        if (row.label != "Total" && row.tested) m.test("SNR", row.snr, row.count_ge, row.count_ge, r.nperm, row.p, false);
    });
    RecordedModel& icc = rec.model("ICC").set("ICC", r.icc.icc).set("ICC_a", r.icc.icc_a).set("ICC_c", r.icc.icc_c);
    const auto put = [&](const char* name, const std::vector<double>& v) {
        for (std::size_t k = 0; k < v.size(); ++k) icc.set(std::string(name) + "_EV" + std::to_string(k + 1), v[k]);
    };
    put("ICC", r.multivariate.icc);
    put("ICC_a", r.multivariate.icc_a);
    put("ICC_c", r.multivariate.icc_c);
    rec.model("Repeatability")
        .set("ms_among", r.ms_among)
        .set("ms_within", r.ms_within)
        .set("r", r.replicates_per_subject)
        .set("repeatability", r.repeatability);
}

// The picture's numbers: the first two principal components of the shapes.
MeasurementErrorFigure figure_of(const Eigen::MatrixXd& shapes, const MeasurementErrorDesign& d) {
    MeasurementErrorFigure f;
    const Eigen::MatrixXd pcs = principal_scores(shapes, 0);
    const double total = pcs.squaredNorm();
    for (Eigen::Index k = 0; k < std::min<Eigen::Index>(2, pcs.cols()); ++k)
        f.percent.push_back(100 * pcs.col(k).squaredNorm() / total);
    for (Eigen::Index i = 0; i < pcs.rows(); ++i) {
        f.x.push_back(pcs.cols() > 0 ? pcs(i, 0) : 0);
        f.y.push_back(pcs.cols() > 1 ? pcs(i, 1) : 0);
    }
    f.subject = d.subject;
    f.replicate = d.replicate;
    f.replicates = d.replicate_names;
    return f;
}

}  // namespace

void run_measurement_error(ActionEnv& env) {
    const OptionValues& o = env.settings();
    const MeNames names{o.text("subjects").empty() ? "G1" : o.text("subjects"),
                        o.text("replicates").empty() ? "G2" : o.text("replicates"), o.text("subject-groups")};
    const ModelVariables vars = env.model_variables();
    const MeasurementErrorDesign d = me_design(vars, names);
    check_measurement_error_design(d);
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const MeData data = o.choice<MeData>("me-data");
    const Eigen::MatrixXd y = data == MeData::Pcs ? principal_scores(shapes) : shapes;
    const long long nperm = read_nperm(env);
    PermutationEngine engine(env.options(), &env.console());
    const StreamIds loops = engine.take_streams(1);
    const MeasurementErrorResult r = measurement_error_test(engine, y, d, nperm, loops.at(0));
    const ReportTable table = error_table(r);
    std::string text = shape_report_head(env, "Measurement error: repeatability of the digitising");
    text += "Subjects from " + names.subjects + " (" + std::to_string(r.subjects) + "), replicates from " + names.replicates +
            " (" + std::to_string(r.replicates) + ")" +
            (d.grouped() ? ", groups from " + names.groups + " (" + std::to_string(d.group_names.size()) + ")" : "") + "\n";
    text += "Data: " +
            (data == MeData::Pcs
                 ? std::to_string(y.cols()) + " principal component scores (standard deviation above 0.001 of the first's)"
                 : std::to_string(y.cols()) + " tangent coordinates") +
            "\nSums of squares and cross-products: within-subject II\n";
    text += "Permutations: " + std::to_string(nperm) +
            ", the residuals of each term's reduced model, within subjects for the replicate terms and freely for the "
            "subjects; SNR = SS / SS of Random ME, Z its effect size; p = (permutations with SNR at least the observed + 1) / "
            "(permutations + 1)\n\n" +
            table.text() + "EtaSq.ME: SS / the within-subject SS (" +
            formatted("%.6g", r.rows[r.rows.size() - 2].ss / r.rows[r.rows.size() - 2].eta) + ")\n";
    text += icc_text(r) + repeatability_text(r);
    record_result(env, r, table);
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.measurement_error = figure_of(shapes, d);
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
