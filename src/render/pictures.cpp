#include "render/pictures.hpp"

#include "platform/error.hpp"
#include "render/space_plots.hpp"
#include "render/toolkit_plots.hpp"
#include "shell/action_table.hpp"

#include <QRegularExpression>

#include <algorithm>
#include <set>

namespace quillan {

PictureData::PictureData(const Matrix& landmarks, const Matrix& groups, GroupBy group_by, const LevelNames& names, int dimensions,
                         const std::vector<std::string>& factors)
    : sup_(superimpose(landmarks, dimensions)),
      grouping_(make_grouping(groups, static_cast<int>(landmarks.rows()), group_by, names)) {
    grouping_.factor = with_factor_names(QString::fromStdString(grouping_.factor), factors).toStdString();
    if (sup_.specimens() >= 2) pca_ = principal_components(tangent_coordinates(sup_));
    means_ = group_means(sup_, grouping_);
}

std::pair<Eigen::RowVectorXd, QString> PictureData::target(const ShapeTarget& t, double magnification) const {
    // The title always says the magnification: a change drawn larger than
    // life must never pass for the change itself.
    const QString times = magnification_note(magnification);
    if (t.kind == ShapeTarget::Kind::GroupMean) {
        if (t.index < 0 || t.index >= static_cast<int>(means_.size()))
            throw QuillanError("There is no group " + std::to_string(t.index + 1) + " to deform the consensus into.");
        return {magnify(sup_.consensus_row, means_[static_cast<std::size_t>(t.index)], magnification),
                QStringLiteral("From the consensus to the mean of %1%2")
                    .arg(QString::fromStdString(grouping_.names[static_cast<std::size_t>(t.index)]), times)};
    }
    if (pca_.components() == 0) return {sup_.consensus_row, QStringLiteral("The consensus (the shapes do not vary)")};
    const int pc = std::clamp(t.index, 0, pca_.components() - 1);
    const bool high = t.kind == ShapeTarget::Kind::ComponentHigh;
    const double score = high ? pca_.scores.col(pc).maxCoeff() : pca_.scores.col(pc).minCoeff();
    return {magnify(sup_.consensus_row, shape_along_component(sup_, pca_, pc, score), magnification),
            QStringLiteral("From the consensus to the %1 score on PC%2%3")
                .arg(high ? QStringLiteral("highest") : QStringLiteral("lowest"))
                .arg(pc + 1)
                .arg(times)};
}

Scene superimposition_picture(const PictureData& data, const Links& links, QSizeF size, const LandmarkMarks& marks) {
    const Superimposition& sup = data.superimposition();
    if (sup.dimensions == 3) return space_superimposition_scene(sup, data.grouping(), links, size, marks);
    return superimposition_scene(sup, data.grouping(), links, size, marks);
}

Scene shape_change_picture(const PictureData& data, const Eigen::RowVectorXd& target, const Links& links, const QString& title,
                           QSizeF size) {
    const Superimposition& sup = data.superimposition();
    if (sup.dimensions == 3) return space_shape_change_scene(sup.consensus_row, target, links, title, size);
    return shape_change_scene(sup.consensus, view_of_row(target, 2, 0, 1), links, title, size);
}

std::vector<NamedScene> shape_pictures(const PictureData& data, const PictureChoices& c, std::vector<std::string>* notes) {
    std::vector<NamedScene> out;
    out.push_back({"superimposition", superimposition_picture(data, c.links, c.size, c.marks)});
    if (data.components().components() > 0) {
        const int m = data.components().components();
        const int x = std::clamp(c.pc_x, 0, m - 1), y = std::clamp(c.pc_y, 0, m - 1);
        out.push_back({"pc" + std::to_string(x + 1) + "-pc" + std::to_string(y + 1),
                       components_scene(data.components(), data.grouping(), x, y, c.outline, c.size)});
        out.push_back({"scree", scree_scene(data.components(), c.size)});
    }
    try {
        const auto [shape, title] = data.target(c.target, c.magnification);
        out.push_back({"shape-change", shape_change_picture(data, shape, c.links, title, c.size)});
    } catch (const QuillanError& e) {
        if (notes) notes->push_back(std::string("No shape-change picture: ") + e.what());
    }
    return out;
}

std::string file_name_safe(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        // Letters outside ASCII come as several bytes: one '_' for them all.
        if (plain) out += static_cast<char>(c);
        else if (out.empty() || out.back() != '_') out += '_';
    }
    if (out.empty() || out.front() == '.') out.insert(out.begin(), '_');
    return out;
}

