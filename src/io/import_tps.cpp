#include "io/import.hpp"
#include "io/import_reading.hpp"
#include "io/import_refusal.hpp"

#include "platform/capped_read.hpp"
#include "platform/stop_request.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace quillan::io {

namespace {

// "KEY=value" lines of TPS files; the key in capitals.
bool keyword(const std::string& line, std::string& key, std::string& value) {
    const auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    std::string k = trim(line.substr(0, eq));
    for (char c : k)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    key.clear();
    for (char c : k) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    value = trim(line.substr(eq + 1));
    return true;
}

// Reads a TPS file line by line.  Each specimen is an LM= block of
// coordinate lines; the other entries (ID=, SCALE=, ...) belong to the block
// before them.
class TpsReader {
public:
    TpsReader(const TextFile& f, bool keep_curves) : f_(f), n_(f.lines.size()), keep_curves_(keep_curves) {
        t_.path = f.path;
        t_.name = f.name;
        t_.image_coordinates = true;
    }
    SpecimenTable read();

private:
    const TextFile& f_;
    const std::size_t n_;
    const bool keep_curves_;
    SpecimenTable t_;
    std::vector<std::vector<int>> curves_;  // points of each curve, per specimen
    std::vector<std::optional<double>> scales_;
    std::vector<int> scale_lines_;
    long long skipped_points_ = 0, skipped_curves_ = 0;
    std::size_t i_ = 0;  // the line being read (0-based)

