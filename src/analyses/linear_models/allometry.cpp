// "RunAllometry": shape against size, scored as geomorph's plotAllometry
// scores it, for the model shape ~ log(size) (or ~ log(size) * group with
// --group):
//
// - CAC, the common allometric component: the shapes centred on their grand
//   mean, projected onto the unit vector of their regression on size (geomorph
//   takes it from the pooled regression, whatever the groups); with
//   --cac-centre groups, the pooled within-group regression of the shapes
//   centred on their groups' means on size centred the same way;
// - RSC1, the first residual shape component: the first principal component
//   of the shapes less their CAC part;
// - the regression score (Drake and Klingenberg), RRPP's and geomorph's
//   "RegScore": with groups, the slope of the first group alone;
// - the predicted line (Adams and Nistri): the first principal component of
//   the model's fitted shapes.
//
// The signs of principal components are arbitrary (LAPACK's in R): RSC1 and
// the predicted line are pointed so that they rise with size.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/size_correction.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "platform/error.hpp"

#include <cmath>
#include <cstdio>

namespace quillan {

namespace {

struct AllometryScores {
    std::vector<double> x, cac, rsc1, reg_score, pred_line;
    double cac_percent = 0;  // of the shapes' variance along the CAC
};

// The first principal component's scores of the centred rows `r`, pointed to
// rise with `x`.
Eigen::VectorXd first_component(const Eigen::MatrixXd& r, const Eigen::VectorXd& x) {
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(r, Eigen::ComputeThinU);
    Eigen::VectorXd s = svd.matrixU().col(0) * svd.singularValues()(0);
    if (s.dot((x.array() - x.mean()).matrix()) < 0) s = -s;
    return s;
}

std::vector<double> as_vector(const Eigen::VectorXd& v) { return {v.data(), v.data() + v.size()}; }

AllometryScores allometry_scores(const Eigen::MatrixXd& shapes, const ModelDesign& design, const Eigen::VectorXd& x,
                                 const std::vector<int>* groups) {
    AllometryScores out;
    const Eigen::MatrixXd yc = shapes.rowwise() - shapes.colwise().mean();
    Eigen::VectorXd a;
    if (!groups) {
        a = yc.transpose() * x / x.squaredNorm();
    } else {
        int count = 0;
        for (int g : *groups) count = std::max(count, g + 1);
        Eigen::MatrixXd ym = Eigen::MatrixXd::Zero(count, shapes.cols());
        Eigen::VectorXd xm = Eigen::VectorXd::Zero(count), n = Eigen::VectorXd::Zero(count);
        for (Eigen::Index i = 0; i < shapes.rows(); ++i) {
            const int g = (*groups)[static_cast<std::size_t>(i)];
            ym.row(g) += shapes.row(i);
            xm(g) += x(i);
            n(g) += 1;
        }
        Eigen::MatrixXd yw = shapes;
        Eigen::VectorXd xw = x;
        for (Eigen::Index i = 0; i < shapes.rows(); ++i) {
            const int g = (*groups)[static_cast<std::size_t>(i)];
            yw.row(i) -= ym.row(g) / n(g);
            xw(i) -= xm(g) / n(g);
        }
        a = yw.transpose() * xw;
    }
    a.normalize();
    const Eigen::VectorXd cac = yc * a;
    out.cac_percent = 100 * cac.squaredNorm() / yc.squaredNorm();
    const Eigen::MatrixXd residual = yc - cac * a.transpose();
    out.x = as_vector(x);
    out.cac = as_vector(cac);
    out.rsc1 = as_vector(first_component(residual, x));
    out.reg_score = regression_scores(shapes, design).score;
    const Eigen::HouseholderQR<Eigen::MatrixXd> qr(design.x);
    const Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(design.x.rows(), design.x.cols());
    const Eigen::MatrixXd fitted = q * (q.transpose() * shapes);
    out.pred_line = as_vector(first_component(fitted.rowwise() - fitted.colwise().mean(), x));
    return out;
}

}  // namespace

void run_allometry(ActionEnv& env) {
    const Matrix& landmarks = require_landmarks(env);
    const OptionValues& o = env.settings();
    const SizeModel model = size_model_of(o, "group");
    const SizeDesign sd = size_design(
        model, env.model_variables(), landmarks, [&](Eigen::Index i) { return specimen_name(env, static_cast<int>(i)); },
        "group factor");
    const Eigen::VectorXd& x = sd.x;
    const ModelDesign& design = sd.design;
    const std::vector<int>& codes = sd.group.codes;
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const bool within = o.choice_index("cac-centre") == 1;
    if (within && codes.empty()) throw Refused("--cac-centre groups needs the groups: name them with --group.");
    const AllometryScores s = allometry_scores(shapes, design, x, within ? &codes : nullptr);
    const std::string sz = model.predictor();
    std::string text = shape_report_head(env, "Allometry: shape on " + sz + (codes.empty() ? "" : " * " + o.text("group")));
    text += std::string("CAC: the shapes, centred on their grand mean, projected onto their ") +
            (within ? "pooled within-group regression on size (each group centred on its own means)"
                    : "regression on size (pooled, whatever the groups)") +
            "; " + formatted("%.6g", s.cac_percent) + "% of the shapes' variance lies along it\n";
    if (!codes.empty())
        text += "Regression score: the slope of the first group, " + sd.group.levels.front() + ", as RRPP and geomorph take it\n";
    text += "RSC1 and the predicted line (PC1 of the fitted shapes) are pointed to rise with size\n\n";
    // A name of 16 characters or more runs up to the numbers' padding; a
    // number as wide as its column ("-1.23457e-05") keeps a blank before it,
    // so that no two numbers of a line run together.
    ReportTable table({{"specimen", 16, true, "", true},
                       {sz, 12, false, "size"},
                       {"CAC", 12, false, "CAC"},
                       {"RSC1", 12, false, "RSC1"},
                       {"RegScore", 12, false, "RegScore"},
                       {"PredLine", 12, false, "PredLine"}});
    for (std::size_t i = 0; i < s.x.size(); ++i) {
        const std::string name = specimen_name(env, static_cast<int>(i));
        table.row("Specimen " + name, {ReportTable::words(name), ReportTable::as("%.6g", s.x[i]),
                                       ReportTable::as("%.6g", s.cac[i]), ReportTable::as("%.6g", s.rsc1[i]),
                                       ReportTable::as("%.6g", s.reg_score[i]), ReportTable::as("%.6g", s.pred_line[i])});
    }
    text += table.text();
    env.record().model("CAC").set("percent_of_variance", s.cac_percent);
    table.record(env.record());
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        AllometryFigure f{sz,
                          s.x,
                          {{"CAC", "allometry-cac", s.cac},
                           {"RSC1", "allometry-rsc1", s.rsc1},
                           {"Regression score", "allometry-regression-score", s.reg_score},
                           {"Predicted line (PC1 of the fitted shapes)", "allometry-predicted-line", s.pred_line}},
                          {}};
        if (!codes.empty()) f.groups = {sd.group.levels, codes};
        figures.allometry = f;
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
