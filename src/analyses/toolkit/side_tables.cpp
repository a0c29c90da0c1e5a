#include "analyses/toolkit/side_tables.hpp"

#include "platform/capped_read.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <string_view>

namespace quillan {

namespace {

std::string quoted_word(const std::string& word) { return "\"" + quoted_snippet(word) + "\""; }

std::string at_line(const std::string& what, const SideFile& f, const SideLine& line) {
    return what + " " + printable_text(f.path) + ", line " + std::to_string(line.line);
}

// A whole cell as a finite number in decimal or exponent notation; no
// value for anything else (words, hexadecimal, infinities, overflow).
std::optional<double> finite_number(std::string_view cell) {
    if (!cell.empty() && cell.front() == '+') cell.remove_prefix(1);
    if (cell.empty() || cell.front() == '+') return std::nullopt;
    double v = 0;
    const auto r = std::from_chars(cell.data(), cell.data() + cell.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != cell.data() + cell.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// A landmark number: whole digits only, 1 to the largest int.
std::optional<int> landmark_number(std::string_view word) {
    if (word.empty() || !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    int v = 0;
    const auto r = std::from_chars(word.data(), word.data() + word.size(), v);
    if (r.ec != std::errc() || r.ptr != word.data() + word.size() || v < 1) return std::nullopt;
    return v;
}

// The cells of a line of the second block: its words split again at commas.
std::vector<std::string> cells_of(const SideLine& line) {
    std::vector<std::string> cells;
    for (const std::string& word : line.words)
        for (std::size_t from = 0; from <= word.size();) {
            const std::size_t end = std::min(word.find(',', from), word.size());
            if (end > from) cells.push_back(word.substr(from, end - from));
            from = end + 1;
        }
    return cells;
}

}  // namespace

std::vector<int> partition_of(const SideFile* file, int landmarks, std::vector<std::string>* labels) {
    if (!file)
        throw Refused(
            "This analysis needs a partition of the landmarks into modules: give its file with --partition FILE, or in the "
            "Partition box of the Toolkit page.");
    const std::string where = "The partition file " + printable_text(file->path);
    std::vector<std::string> seen;
    std::map<std::string, int> number;  // of each label seen
    std::vector<int> module;
    for (const SideLine& line : file->lines)
        for (const std::string& word : line.words) {
            const auto [it, added] = number.emplace(word, static_cast<int>(seen.size()));
            if (added) seen.push_back(word);
            module.push_back(it->second);
        }
    if (static_cast<int>(module.size()) != landmarks)
        throw Refused(where + " gives " + std::to_string(module.size()) + " labels, but the specimens have " +
                      std::to_string(landmarks) + " landmarks: give one label per landmark, in landmark order.");
    if (seen.size() < 2) throw Refused(where + " puts every landmark into one module; it needs at least two modules.");
    std::vector<int> sizes(seen.size(), 0);
    for (int m : module) ++sizes[static_cast<std::size_t>(m)];
    for (std::size_t m = 0; m < seen.size(); ++m) {
        if (sizes[m] < 2)
            throw Refused(where + " gives module " + quoted_word(seen[m]) +
                          " a single landmark; every module needs at least two.");
    }
    if (labels) *labels = seen;
    return module;
}

Eigen::MatrixXd block_of(const SideFile* file, Eigen::Index specimens, std::vector<std::string>& names) {
    if (!file)
        throw Refused(
            "A PLS of shape needs a second block: give its table with --block2 FILE, or in the Second block box of the Toolkit "
            "page.");
    std::vector<std::vector<double>> rows;
    for (const SideLine& line : file->lines) {
        const std::vector<std::string> cells = cells_of(line);
        if (cells.empty()) continue;
        std::vector<double> row;
        const auto text = std::find_if(cells.begin(), cells.end(), [&](const std::string& c) {
            const auto v = finite_number(c);
            if (v) row.push_back(*v);
            return !v;
        });
        if (text != cells.end() && rows.empty() && names.empty()) {
            names = cells;
            continue;
        }
        const std::string where = at_line("The table", *file, line);
        if (text != cells.end()) throw Refused(where + ", holds something that is not a number: " + quoted_word(*text) + ".");
        if (!rows.empty() && row.size() != rows.front().size())
            throw Refused(where + ", has " + std::to_string(row.size()) + " values; the lines before it have " +
                          std::to_string(rows.front().size()) + ".");
        rows.push_back(std::move(row));
    }
    if (static_cast<Eigen::Index>(rows.size()) != specimens)
        throw Refused("The table " + printable_text(file->path) + " has " + std::to_string(rows.size()) +
                      " rows of numbers, but " + std::to_string(specimens) +
                      " specimens are loaded: give one row per specimen, in their order.");
    Eigen::MatrixXd block(specimens, static_cast<Eigen::Index>(rows.front().size()));
    for (Eigen::Index i = 0; i < block.rows(); ++i)
        for (Eigen::Index j = 0; j < block.cols(); ++j)
            block(i, j) = rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    for (Eigen::Index j = 0; j < block.cols(); ++j)
        if (block.col(j).maxCoeff() == block.col(j).minCoeff())
            throw Refused("Column " + std::to_string(j + 1) + " of the table " + printable_text(file->path) +
                          " has the same value for every specimen; it cannot covary with shape.");
    if (names.size() != static_cast<std::size_t>(block.cols())) names.clear();
    return block;
}

std::vector<std::pair<int, int>> land_pairs_of(const SideFile& file) {
    std::vector<std::pair<int, int>> pairs;
    for (const SideLine& line : file.lines) {
        const std::optional<int> a = landmark_number(line.words[0]);
        const std::optional<int> b = line.words.size() == 2 ? landmark_number(line.words[1]) : std::nullopt;
        if (!a || !b || *a == *b)
            throw Refused(at_line("The land pairs file", file, line) +
                          ": give two different landmark numbers, the two of a pair (whole numbers from 1).");
        pairs.emplace_back(*a - 1, *b - 1);
    }
    return pairs;
}

}  // namespace quillan
