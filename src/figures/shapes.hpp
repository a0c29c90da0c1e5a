// What the pictures are drawn from: the aligned specimens with their
// consensus, groupings of the specimens, the groups' mean shapes, and the
// names shown for specimens and groups.  Everything here is plain numbers
// (no drawing) so that it can be tested without a display.
#pragma once

#include "platform/value.hpp"

#include <string>
#include <vector>

namespace quillan {

struct Point2 {
    double x = 0.0;
    double y = 0.0;
};
using Shape2 = std::vector<Point2>;  // one point per landmark, in landmark order

// The rows x1 y1 ... xk yk (a trailing value, if any, is ignored) of a row
// of a table as points.
Shape2 shape_of_row(const Matrix& table, Eigen::Index row, int landmarks);

// The specimens superimposed by the full Procrustes fit, exactly as the
// consensus procedure aligns them (the same numbers the aligned-coordinate
// export writes), and the consensus itself.  Landmarks in space
// (`dimensions` 3) have rows x1 y1 z1 ... xk yk zk; their pictures are drawn
// from views onto two of the axes (plane_view).
struct Superimposition {
    int landmarks = 0;
    int dimensions = 2;
    Matrix aligned;                    // n-by-dk: x1 y1 ... xk yk of each aligned specimen
    Eigen::RowVectorXd consensus_row;  // the consensus as one row of dk coordinates
    Shape2 consensus;                  // the consensus as points (in the plane only)
    int specimens() const { return static_cast<int>(aligned.rows()); }
    Point2 point(int specimen, int landmark) const {
        return {aligned(specimen, 2 * landmark), aligned(specimen, 2 * landmark + 1)};
    }
};
// Fails with a message for the user when the table cannot be superimposed.
Superimposition superimpose(const Matrix& landmark_table, int dimensions = 2);
// Landmarks in space seen along one axis: coordinates `across` and `up`
// (0 x, 1 y, 2 z) of every landmark, as a superimposition in the plane.
Superimposition plane_view(const Superimposition& s, int across, int up);
// Coordinates `across` and `up` of each landmark of a row of dk coordinates.
Shape2 view_of_row(const Eigen::RowVectorXd& row, int dimensions, int across, int up);

// Which grouping colours the specimens.
enum class GroupBy { None, First, Second, Cells };

// The specimens' groups: group_of[i] is the 0-based group of specimen i,
// groups numbered in the order they first occur.
struct Grouping {
    std::vector<int> group_of;
    std::vector<std::string> names;  // one per group
    // What names a group in a file name: its level name, else its code
    // ("2"; "1x3" for a cell).  Not yet safe as a file name.
    std::vector<std::string> keys;
    // What the groups are levels of, as the legends name it: "G1", "G2" or
    // "G1 x G2" (the factors' own names where an import gave them); empty
    // for one group of every specimen.
    std::string factor;
    int groups() const { return static_cast<int>(names.size()); }
};
// A grouping of `n` specimens from the loaded group list.  GroupBy::None
// (or no group list) puts every specimen in one group "All specimens".
// Fails naming the file's shape when the list does not fit the specimens or
// lacks the column asked for.
// The words behind the codes of each column of the group list, when the
// groups came from a file that named its levels: names[j][code - 1].
using LevelNames = std::vector<std::vector<std::string>>;
Grouping make_grouping(const Matrix& group_list, int n, GroupBy by, const LevelNames& names = {});

// The names shown to the user.  They are the single place where imported
// specimen IDs and group level names will be looked up; for now a specimen
// is named by the line of the landmark file it came from and a group by its
// code.
// A 0-based specimen by its place, and by its ID where the file gave IDs
// (one a specimen): "Specimen 5 (line 5), ID P05".
std::string specimen_label(int specimen, const std::vector<std::string>& ids = {});
// A group or cell is named by its level name where there is one, else by its code.
std::string group_label(double code, const std::string& name = {});
std::string cell_label(double code1, double code2, const std::string& name1 = {}, const std::string& name2 = {});

// The mean aligned shape of each group, in group order, as a row of dk
// coordinates.
std::vector<Eigen::RowVectorXd> group_means(const Superimposition& s, const Grouping& g);

// consensus + magnification * (target - consensus), coordinate by coordinate.
Eigen::RowVectorXd magnify(const Eigen::RowVectorXd& consensus, const Eigen::RowVectorXd& target, double magnification);

// Width-over-height-free bounds of a set of points.
struct Bounds {
    double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
    bool empty = true;
    void add(double x, double y);
    void add(const Point2& p) { add(p.x, p.y); }
    double width() const { return xmax - xmin; }
    double height() const { return ymax - ymin; }
};

}  // namespace quillan
