// Reading the three input files and writing the saved report.
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/paths.hpp"
#include "platform/stop_request.hpp"
#include "shell/runner.hpp"
#include "shell/text_lines.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace quillan {

namespace {

bool blank(std::string_view line) {
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

}  // namespace

LoadedTable dload_file(const std::string& path, const ReadLimits& limits) {
    const std::string bytes = read_file_capped(path, limits);
    // Lines keep their line end; a last line without one is a line too,
    // however short.
    const std::vector<std::string_view> lines = split_file_lines(bytes);
    if (lines.empty()) throw QuillanError("The file " + path + " is empty. Nothing was loaded.");

    LoadedTable out;
    // Every row goes into one buffer, row after row, as the table stores them.
    std::vector<double> values;
    std::size_t width = 0, rows = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i % 1024 == 0) stop_point();
        const std::string_view line = lines[i];
        const double number = static_cast<double>(i) + 1;
        // A line holding nothing but its line end ends the table (the first
        // line is always read).
        if (i > 0 && is_only_line_end(line)) {
            out.end_line = static_cast<int>(number);
            for (std::size_t j = i + 1; j < lines.size(); ++j)
                if (!blank(lines[j])) ++out.ignored_lines;
            break;
        }
        if (line.size() > limits.line_bytes)
            throw QuillanError(
                format_expand_reuse("The file %s could not be loaded: line %i is %i bytes long, longer than any line of a table "
                                    "of numbers should be. Nothing was loaded.",
                                    {path, number, static_cast<double>(line.size())}));
        const std::size_t before = values.size();
        const bool read = append_numbers(line, values);
        const std::size_t count = values.size() - before;
        if (!read || count == 0) {
            if (blank(line))
                throw QuillanError(format_expand_reuse(
                    "The file %s could not be loaded: line %i holds no numbers. Nothing was loaded.", {path, number}));
            throw QuillanError(format_expand_reuse(
                "The file %s could not be loaded: line %i is not a list of numbers (\"%s\"). Nothing was loaded.",
                {path, number, quoted_snippet(line)}));
        }
        // Every line must hold as many values as the first: a single value
        // is not spread across a wider row, which would silently invent data.
        if (i == 0) {
            width = count;
            // Room for as many rows as lines of this length would fill the
            // file (up to 512 MB of values), so the buffer is not moved again
            // and again as it grows.
            values.reserve(std::min(width * (bytes.size() / line.size() + 1), std::size_t{1} << 26));
        } else if (count != width)
            throw QuillanError(format_expand_reuse(
                "The file %s could not be loaded: line %i has %i value%s, but line 1 has %i. Nothing was loaded.",
                {path, number, static_cast<double>(count), count == 1 ? "" : "s", static_cast<double>(width)}));
        ++rows;
    }
    out.x = Eigen::Map<const Matrix>(values.data(), static_cast<Eigen::Index>(rows), static_cast<Eigen::Index>(width));
    return out;
}

Matrix dload(const std::string& path) { return dload_file(path).x; }

MfloadResult mfload_path(const std::string& path) {
    const std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path));
    std::string folder = p.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    MfloadResult r;
    r.fn = p.filename().string();
    r.path = join_path(folder, r.fn);
    r.table = dload_file(r.path);
    return r;
}

bool names_its_columns(const std::string& path) {
    // The first non-blank line, within the first 64 KiB (a header is short).
    std::ifstream in(path, std::ios::binary);
    std::string head(65536, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    std::vector<std::string> words;
    std::string word;
    for (const char c : head + '\n') {
        if (c == ',' || c == ';' || c == '\t' || c == ' ' || c == '\r' || c == '\n') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (c == '\n' && !words.empty()) break;
        } else {
            word += c;
        }
    }
    return words.size() >= 2 && std::none_of(words.begin(), words.end(), [](const std::string& w) {
               std::vector<double> v;
               return append_numbers(w, v);
           });
}

std::string report_file_text(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += "\n ";
        text += line;
    }
    return text;
}

void write_report_file(const std::string& path, const std::vector<std::string>& lines, const SaveWarningFn& warn) {
    const std::string text = report_file_text(lines);
    if (warn) write_file_atomically(path, text, warn);
    else write_file_atomically(path, text);
}

}  // namespace quillan
