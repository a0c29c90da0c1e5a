// What import and export write.  Every file goes through write_output, which
// is write_file_atomically (platform/atomic_file.hpp): a failed write leaves
// an existing file whole, and only a regular file is replaced.
#pragma once

#include "io/import.hpp"
#include "platform/atomic_file.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace quillan::io {

void write_output(const std::string& path, std::string_view content);

// quillan's own table format: one row per specimen, numbers separated by
// single blanks, written so that they read back as the same doubles.
std::string table_text(const Matrix& m);

// The legend as a small table: what,name,code,label.  Rows "factor" give a
// group column's code and word; "specimen" rows the ID of each row number;
// a "covariate" row names the covariate column; the "landmarks" row, the
// second line, says how many coordinates each landmark of the table beside
// it has (2 or 3), so that it loads back as it was written.
std::string legend_csv(const Legend& legend, int dimensions);

// A cell of a comma-separated file, quoted when it needs to be.
std::string csv_cell(const std::string& s);

// Writes PREFIX.lm.txt, PREFIX.groups.txt, PREFIX.cov.txt (the last two
// only when there is something to write, an older one removed otherwise) and
// PREFIX.legend.csv into `set`, which puts them in place all or none when
// it is committed; returns the paths written.
std::vector<std::string> write_converted(const ImportedData& d, const std::string& prefix, SaveSet& set);

}  // namespace quillan::io
