// What the side files of the shape analyses mean: a partition of the
// landmarks into modules (integration, modularity), a second block of
// variables (pls) and pairs of matching landmarks (object symmetry).  Each
// refusal names the file, and the line where one is to blame.
#pragma once

#include "analyses/side_file.hpp"

#include <Eigen/Dense>

#include <string>
#include <utility>
#include <vector>

namespace quillan {

// One module per landmark: a label per landmark, in landmark order,
// separated by blanks or line ends; labels numbered 0, 1, ... in order of
// first appearance (`labels` gets them).  Refuses a file not given, a count
// other than `landmarks`, fewer than two modules or a module of one
// landmark.
std::vector<int> partition_of(const SideFile* file, int landmarks, std::vector<std::string>* labels = nullptr);
// The second block: one row of numbers per specimen, in specimen order,
// separated by blanks, tabs or commas; a first line of names is allowed
// (`names` gets them).  Refuses a file not given, a cell that is not a
// finite number, rows of unequal length, a count other than `specimens`
// and a column without variation.
Eigen::MatrixXd block_of(const SideFile* file, Eigen::Index specimens, std::vector<std::string>& names);
// Pairs of 1-based landmark numbers, one pair a line, as 0-based pairs.
// Refuses a line that is not two different whole numbers of at least 1
// that an int holds.
std::vector<std::pair<int, int>> land_pairs_of(const SideFile& file);

}  // namespace quillan