std::vector<NamedScene> group_change_pictures(const PictureData& data, const PictureChoices& c) {
    std::vector<NamedScene> out;
    const Grouping& g = data.grouping();
    std::set<std::string> taken;
    if (g.groups() > kMaxGroupChanges) return out;
    for (int k = 0; g.groups() > 1 && k < g.groups(); ++k) {
        const std::string key = k < static_cast<int>(g.keys.size()) ? g.keys[static_cast<std::size_t>(k)] : std::to_string(k + 1);
        std::string name = "shape-change-group-" + file_name_safe(key);
        // Names that differ only in what a file name cannot hold stay apart.
        for (int n = 2; !taken.insert(name).second; ++n)
            name = "shape-change-group-" + file_name_safe(key) + "-" + std::to_string(n);
        const auto [shape, title] = data.target({ShapeTarget::Kind::GroupMean, k}, c.magnification);
        out.push_back({name, shape_change_picture(data, shape, c.links, title, c.size)});
    }
    return out;
}

QString statistic_caption(const DistributionLog& log, const StatisticDistribution& d, const std::vector<std::string>& factors) {
    QString title = QString::fromStdString(d.name.empty() ? statistic_title(log.action(), d.loop, d.statistic) : d.name);
    const ActionRow* row = find_action(log.action());
    const auto colon = title.indexOf(QStringLiteral(": "));
    // "One-way F test: F ratio" is of G1, the only grouping such a test has.
    if (row && row->groupings == 1 && colon > 0 && !title.contains(QStringLiteral("G1")) &&
        !title.mid(colon).contains(QStringLiteral(" of ")))
        title += QStringLiteral(" of G1");
    return with_factor_names(title, factors);
}

QString with_factor_names(QString title, const std::vector<std::string>& factors) {
    for (std::size_t k = 0; k < factors.size() && k < 2; ++k) {
        if (factors[k].empty()) continue;
        static const QRegularExpression g1(QStringLiteral("\\bG1\\b")), g2(QStringLiteral("\\bG2\\b"));
        title.replace(k == 0 ? g1 : g2, QString::fromStdString(factors[k]));
    }
    return title;
}

QString magnification_note(double magnification) {
    return magnification == 1.0 ? QStringLiteral(" (not magnified)")
                                : QStringLiteral(" (magnified %1 times)").arg(magnification, 0, 'g', 4);
}

namespace {

// A pairwise comparison's histogram is named by its pair and statistic
// ("pairwise-albistylum-brunneum-d", "pairwise-A-B-path-angle" for a pair of
// trajectories), any other by its place in the test.
std::string histogram_name(const StatisticDistribution& d, int n) {
    static const QRegularExpression pair(QStringLiteral(
        "^(Means|Slopes|Trajectories) of (.+) and (.+): (distance|difference of lengths|difference of path lengths|"
        "angle \\(degrees\\)|shape difference)$"));
    const auto m = pair.match(QString::fromStdString(d.name));
    if (!m.hasMatch()) return "permutations-" + std::to_string(n);
    const QString of = m.captured(1), what = m.captured(4);
    // Slopes and trajectories say what their lengths and angles are of;
    // the means' distance is plain d.
    const std::string prefix = of == QLatin1String("Slopes") ? "slope-" : of == QLatin1String("Trajectories") ? "path-" : "";
    const std::string stat = what == QLatin1String("distance")         ? "d"
                             : what.startsWith(QLatin1String("angle")) ? "angle"
                             : what.startsWith(QLatin1String("shape")) ? "shape"
                                                                       : "length";
    return "pairwise-" + file_name_safe(m.captured(2).toStdString()) + "-" + file_name_safe(m.captured(3).toStdString()) + "-" +
           prefix + stat;
}

}  // namespace

std::vector<NamedScene> distribution_pictures(const DistributionLog& log, QSizeF size, std::size_t* not_drawn,
                                              const std::vector<std::string>& factors) {
    std::vector<NamedScene> out;
    std::set<std::string> taken;
    int n = 0;
    const auto& all = log.distributions();
    if (not_drawn) *not_drawn = all.size() > kMaxHistograms ? all.size() - kMaxHistograms : 0;
    for (const auto& d : all) {
        if (static_cast<std::size_t>(n) == kMaxHistograms) break;
        const QString title = statistic_caption(log, d, factors);
        const std::string base = histogram_name(d, ++n);
        std::string name = base;
        // Levels that differ only in what a file name cannot hold stay apart.
        for (int k = 2; !taken.insert(name).second; ++k) name = base + "-" + std::to_string(k);
        out.push_back({name, histogram_scene(d, title, size)});
    }
    if (log.regression_scores()) out.push_back({"regression-score", regression_scene(*log.regression_scores(), size)});
    return out;
}

