// The set of pictures for what is loaded and the last test, as the window
// and quillan-batch --plots make them.
#pragma once

#include "figures/distributions.hpp"
#include "figures/links.hpp"
#include "render/plots.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillan {

// The shape a shape-change picture deforms the consensus into.
struct ShapeTarget {
    enum class Kind { GroupMean, ComponentLow, ComponentHigh } kind = Kind::ComponentHigh;
    int index = 0;  // the group (0-based, in the colouring grouping) or the component (0-based)
};

struct PictureChoices {
    GroupBy group_by = GroupBy::First;
    int pc_x = 0, pc_y = 1;
    Outline outline = Outline::Ellipse;
    ShapeTarget target;
    double magnification = 1.0;
    Links links;
    LandmarkMarks marks;
    QSizeF size{1000, 800};
};

// Everything the pictures are computed from, worked out once for a loaded
// landmark table (and group list) so that changing a choice only redraws.
// Landmarks in space (`dimensions` 3) are drawn in three views.
class PictureData {
public:
    // Fails with the message of the superimposition or grouping at fault.
    // `factors`: the names of G1 and G2 where an import named them, for
    // the legends.
    PictureData(const Matrix& landmarks, const Matrix& groups, GroupBy group_by, const LevelNames& names = {}, int dimensions = 2,
                const std::vector<std::string>& factors = {});
    const Superimposition& superimposition() const { return sup_; }
    const Grouping& grouping() const { return grouping_; }
    const PcaResult& components() const { return pca_; }
    // The target shape (a row of dk coordinates), magnified, and a title
    // saying what it is.
    std::pair<Eigen::RowVectorXd, QString> target(const ShapeTarget& t, double magnification) const;

private:
    Superimposition sup_;
    Grouping grouping_;
    PcaResult pca_;
    std::vector<Eigen::RowVectorXd> means_;
};

// The pictures of what PictureData holds, in the plane or in three views.
Scene superimposition_picture(const PictureData& data, const Links& links, QSizeF size, const LandmarkMarks& marks = {});
// Fails as the shape change cannot be drawn (a deformation grid needs three
// landmarks not all on one line).
Scene shape_change_picture(const PictureData& data, const Eigen::RowVectorXd& target, const Links& links, const QString& title,
                           QSizeF size);

struct NamedScene {
    std::string name;  // a file name without extension
    Scene scene;
};

// The shape pictures: superimposition, principal components, scree, and
// the shape change toward the chosen target.  A shape change that cannot be
// drawn (fewer than three landmarks, or all of them on one line) is left
// out, with the reason added to `notes` when given.
std::vector<NamedScene> shape_pictures(const PictureData& data, const PictureChoices& choices,
                                       std::vector<std::string>* notes = nullptr);
// The shape change from the consensus toward each group's mean, named
// shape-change-group-<level name or code>, each name safe in a file name on
// every system and different from the others.  Past kMaxGroupChanges
// groups (the subjects of a study of measurement error, the individuals of
// a symmetry table) none is drawn: nobody looks through a hundred of them,
// and the one shape change and the components show the groups.
constexpr int kMaxGroupChanges = 24;
std::vector<NamedScene> group_change_pictures(const PictureData& data, const PictureChoices& choices);
// `text` with everything but letters, digits, '-', '_' and '.' replaced
// by '_' (never empty, never starting with a dot).
std::string file_name_safe(const std::string& text);
// At most this many histograms are drawn for one test: comparisons of every
// pair of many groups give tens of thousands of statistics, whose pictures
// would take hours and gigabytes and that nobody would look through.
constexpr std::size_t kMaxHistograms = 100;
// One histogram per statistic of the last test, the first kMaxHistograms of
// them (`not_drawn`, when given, is set to the number left out), and the
// regression scores of a model with a covariate.
// `factors`: the names of G1 and G2 where an import named them.
std::vector<NamedScene> distribution_pictures(const DistributionLog& log, QSizeF size, std::size_t* not_drawn = nullptr,
                                              const std::vector<std::string>& factors = {});
// The title of a statistic's picture: its name (the run's, else the action
// table's) with G1 and G2 called by their factors' names where these are
// known, and a test of one grouping saying which grouping its statistic is of.
QString statistic_caption(const DistributionLog& log, const StatisticDistribution& d, const std::vector<std::string>& factors);

// One picture of the last shape analysis: its file name, its title (the
// factor's name in place of G1), whether the magnification chosen shapes
// it, and how to draw it at a size.  Drawing fails as a shape change
// cannot be drawn.
struct AnalysisPicture {
    std::string name;
    QString title;
    bool magnified = false;
    std::function<Scene(QSizeF size, double magnification, const Links& links)> draw;
};
// The pictures of `figures`, in the order the window lists them.
// `factors`: the names of G1 and G2 where an import named them.
std::vector<AnalysisPicture> analysis_pictures(const ToolkitFigures& figures, const std::vector<std::string>& factors = {});
// `title` with G1 and G2 called by their factors' names where these are known.
QString with_factor_names(QString title, const std::vector<std::string>& factors);
// " (not magnified)" or " (magnified N times)", as a shape change's title ends.
QString magnification_note(double magnification);

}  // namespace quillan