    std::size_t count_of(int line, const std::string& specimen, const std::string& key, const std::string& value,
                         const std::string& what) const;
    std::string specimen_ahead(std::size_t s) const;
    void read_block(int number, const std::string& key, const std::string& value);
    void read_coordinates(std::size_t k, int number, const std::string& specimen);
    void skip_points(int number, const std::string& value);
    void keep_points(int number, const std::string& value);
    void check_curves();
    void count_curves(int number, const std::string& value) {
        // Checked as POINTS= is: a whole count, no more than the file has lines.
        count_of(number, t_.coords.empty() ? "" : t_.specimen_name(t_.coords.size() - 1), "CURVES", value, "curves");
        ++skipped_curves_;
    }
    void read_entry(int number, const std::string& key, const std::string& value);
    void read_variables(int number, std::size_t s, const std::string& value);
    void apply_scales();
};

bool is_keyword_line(const std::string& line) {
    std::string k, v;
    return keyword(trim(line), k, v);
}

// A count of an LM= or POINTS= entry: a whole number, and no more than the
// file has lines (a larger one is checked before it is converted, which a
// double past the size type's range would not survive).
std::size_t TpsReader::count_of(int line, const std::string& specimen, const std::string& key, const std::string& value,
                                const std::string& what) const {
    const auto d = parse_number(value);
    if (!d || *d < 0 || *d != std::floor(*d))
        refuse(t_.path, line, specimen, key + "= needs a whole count, not " + in_quotes(value));
    if (*d > static_cast<double>(n_))
        refuse(t_.path, line, specimen,
               key + "=" + quoted_snippet(value) + " announces more " + what + " than the file has lines (" + std::to_string(n_) +
                   ")");
    return static_cast<std::size_t>(*d);
}

// tpsDig writes ID= after the coordinates: look ahead so messages name the specimen.
std::string TpsReader::specimen_ahead(std::size_t s) const {
    for (std::size_t a = i_ + 1; a < n_; ++a) {
        std::string ak, av;
        if (!keyword(trim(f_.lines[a]), ak, av)) continue;
        if (ak == "LM" || ak == "LM3") break;
        if (ak == "ID" && !av.empty()) return av;
    }
    return "number " + std::to_string(s + 1);
}

// LM= blocks hold x y per line, LM3= blocks x y z; a file holds one kind.
void TpsReader::read_block(int number, const std::string& key, const std::string& value) {
    const std::size_t s = t_.coords.size();
    const std::string specimen = specimen_ahead(s);
    const int dimensions = key == "LM3" ? 3 : 2;
    if (s > 0 && dimensions != t_.dimensions)
        refuse(t_.path, number, specimen,
               "an " + key + "= block of " + std::to_string(dimensions) + "-D landmarks, but the first specimen's are " +
                   std::to_string(t_.dimensions) + "-D; every specimen needs landmarks of the same dimension");
    t_.dimensions = dimensions;
    // Landmarks in space are not digitised on an image: negative coordinates are points.
    t_.image_coordinates = dimensions == 2;
    const std::size_t k = count_of(number, specimen, key, value, "landmarks");
    t_.coords.emplace_back();
    t_.ids.emplace_back();
    t_.id_lines.push_back(0);
    t_.lines.push_back(number);
    t_.sizes.emplace_back();
    scales_.emplace_back();
    scale_lines_.push_back(0);
    curves_.emplace_back();
    if (k == 0) refuse(t_.path, number, specimen, key + "=0 announces no landmarks");
    read_coordinates(k, number, specimen);
    if (s == 0) t_.fixed = static_cast<int>(k);
    if (s > 0 && k != static_cast<std::size_t>(t_.fixed))
        refuse(t_.path, number, specimen,
               "has " + std::to_string(k) + " landmarks, but the first specimen has " + std::to_string(t_.fixed) +
                   "; every specimen needs the same landmarks");
    i_ += k;
}

void TpsReader::read_coordinates(std::size_t k, int number, const std::string& specimen) {
    const auto d = static_cast<std::size_t>(t_.dimensions);
    const std::size_t before = t_.coords.back().size() / d;  // landmarks read before this block
    for (std::size_t j = 0; j < k; ++j) {
        const std::size_t li = i_ + 1 + j;
        if (li >= n_ || is_keyword_line(f_.lines[li]) || trim(f_.lines[li]).empty())
            refuse(t_.path, number, specimen,
                   std::string(d == 3 ? "LM3=" : "LM=") + std::to_string(k) + " announces " + std::to_string(k) +
                       " landmarks but only " + std::to_string(j) + " coordinate lines follow (a truncated block?)");
        std::string row = f_.lines[li];
        std::replace(row.begin(), row.end(), ',', ' ');
        const auto tokens = split_blanks(row);
        const int line = static_cast<int>(li) + 1;
        if (tokens.size() != d)
            refuse(t_.path, line, specimen,
                   "landmark " + std::to_string(j + 1) +
                       (d == 3 ? " should be three numbers (x y z)" : " should be two numbers (x y)") + " but the line has " +
                       std::to_string(tokens.size()) + " values");
        const int landmark = static_cast<int>(before + j) + 1;
        for (const auto& tok : tokens) t_.coords.back().push_back(coordinate(t_, line, specimen, landmark, tok));
    }
}

// Outline points are not landmarks: each POINTS= block is skipped, and counted.
void TpsReader::skip_points(int number, const std::string& value) {
    const std::string specimen = t_.coords.empty() ? "" : t_.specimen_name(t_.coords.size() - 1);
    const std::size_t p = count_of(number, specimen, "POINTS", value, "points");
    for (std::size_t j = 0; j < p; ++j)
        if (i_ + 1 + j >= n_ || is_keyword_line(f_.lines[i_ + 1 + j]))
            refuse(t_.path, number, specimen,
                   "POINTS=" + std::to_string(p) + " announces " + std::to_string(p) + " points but only " + std::to_string(j) +
                       " lines follow");
    skipped_points_ += static_cast<long long>(p);
    i_ += p;
}

// Outline points kept as semilandmarks: read like the landmarks, after them.
void TpsReader::keep_points(int number, const std::string& value) {
    if (t_.coords.empty()) refuse(t_.path, number, "", "POINTS= comes before the first LM= block");
    const std::size_t s = t_.coords.size() - 1;
    const std::string specimen = t_.ids[s].empty() ? specimen_ahead(s) : t_.ids[s];
    const std::size_t p = count_of(number, specimen, "POINTS", value, "points");
    if (p < 3)
        refuse(t_.path, number, specimen,
               "POINTS=" + std::to_string(p) +
                   ": a curve of semilandmarks needs at least 3 points (its two ends and one that slides)");
    read_coordinates(p, number, specimen);
    curves_.back().push_back(static_cast<int>(p));
    i_ += p;
}

std::string point_counts(const std::vector<int>& curves) {
    std::string out;
    for (std::size_t c = 0; c < curves.size(); ++c) out += (c ? ", " : "") + std::to_string(curves[c]);
    return out;
}

// What differs between two specimens' curves: how many there are, or the
// points of each, curve by curve.
std::string curve_difference(const std::vector<int>& these, const std::vector<int>& first) {
    if (these.size() != first.size()) return std::to_string(these.size()) + " curves against " + std::to_string(first.size());
    return "curves of " + point_counts(these) + " points against " + point_counts(first);
}

// Every specimen needs the same curves, with the same numbers of points.
void TpsReader::check_curves() {
    if (!keep_curves_) return;
    for (std::size_t s = 1; s < curves_.size(); ++s)
        if (curves_[s] != curves_.front())
            refuse(t_.path, t_.lines[s], t_.specimen_name(s),
                   "its curves differ from the first specimen's (" + curve_difference(curves_[s], curves_.front()) +
                       "); every specimen needs the same semilandmarks");
    t_.curve_points = curves_.front();
}

// Either the values themselves, or their names with the values on the next line.
void TpsReader::read_variables(int number, std::size_t s, const std::string& value) {
    auto items = split_list(value);
    const bool numeric = !items.empty() && std::all_of(items.begin(), items.end(),
                                                       [](const std::string& x) { return parse_number(x).has_value(); });
    if (numeric) {
        for (std::size_t j = 0; j < items.size(); ++j) set_cell(t_, "variable " + std::to_string(j + 1), s, items[j]);
    } else if (!items.empty()) {
        const auto values = i_ + 1 < n_ ? split_list(f_.lines[i_ + 1]) : std::vector<std::string>{};
        if (values.size() != items.size())
            refuse(t_.path, number + 1, t_.specimen_name(s),
                   "VARIABLES= names " + std::to_string(items.size()) + " variables but the next line holds " +
                       std::to_string(values.size()) + " values");
        for (std::size_t j = 0; j < items.size(); ++j) set_cell(t_, items[j], s, values[j]);
        ++i_;
    }
}

void TpsReader::read_entry(int number, const std::string& key, const std::string& value) {
    if (t_.coords.empty()) refuse(t_.path, number, "", key + "= comes before the first LM= block");
    const std::size_t s = t_.coords.size() - 1;
    if (key == "ID") {
        t_.ids[s] = value;
        t_.id_lines[s] = number;
    } else if (key == "IMAGE" || key == "COMMENT") {
        set_cell(t_, key, s, value);
    } else if (key == "SCALE") {
        const auto d = parse_number(value);
        if (!d || *d <= 0)
            refuse(t_.path, number, t_.specimen_name(s), "SCALE= needs a positive number, not " + in_quotes(value));
        scales_[s] = *d;
        scale_lines_[s] = number;
    } else if (key == "VARIABLES") {
        read_variables(number, s, value);
    } else {
        t_.notices.push_back("Line " + std::to_string(number) + ": the entry " + key + "= is not used.");
    }
}

// SCALE= turns digitiser units into real ones.  A product too large for a
// double is refused here, where the line that caused it is known.
void TpsReader::apply_scales() {
    std::size_t scaled = 0;
    for (std::size_t s = 0; s < t_.coords.size(); ++s) {
        if (!scales_[s]) continue;
        ++scaled;
        for (std::size_t j = 0; j < t_.coords[s].size(); ++j) {
            const double before = t_.coords[s][j];
            t_.coords[s][j] *= *scales_[s];
            if (!std::isfinite(t_.coords[s][j]) && !std::isnan(before))
                refuse(t_.path, scale_lines_[s], t_.specimen_name(s),
                       "landmark " + std::to_string(j / static_cast<std::size_t>(t_.dimensions) + 1) +
                           " is not a finite number once scaled (" + number_text(before) +
                           " times SCALE=" + number_text(*scales_[s]) + ")");
        }
    }
    if (scaled == 0 || scaled == t_.coords.size()) return;
    std::string unscaled;
    int listed = 0;
    for (std::size_t s = 0; s < t_.coords.size(); ++s)
        if (!scales_[s] && listed < 5) unscaled += (listed++ ? ", " : "") + quoted_snippet(t_.specimen_name(s));
    if (t_.coords.size() - scaled > 5) unscaled += ", ...";
    t_.warnings.push_back(std::to_string(t_.coords.size() - scaled) + " of " + std::to_string(t_.coords.size()) +
                          " specimens in " + t_.name + " have no SCALE= and were left in their own units (" + unscaled +
                          "); sizes and coordinates of scaled and unscaled specimens are not comparable.");
}

SpecimenTable TpsReader::read() {
    std::string key, value;
    for (i_ = 0; i_ < n_; ++i_) {
        stop_point();
        const std::string line = trim(f_.lines[i_]);
        const int number = static_cast<int>(i_) + 1;
        if (line.empty()) continue;
        if (!keyword(line, key, value)) {
            const std::string specimen = t_.coords.empty() ? "" : t_.specimen_name(t_.coords.size() - 1);
            refuse(t_.path, number, specimen,
                   "unexpected line " + in_quotes(line) +
                       (t_.coords.empty() ? " before the first LM= block"
                                          : " after the landmarks of the block: more coordinate lines than LM= announced?"));
        }
        if (key == "LM" || key == "LM3") read_block(number, key, value);
        else if (key == "CURVES") count_curves(number, value);
        else if (key == "POINTS" && keep_curves_) keep_points(number, value);
        else if (key == "POINTS") skip_points(number, value);
        else read_entry(number, key, value);
    }
    if (t_.coords.empty()) refuse(t_.path, 0, "", "it holds no LM= block");
    check_curves();
    t_.landmarks = static_cast<int>(t_.coords.front().size() / static_cast<std::size_t>(t_.dimensions));
    apply_scales();
    if (skipped_points_ > 0 || (skipped_curves_ > 0 && !keep_curves_))
        t_.warnings.push_back(std::to_string(skipped_points_) + " outline points (CURVES=/POINTS= blocks) in " + t_.name +
                              " were skipped: only the " + (t_.dimensions == 3 ? "LM3=" : "LM=") +
                              " landmarks were imported. To analyse the outlines, import the file "
                              "again with a Curves choice that slides them (--semilandmarks in quillan-batch).");
    finish_columns(t_);
    return std::move(t_);
}

}  // namespace

SpecimenTable read_tps(const TextFile& f, bool keep_curves) { return TpsReader(f, keep_curves).read(); }

}  // namespace quillan::io