namespace {

// A picture as drawn under its title (the magnification said after it).
// `factor`: what the groups of G1 are levels of, for the legend.
using TitledDraw =
    std::function<Scene(QSizeF size, double magnification, const Links& links, const QString& title, const QString& factor)>;
struct Titled {
    std::string name;
    QString title;
    bool magnified;
    TitledDraw draw;
};

void add_outlier_pictures(std::vector<Titled>& out, const OutliersFigure& f) {
    const QString of = f.within_groups ? QStringLiteral("the mean of each group of G1") : QStringLiteral("the mean");
    out.push_back({"outliers-distances", QStringLiteral("Outliers: Procrustes distance from %1").arg(of), false,
                   [f](QSizeF size, double, const Links&, const QString& title, const QString& factor) {
                       return outlier_distances_scene(f, title, size, factor);
                   }});
    if (f.farthest < 0) return;
    const QString name = QString::fromStdString(f.names[static_cast<std::size_t>(f.farthest)]);
    out.push_back({"outliers-farthest",
                   QStringLiteral("Outliers: %1, the farthest%2 specimen, beside %3")
                       .arg(name, f.farthest_flagged ? QStringLiteral(" flagged") : QString(),
                            f.within_groups ? QStringLiteral("its group's mean") : QStringLiteral("the mean shape")),
                   false, [f, name](QSizeF size, double, const Links& links, const QString& title, const QString&) {
                       return figure_shapes_scene(f.beside_mean, 1.0, links, title, size, {QStringLiteral("Mean shape"), name});
                   }});
}

void add_disparity_picture(std::vector<Titled>& out, const DisparityFigure& d, const std::vector<std::string>& factors) {
    bool any = false;
    for (const auto& p : d.pairs) any = any || p.p <= kMarkedP;
    const QString groups =
        with_factor_names(any ? QStringLiteral("Groups of G1; brackets join the pairs that differ (p \u2264 %1)").arg(kMarkedP)
                              : QStringLiteral("Groups of G1; no pair differs at p \u2264 %1").arg(kMarkedP),
                          factors);
    out.push_back({"disparity", QStringLiteral("Disparity: Procrustes variance of each group of G1"), false,
                   [d, groups](QSizeF size, double, const Links&, const QString& title, const QString&) {
                       return disparity_scene(d, title, groups, size);
                   }});
}

void add_cva_pictures(std::vector<Titled>& out, const CvaFigure& f) {
    out.push_back({"cva-scores",
                   f.scores.cols() < 2 ? QStringLiteral("Canonical variates: CV1 of G1 in each group")
                                       : QStringLiteral("Canonical variates: CV1 against CV2 of G1"),
                   false, [f](QSizeF size, double, const Links&, const QString& title, const QString& factor) {
                       return cva_scene(f, title, size, factor);
                   }});
    if (f.along_first.from.size() == 0) return;
    out.push_back({"cva-shape-change", QStringLiteral("Canonical variates: shape change along CV1 of G1, to its highest score"),
                   true, [f](QSizeF size, double m, const Links& links, const QString& title, const QString&) {
                       return figure_shapes_scene(f.along_first, m, links, title, size,
                                                  {QStringLiteral("Mean shape"), QStringLiteral("Highest CV1 score")});
                   }});
}

void add_trajectory_picture(std::vector<Titled>& out, const TrajectoryFigure& f) {
    out.push_back({"trajectories", QStringLiteral("Trajectories: the groups' points in the first two principal components"),
                   false, [f](QSizeF size, double, const Links&, const QString& title, const QString&) {
                       return trajectory_scene(f, title, size);
                   }});
}

void add_allometry_pictures(std::vector<Titled>& out, const AllometryFigure& f) {
    for (std::size_t k = 0; k < f.scores.size(); ++k)
        out.push_back({f.scores[k].file,
                       QStringLiteral("Allometry: %1 against %2")
                           .arg(QString::fromStdString(f.scores[k].name), QString::fromStdString(f.size)),
                       false, [f, k](QSizeF size, double, const Links&, const QString& title, const QString& factor) {
                           return allometry_scene(f, k, title, size, factor);
                       }});
}

void add_pls_pictures(std::vector<Titled>& out, const std::vector<PlsFigure>& all) {
    std::set<std::string> taken;
    for (const PlsFigure& f : all) {
        // "pls-scores", or one a pair of modules: "pls-scores-A-B".
        std::string name = "pls-scores";
        const auto modules = f.block1.rfind("Module ", 0) == 0 && f.block2.rfind("Module ", 0) == 0;
        if (modules) name += "-" + file_name_safe(f.block1.substr(7)) + "-" + file_name_safe(f.block2.substr(7));
        for (int n = 2; !taken.insert(name).second; ++n) name = "pls-scores-" + std::to_string(n);
        QString title = QString::fromStdString(f.title);
        if (f.groups.names.size() > 1) title += QStringLiteral(", coloured by G1");
        title += QStringLiteral(" (r-PLS %1)").arg(f.r, 0, 'f', 3);
        out.push_back({name, title, false, [f](QSizeF size, double, const Links&, const QString& t, const QString& factor) {
                           return pls_scene(f, t, size, factor);
                       }});
    }
}

void add_symmetry_pictures(std::vector<Titled>& out, const SymmetryFigure& f) {
    const QString sides = QString::fromStdString(f.sides);
    out.push_back({"symmetry-directional", QStringLiteral("Symmetry: directional asymmetry, %1").arg(sides), true,
                   [f, sides](QSizeF size, double m, const Links& links, const QString& title, const QString&) {
                       return figure_shapes_scene(f.directional, m, links, title, size,
                                                  {QStringLiteral("Mean shape"), QStringLiteral("Plus the difference")});
                   }});
    out.push_back({"symmetry-fluctuating",
                   QStringLiteral("Symmetry: fluctuating asymmetry, first axis of individual x side (%1%)")
                       .arg(f.fluctuating_percent, 0, 'f', 1),
                   true, [f](QSizeF size, double m, const Links& links, const QString& title, const QString&) {
                       return figure_shapes_scene(f.fluctuating, m, links, title, size,
                                                  {QStringLiteral("Mean shape"), QStringLiteral("Highest score")});
                   }});
}

void add_measurement_error_picture(std::vector<Titled>& out, const MeasurementErrorFigure& f) {
    out.push_back({"measurement-error-replicates",
                   QStringLiteral("Measurement error: each subject's replicates in the first two principal components, joined"),
                   false, [f](QSizeF size, double, const Links&, const QString& title, const QString&) {
                       return measurement_error_scene(f, title, size);
                   }});
}

void add_phylomorphospace_picture(std::vector<Titled>& out, const PhylomorphospaceFigure& f) {
    const QString coloured =
        f.groups.names.size() > 1
            ? QStringLiteral(", tips coloured by %1").arg(QString::fromStdString(f.factor.empty() ? "G1" : f.factor))
            : QString();
    out.push_back({"phylomorphospace",
                   QStringLiteral("Phylomorphospace: the tips and their ancestors in the first two components (%1)%2")
                       .arg(QString::fromStdString(f.axis), coloured),
                   false, [f](QSizeF size, double, const Links&, const QString& title, const QString& factor) {
                       return phylomorphospace_scene(f, title, size, factor);
                   }});
}

}  // namespace

