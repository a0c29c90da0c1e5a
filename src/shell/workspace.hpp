// The workspace: what stays loaded from one action to the next.  Only the
// three load actions and "Clear" change it; every analysis reads it and keeps
// everything else it computes local.
#pragma once

#include "io/import.hpp"
#include "platform/value.hpp"

#include <string>

namespace quillan {

struct Workspace {
    Matrix data;   // landmark table: one row per specimen, x1 y1 ... xk yk and a trailing value
    Matrix glist;  // group list: one or two (or more) columns of group codes
    Matrix clist;  // covariate list: one value per specimen
    std::string dfileinfo;  // description of the landmark file
    std::string gfileinfo;  // description of the group file
    std::string cfileinfo;  // description of the covariate file
    // Beside the six: where the tables came from (for the record of a
    // report) and, after an import, the IDs and the words behind the codes.
    std::string data_path, groups_path, covariate_path;
    io::Legend legend;
};

}  // namespace quillan
