// How an import refuses a file: the file, the line and the specimen when
// they are known, what is wrong, and that nothing was imported.  Shared by
// the readers and by the steps after them (gaps, curves).
#pragma once

#include "platform/capped_read.hpp"
#include "platform/error.hpp"

#include <string>

namespace quillan::io {

[[noreturn]] inline void refuse(const std::string& file, int line, const std::string& specimen, const std::string& what) {
    std::string where = "The file " + file + " could not be imported: ";
    if (line > 0) where += "line " + std::to_string(line) + ", ";
    if (!specimen.empty()) where += "specimen " + quoted_snippet(specimen) + ": ";
    throw QuillanError(where + what + ". Nothing was imported.");
}

}  // namespace quillan::io