std::vector<AnalysisPicture> analysis_pictures(const ToolkitFigures& figures, const std::vector<std::string>& factors) {
    std::vector<Titled> titled;
    if (figures.outliers) add_outlier_pictures(titled, *figures.outliers);
    if (figures.disparity) add_disparity_picture(titled, *figures.disparity, factors);
    if (figures.cva) add_cva_pictures(titled, *figures.cva);
    add_pls_pictures(titled, figures.pls);
    if (figures.symmetry) add_symmetry_pictures(titled, *figures.symmetry);
    if (figures.measurement_error) add_measurement_error_picture(titled, *figures.measurement_error);
    if (figures.trajectory) add_trajectory_picture(titled, *figures.trajectory);
    if (figures.allometry) add_allometry_pictures(titled, *figures.allometry);
    if (figures.phylomorphospace) add_phylomorphospace_picture(titled, *figures.phylomorphospace);
    std::vector<AnalysisPicture> out;
    const QString factor = with_factor_names(QStringLiteral("G1"), factors);
    for (auto& t : titled) {
        const QString title = with_factor_names(t.title, factors);
        out.push_back(
            {t.name, title, t.magnified,
             [draw = std::move(t.draw), title, factor, magnified = t.magnified](QSizeF size, double m, const Links& links) {
                 return draw(size, magnified ? m : 1.0, links, magnified ? title + magnification_note(m) : title, factor);
             }});
    }
    return out;
}

}  // namespace quillan
