#include "shell/dimension_hints.hpp"

#include "platform/format.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace quillan {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The row convert writes second, after the header; a few lines are read,
// never the whole legend (one row per specimen follows).
int legend_dimensions(const std::filesystem::path& legend) {
    constexpr int kLinesRead = 8;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(legend, ec)) return 0;
    std::ifstream in(legend);
    std::string line;
    for (int i = 0; i < kLinesRead && std::getline(in, line); ++i) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "landmarks,dimensions,2,") return 2;
        if (line == "landmarks,dimensions,3,") return 3;
    }
    return 0;
}

// "3d" or "2d" as a word of the name, between separators or at its ends.
int name_dimensions(const std::string& name) {
    const std::string l = lower(name);
    for (std::size_t at = 0; (at = l.find('d', at)) != std::string::npos; ++at) {
        if (at == 0 || (l[at - 1] != '2' && l[at - 1] != '3')) continue;
        const bool starts = at == 1 || !std::isalnum(static_cast<unsigned char>(l[at - 2]));
        const bool ends = at + 1 == l.size() || !std::isalnum(static_cast<unsigned char>(l[at + 1]));
        if (starts && ends) return l[at - 1] - '0';
    }
    return 0;
}

}  // namespace

DimensionHint dimension_hint(const std::string& path) {
    const std::filesystem::path p(path);
    const std::string name = p.filename().string();
    std::string stem = name;
    for (const char* ext : {".lm.txt", ".txt"})
        if (ends_with(lower(stem), ext)) {
            stem.resize(stem.size() - std::string(ext).size());
            break;
        }
    const std::filesystem::path legend = p.parent_path() / (stem + ".legend.csv");
    if (const int d = legend_dimensions(legend)) return {d, "its legend " + legend.filename().string()};
    if (const int d = name_dimensions(name)) return {d, "its name"};
    return {};
}

bool last_value_is_centroid_size(const Matrix& table, int dimensions) {
    const Eigen::Index n = table.cols(), k = (n - 1) / dimensions;
    if (table.rows() == 0 || k < 1 || k * dimensions + 1 != n) return false;
    for (Eigen::Index i = 0; i < table.rows(); ++i) {
        double squares = 0;
        for (int a = 0; a < dimensions; ++a) {
            double mean = 0;
            for (Eigen::Index b = 0; b < k; ++b) mean += table(i, b * dimensions + a);
            mean /= static_cast<double>(k);
            for (Eigen::Index b = 0; b < k; ++b) squares += std::pow(table(i, b * dimensions + a) - mean, 2);
        }
        const double size = std::sqrt(squares);
        const double t = table(i, n - 1);
        if (!(std::abs(size - t) <= 1e-6 * std::max(std::abs(t), 1e-300))) return false;
    }
    return true;
}

std::string width_warning(const std::string& name, const Matrix& table, int read_as) {
    const Eigen::Index numbers = table.cols();
    const bool plane = numbers % 2 == 1 && numbers >= 7, space = numbers % 3 == 1 && numbers >= 10;
    const auto n = static_cast<double>(numbers);
    if ((plane || space) && last_value_is_centroid_size(table, read_as)) return {};
    if (read_as == 2 && space && plane)
        return format_expand_reuse(
            "%s has %i numbers a line: %i landmarks in the plane, or %i in space, and nothing beside it says which. It was "
            "read as %i landmarks in the plane; if they are in space, load it again with 3-D ticked (quillan-batch: -d 3).",
            {name, n, (n - 1) / 2, (n - 1) / 3, (n - 1) / 2});
    if (read_as == 2 && space)
        return format_expand_reuse(
            "%s has %i numbers a line, which fit %i landmarks in space but no whole number in the plane. If they are in "
            "space, load it again with 3-D ticked (quillan-batch: -d 3).",
            {name, n, (n - 1) / 3});
    return {};
}

}  // namespace quillan
