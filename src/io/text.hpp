// Small text helpers the importers share: reading a whole file as lines
// (a UTF-8 byte-order mark dropped; LF, CR LF and bare CR line ends all
// accepted), splitting delimited rows and reading numbers strictly.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillan::io {

struct TextFile {
    std::string path;                // as given, for messages
    std::string name;                // without its folder
    std::vector<std::string> lines;  // without their line ends
};

// Reads a file; fails with a message naming it when it cannot be read.
TextFile read_text_file(const std::string& path);
// The same for text already in memory (tests, the factor table).
TextFile text_from_bytes(std::string bytes, const std::string& path);

std::string trim(std::string_view s);
std::string lower(std::string_view s);

// A whole token read as a number: decimal or exponent notation with an
// optional sign; nothing else may follow.  No value for anything else.
std::optional<double> parse_number(std::string_view token);

// Splits at blanks and tabs (runs of them count as one).
std::vector<std::string> split_blanks(std::string_view line);
// Splits one row of a delimited table; double quotes protect delimiters and
// a doubled quote inside quotes stands for one.  Cells are trimmed.
std::vector<std::string> split_delimited(std::string_view line, char delimiter);

// The number written so that it reads back as the same double.
std::string number_text(double d);

}  // namespace quillan::io
