// Whether a plain landmark file holds landmarks in the plane or in space.
// Its numbers alone often cannot say: 25 numbers a line are 12 landmarks in
// the plane or 8 in space, and 73 are 36 or 24.  What can say: the legend
// convert writes beside its tables (PREFIX.legend.csv beside PREFIX.lm.txt,
// its "landmarks,dimensions" row), else a word "2d" or "3d" in the file's
// name ("skulls_3D.txt").
#pragma once

#include "platform/value.hpp"

#include <string>

namespace quillan {

struct DimensionHint {
    int dimensions = 0;  // 0: nothing beside the numbers says
    std::string source;  // what said it, for the file box and messages
};
DimensionHint dimension_hint(const std::string& path);

// Whether every row's last value is the centroid size of its landmarks read
// with `dimensions` coordinates each (to 1e-6), as the bundled files and
// convert's tables have it: then that reading is the one the file was
// written in.
bool last_value_is_centroid_size(const Matrix& table, int dimensions);

// Where the rows of `table`, read with `read_as` coordinates per landmark,
// would also fit the other reading (or fit only the other): the warning
// that names both and how to choose; empty where the width allows only the
// reading taken, or the last values show it is the one.
std::string width_warning(const std::string& name, const Matrix& table, int read_as);

}  // namespace quillan
