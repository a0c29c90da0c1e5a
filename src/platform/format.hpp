// Text operations the reports and file descriptions are built with: the
// formatted print, text-to-number and the concatenation that joins report
// pieces.  Their exact results are relied on by every report, so they are
// written out here instead of being left to the C library's corners.
#pragma once

#include "platform/value.hpp"

#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace quillan {

// One argument of the formatted print: a number or a text.
struct FmtArg {
    std::variant<double, std::string> v;
    template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
    FmtArg(T d) : v(static_cast<double>(d)) {}
    FmtArg(std::string s) : v(std::move(s)) {}
    FmtArg(const char* s) : v(std::string(s)) {}
};

// Formatted print with printf rules and these additions:
//  - the two characters backslash and n in the format become a line feed
//    (likewise backslash-t and a doubled backslash);
//  - a value given to %i or %d that is not whole prints in exponent form,
//    5.500000e+00;
//  - not-a-number and the infinities print as NaN, Inf and -Inf;
//  - when the arguments outlast the format, the format is used again; when
//    they run out, the output stops before the first conversion without one.
std::string format_expand_reuse(std::string_view format, const std::vector<FmtArg>& args = {});

// Joins texts end to end after dropping each piece's trailing blanks (spaces
// only: line feeds and tabs at the end of a piece are kept).
std::string concat_trimmed(const std::vector<std::string>& pieces);

// The numbers of a text, as a row: decimal or exponent notation with an
// optional sign (and Inf, NaN), separated by blanks, tabs, commas, carriage
// returns or line feeds.  Empty when the text holds no number or cannot be
// read as a whole.
std::vector<double> str2num(std::string_view text);
// The same numbers appended to `out`; false, with `out` as it was, when the
// text cannot be read as a whole.  A text holding no number appends nothing
// and is read.  The table readers fill one buffer a line at a time with it.
bool append_numbers(std::string_view text, std::vector<double>& out);

// A number or a matrix written for the console: a scalar in short form, a
// matrix as its rows.
std::string format_number(double d);
std::string format_matrix(const Matrix& m);

// Splits a text into lines at line feeds; an empty text has no lines.
std::vector<std::string> split_lines(const std::string& text);

}  // namespace quillan
