// What the readers of every format share: how a coordinate is read (a
// placeholder of a landmark not placed becomes a gap), how the cells of a
// file's other columns are kept, and the factor table any format may bring
// beside it.
#pragma once

#include "io/import.hpp"

#include <string>
#include <vector>

namespace quillan::io {

// Notes a landmark of the specimen being read as not placed; its
// coordinates become NaN.
double gap(SpecimenTable& t, int line, int landmark, const std::string& token);
// Reads one coordinate of the last specimen; notes placeholders as gaps, refuses text.
double coordinate(SpecimenTable& t, int line, const std::string& specimen, int landmark, const std::string& token);
// The items of a list separated by commas or blanks.
std::vector<std::string> split_list(const std::string& s);
// Sets the cell of a specimen in the named column, adding the column.
void set_cell(SpecimenTable& t, const std::string& column, std::size_t specimen, const std::string& value);
// Gives every column a cell (empty when the file had none) per specimen.
void finish_columns(SpecimenTable& t);
// Factors and covariates of a separate table, matched to the specimens by ID.
void merge_factor_table(SpecimenTable& t, const TextFile& f, const std::string& id_column);

}  // namespace quillan::io
