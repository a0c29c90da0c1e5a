// The model the shapes are size-corrected for, as a run names it: which size,
// logged or not, and the factor whose groups each have their own allometry.
#pragma once

#include <string>

namespace quillan {

struct SizeModel {
    std::string size = "C_size";  // a column of numbers of the loaded data, or C_size (the centroid size)
    bool logged = true;           // log(size), as geomorph's logsz
    std::string group;            // a factor: shape ~ size * group; empty: one slope for all

    // The size as the model takes it: "log(C_size)", or "C_size" as it is.
    std::string predictor() const { return logged ? "log(" + size + ")" : size; }
    // The model's right-hand side: "log(C_size)", "log(C_size) * species".
    std::string terms() const { return predictor() + (group.empty() ? "" : " * " + group); }
};

}  // namespace quillan
