// How a group or covariate table loaded for one set of specimens goes with
// another: by specimen ID where both carry IDs, else row by row when the
// counts agree.  Pairing rows of another order by position gives wrong
// numbers without a word, so IDs always win, and a pairing by row is said.
#pragma once

#include "platform/value.hpp"

#include <string>
#include <vector>

namespace quillan {

struct CompanionPairing {
    enum class Kind { ById, ByRow, Refused };
    Kind kind = Kind::Refused;
    // Row of the table for each specimen of the data (ById only).
    std::vector<Eigen::Index> rows;
    // Why the table cannot go with the data (Refused only), to follow the
    // table's name: the IDs missing on either side, or repeated, or the counts.
    std::string reason;
};

// `table_ids` (empty when unknown) are the table's rows, `data_ids` (empty
// when unknown) the specimens; `table_name` and `data_name` name them.
CompanionPairing pair_companion(const std::vector<std::string>& table_ids, Eigen::Index table_rows,
                                const std::vector<std::string>& data_ids, Eigen::Index data_rows, const std::string& table_name,
                                const std::string& data_name);

// The rows of `table` in the order `rows` gives.
Matrix reorder_rows(const Matrix& table, const std::vector<Eigen::Index>& rows);

// A kept table's description ending with a line that says how it goes
// with `data_name` (in place of such a line from before); and the
// description without that line.
std::string with_pairing_line(const std::string& info, CompanionPairing::Kind kind, const std::string& data_name);
std::string without_pairing_line(const std::string& info);

}  // namespace quillan
