// How an import refuses a file: the file, the line and the specimen when
// they are known, what is wrong, and that nothing was imported.  Shared by
// the readers and by the steps after them (gaps, curves).
#pragma once

#include "platform/capped_read.hpp"
#include "platform/error.hpp"

#include <string>

namespace quillan::io {

// Text of a file as a message quotes it: shortened, and with control bytes
// written out so that none reaches the terminal.
inline std::string in_quotes(const std::string& s) { return "\"" + quoted_snippet(s) + "\""; }

// " (line N)" after a specimen's name in a list, where its line is known.
inline std::string at_line(int line) { return line > 0 ? " (line " + std::to_string(line) + ")" : ""; }

[[noreturn]] inline void refuse(const std::string& file, int line, const std::string& specimen, const std::string& what) {
    std::string where = "The file " + file + " could not be imported: ";
    if (line > 0) where += "line " + std::to_string(line) + ", ";
    if (!specimen.empty()) where += "specimen " + quoted_snippet(specimen) + ": ";
    throw QuillanError(where + what + ". Nothing was imported.");
}

}  // namespace quillan::io
