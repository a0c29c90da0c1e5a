#include "io/import.hpp"
#include "io/import_refusal.hpp"

#include "io/import_steps.hpp"
#include "platform/capped_read.hpp"
#include "platform/error.hpp"
#include "platform/stop_request.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>

namespace quillan::io {

namespace {

// The usual placeholders of digitising programs for a landmark not placed.
bool missing_marker(const std::string& token) {
    const std::string t = lower(token);
    if (t.empty() || t == "na" || t == "nan" || t == "?" || t == "-") return true;
    const auto d = parse_number(token);
    return d && (*d == -99.0 || *d == -999.0);
}

// Notes a landmark of the specimen being read as not placed; its
// coordinates become NaN.
double gap(SpecimenTable& t, int line, int landmark, const std::string& token) {
    const std::size_t s = t.coords.size() - 1;
    if (t.gaps.empty() || t.gaps.back().specimen != s || t.gaps.back().landmark != landmark)
        t.gaps.push_back({s, landmark, line, token});
    return std::nan("");
}

// Reads one coordinate of the last specimen; notes placeholders as gaps, refuses text.
double coordinate(SpecimenTable& t, int line, const std::string& specimen, int landmark, const std::string& token) {
    if (missing_marker(token)) return gap(t, line, landmark, token);
    const auto d = parse_number(token);
    if (!d)
        refuse(t.path, line, specimen,
               "landmark " + std::to_string(landmark) + " has text where a coordinate belongs (" + in_quotes(token) + ")");
    return *d;
}

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

std::vector<std::string> split_list(const std::string& s) {
    std::string t = s;
    std::replace(t.begin(), t.end(), ',', ' ');
    return split_blanks(t);
}

void set_cell(SpecimenTable& t, const std::string& column, std::size_t specimen, const std::string& value) {
    auto it = std::find_if(t.columns.begin(), t.columns.end(), [&](const Column& c) { return c.name == column; });
    if (it == t.columns.end()) {
        t.columns.push_back({column, {}, {}, {}});
        it = t.columns.end() - 1;
    }
    if (it->cells.size() <= specimen) it->cells.resize(specimen + 1);
    it->cells[specimen] = value;
}

void finish_columns(SpecimenTable& t) {
    for (auto& c : t.columns) c.cells.resize(t.coords.size());
}

}  // namespace

std::string SpecimenTable::specimen_name(std::size_t i) const {
    if (i < ids.size() && !ids[i].empty()) return ids[i];
    return "number " + std::to_string(i + 1);
}

namespace {

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
    void read_block(int number, const std::string& value);
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

void TpsReader::read_block(int number, const std::string& value) {
    const std::size_t s = t_.coords.size();
    const std::string specimen = specimen_ahead(s);
    const std::size_t k = count_of(number, specimen, "LM", value, "landmarks");
    t_.coords.emplace_back();
    t_.ids.emplace_back();
    t_.id_lines.push_back(0);
    t_.lines.push_back(number);
    t_.sizes.emplace_back();
    scales_.emplace_back();
    scale_lines_.push_back(0);
    curves_.emplace_back();
    if (k == 0) refuse(t_.path, number, specimen, "LM=0 announces no landmarks");
    read_coordinates(k, number, specimen);
    if (s == 0) t_.fixed = static_cast<int>(k);
    if (s > 0 && k != static_cast<std::size_t>(t_.fixed))
        refuse(t_.path, number, specimen,
               "has " + std::to_string(k) + " landmarks, but the first specimen has " + std::to_string(t_.fixed) +
                   "; every specimen needs the same landmarks");
    i_ += k;
}

void TpsReader::read_coordinates(std::size_t k, int number, const std::string& specimen) {
    const std::size_t before = t_.coords.back().size() / 2;  // landmarks read before this block
    for (std::size_t j = 0; j < k; ++j) {
        const std::size_t li = i_ + 1 + j;
        if (li >= n_ || is_keyword_line(f_.lines[li]) || trim(f_.lines[li]).empty())
            refuse(t_.path, number, specimen,
                   "LM=" + std::to_string(k) + " announces " + std::to_string(k) + " landmarks but only " + std::to_string(j) +
                       " coordinate lines follow (a truncated block?)");
        std::string row = f_.lines[li];
        std::replace(row.begin(), row.end(), ',', ' ');
        const auto tokens = split_blanks(row);
        const int line = static_cast<int>(li) + 1;
        if (tokens.size() != 2)
            refuse(t_.path, line, specimen,
                   "landmark " + std::to_string(j + 1) + " should be two numbers (x y) but the line has " +
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
                       "landmark " + std::to_string(j / 2 + 1) + " is not a finite number once scaled (" + number_text(before) +
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
        if (key == "LM3") refuse(t_.path, number, "", "LM3= blocks hold 3-D landmarks; only 2-D landmarks can be analysed");
        if (key == "LM") read_block(number, value);
        else if (key == "CURVES") count_curves(number, value);
        else if (key == "POINTS" && keep_curves_) keep_points(number, value);
        else if (key == "POINTS") skip_points(number, value);
        else read_entry(number, key, value);
    }
    if (t_.coords.empty()) refuse(t_.path, 0, "", "it holds no LM= block");
    check_curves();
    t_.landmarks = static_cast<int>(t_.coords.front().size() / 2);
    apply_scales();
    if (skipped_points_ > 0 || (skipped_curves_ > 0 && !keep_curves_))
        t_.warnings.push_back(std::to_string(skipped_points_) + " outline points (CURVES=/POINTS= blocks) in " + t_.name +
                              " were skipped: only the LM= landmarks were imported. To analyse the outlines, import the file "
                              "again with a Curves choice that slides them (--semilandmarks in quillan-batch).");
    finish_columns(t_);
    return std::move(t_);
}

// NTS files: a header line (matrix type, rows, columns, missing-value flag
// and value, DIM=) and then the values, read as one stream of tokens.
struct NtsToken {
    std::string text;
    int line;
};

struct NtsHeader {
    std::size_t rows = 0, cols = 0;
    bool row_labels = false, col_labels = false;
    std::optional<std::string> missing;
    int line = 0;
};

std::vector<NtsToken> nts_tokens(const TextFile& f) {
    std::vector<NtsToken> tokens;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        const std::string line = trim(f.lines[i]);
        if (line.empty() || line.front() == '"') continue;  // comment
        for (auto& tok : split_list(line)) tokens.push_back({tok, static_cast<int>(i) + 1});
    }
    return tokens;
}

// A count of the header: a whole number, with an L after it when labels follow.
std::size_t nts_count(const SpecimenTable& t, const NtsToken& tok, bool& labels) {
    std::string s = tok.text;
    labels = !s.empty() && (s.back() == 'L' || s.back() == 'l');
    if (labels) s.pop_back();
    const auto d = parse_number(s);
    if (!d || *d < 1 || *d != std::floor(*d))
        refuse(t.path, tok.line, "", "the header needs whole counts, not " + in_quotes(tok.text));
    // Checked before the conversion: no count beyond a few billion is real,
    // and a double past the size type's range does not convert.
    if (*d > 4e9) refuse(t.path, tok.line, "", "the header's count " + in_quotes(tok.text) + " is more than any file can hold");
    return static_cast<std::size_t>(*d);
}

void nts_dimensions(const SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, const NtsHeader& h) {
    double dims = 2;
    while (p < tokens.size() && tokens[p].line == h.line) {
        const std::string u = lower(tokens[p].text);
        if (u.rfind("dim=", 0) == 0) dims = parse_number(u.substr(4)).value_or(0);
        ++p;
    }
    if (dims == 3) refuse(t.path, h.line, "", "DIM=3: the file holds 3-D landmarks; only 2-D landmarks can be analysed");
    if (dims != 2) refuse(t.path, h.line, "", "the header's DIM= must be 2");
    if (h.cols == 2 && h.rows >= 2 && !h.row_labels)
        refuse(t.path, h.line, "",
               "the header announces " + std::to_string(h.rows) +
                   " rows of 2 values: that is the layout of a single specimen, one landmark per row; a file to analyse "
                   "holds one specimen per row (x1 y1 x2 y2 ...)");
    if (h.cols < 4) refuse(t.path, h.line, "", "fewer than two landmarks per specimen");
}

NtsHeader nts_header(const SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, std::size_t bytes) {
    if (tokens.size() < 4) refuse(t.path, 0, "", "the header line (type, rows, columns, missing-value flag) is incomplete");
    NtsHeader h;
    h.line = tokens.front().line;
    p = 1;  // after the matrix type
    h.rows = nts_count(t, tokens[p++], h.row_labels);
    h.cols = nts_count(t, tokens[p++], h.col_labels);
    const std::string flag = tokens[p++].text;
    if (flag == "1") {
        if (p >= tokens.size()) refuse(t.path, tokens.back().line, "", "the header announces a missing value but gives none");
        h.missing = tokens[p++].text;
    }
    nts_dimensions(t, tokens, p, h);
    // Every value takes at least two bytes (a digit and a separator): a
    // header announcing more than that is wrong, not a truncated file, and
    // is refused before anything is set aside for its values.
    const double announced = static_cast<double>(h.rows) * static_cast<double>(h.cols);
    if (announced > static_cast<double>(bytes / 2 + 1))
        refuse(t.path, h.line, "",
               "the header announces " + std::to_string(h.rows) + " specimens of " + std::to_string(h.cols) +
                   " values, more values than a file of " + std::to_string(bytes) + " bytes can hold");
    return h;
}

void nts_labels(SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, const NtsHeader& h) {
    auto need = [&](std::size_t count, const std::string& what) {
        if (p + count > tokens.size())
            refuse(t.path, tokens.back().line, "", "the file ends before its " + what + " (a truncated file?)");
    };
    if (h.row_labels) {
        need(h.rows, std::to_string(h.rows) + " row labels");
        for (std::size_t i = 0; i < h.rows; ++i) t.ids.push_back(tokens[p++].text);
    } else {
        t.ids.assign(h.rows, "");
    }
    if (h.col_labels) {
        need(h.cols, std::to_string(h.cols) + " column labels");
        p += h.cols;
    }
}

void nts_specimen(SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, const NtsHeader& h, std::size_t s) {
    t.coords.emplace_back();
    t.sizes.emplace_back();
    const std::string specimen = t.specimen_name(s);
    if (p >= tokens.size())
        refuse(t.path, tokens.back().line, specimen,
               "the header announces " + std::to_string(h.rows) + " specimens but the file ends after " + std::to_string(s) +
                   " (a truncated file?)");
    t.lines.push_back(tokens[p].line);
    const bool trailing = h.cols % 2 == 1;
    for (std::size_t j = 0; j < h.cols; ++j) {
        if (p >= tokens.size())
            refuse(t.path, tokens.back().line, specimen,
                   "the file ends within this specimen: " + std::to_string(j) + " of its " + std::to_string(h.cols) +
                       " values are there (a truncated file?)");
        const NtsToken& tok = tokens[p++];
        const int landmark = static_cast<int>(j / 2) + 1;
        if (h.missing && tok.text == *h.missing && !(trailing && j + 1 == h.cols)) {
            t.coords.back().push_back(gap(t, tok.line, landmark, tok.text));
            continue;
        }
        if (trailing && j + 1 == h.cols) {
            const auto d = parse_number(tok.text);
            if (!d) refuse(t.path, tok.line, specimen, "text where the last value belongs (" + in_quotes(tok.text) + ")");
            t.sizes.back() = *d;
        } else {
            t.coords.back().push_back(coordinate(t, tok.line, specimen, landmark, tok.text));
        }
    }
}

std::size_t byte_count(const TextFile& f) {
    std::size_t n = 0;
    for (const auto& line : f.lines) n += line.size() + 1;
    return n;
}

}  // namespace

SpecimenTable read_tps(const TextFile& f, bool keep_curves) { return TpsReader(f, keep_curves).read(); }

SpecimenTable read_nts(const TextFile& f) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    t.image_coordinates = true;
    const std::vector<NtsToken> tokens = nts_tokens(f);
    std::size_t p = 0;
    const NtsHeader h = nts_header(t, tokens, p, byte_count(f));
    nts_labels(t, tokens, p, h);
    t.landmarks = static_cast<int>(h.cols / 2);
    for (std::size_t s = 0; s < h.rows; ++s) nts_specimen(t, tokens, p, h, s);
    if (p < tokens.size())
        refuse(t.path, tokens[p].line, "",
               "more values than the header's " + std::to_string(h.rows) + " specimens of " + std::to_string(h.cols) + " values");
    finish_columns(t);
    return t;
}

namespace {

// A coordinate column's axis and the name of its landmark: x1/y1, X_3,
// "LM1 x", "1.X" and the like.
bool coordinate_name(const std::string& name, char& axis, std::string& stem) {
    const std::string l = lower(trim(name));
    if (l.size() < 2) return false;
    if (l.front() == 'x' || l.front() == 'y') {
        std::string rest = l.substr(1);
        const bool sep = rest.front() == '_' || rest.front() == '.' || rest.front() == ' ';
        if (sep) rest = rest.substr(1);
        if (!rest.empty() && (sep || std::isdigit(static_cast<unsigned char>(rest.front())))) {
            axis = l.front();
            stem = rest;
            return true;
        }
    }
    const char last = l.back();
    if (last == 'x' || last == 'y') {
        std::string rest = l.substr(0, l.size() - 1);
        if (!rest.empty() && (rest.back() == '_' || rest.back() == '.' || rest.back() == ' ' ||
                              std::isdigit(static_cast<unsigned char>(rest.back())))) {
            if (rest.back() == '_' || rest.back() == '.' || rest.back() == ' ') rest.pop_back();
            if (rest.empty()) return false;
            axis = last;
            stem = rest;
            return true;
        }
    }
    return false;
}

// The names programs give a column of centroid sizes, in lower case.
constexpr std::string_view kSizeNames[] = {
    "cs",           "csize",         "c_size",        "c size",       "c.size", "centroid size",
    "centroidsize", "centroid_size", "centroid.size", "centroid-size"};

bool size_name(const std::string& name) {
    const std::string l = lower(trim(name));
    return std::find(std::begin(kSizeNames), std::end(kSizeNames), l) != std::end(kSizeNames);
}

bool id_name(const std::string& name) {
    const std::string l = lower(trim(name));
    return l == "id" || l == "specimen" || l == "specimen id" || l == "specimen_id" || l == "name" || l == "label" ||
           l == "sample";
}

char delimiter_of(const std::string& header) {
    if (header.find('\t') != std::string::npos) return '\t';
    if (header.find(',') != std::string::npos) return ',';
    if (header.find(';') != std::string::npos) return ';';
    return ' ';
}

std::vector<std::string> cells_of(const std::string& line, char delimiter) {
    return delimiter == ' ' ? split_blanks(line) : split_delimited(line, delimiter);
}

// A delimited table whose first non-blank line names the columns: its rows'
// cells, each row with its line number.  Blank lines are skipped; a row with
// another number of cells than the header is refused, naming its line.
struct HeadedRows {
    int header_line = 0;  // 1-based, as messages count
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::vector<int> lines;
};

HeadedRows headed_rows(const TextFile& f, const std::string& empty_message) {
    std::size_t first = 0;
    while (first < f.lines.size() && trim(f.lines[first]).empty()) ++first;
    if (first == f.lines.size()) refuse(f.path, 0, "", empty_message);
    HeadedRows t;
    t.header_line = static_cast<int>(first) + 1;
    const char delimiter = delimiter_of(f.lines[first]);
    t.header = cells_of(f.lines[first], delimiter);
    for (std::size_t i = first + 1; i < f.lines.size(); ++i) {
        stop_point();
        if (trim(f.lines[i]).empty()) continue;
        auto cells = cells_of(f.lines[i], delimiter);
        // Spreadsheets often add empty cells at the end of a row.
        while (cells.size() > t.header.size() && cells.back().empty()) cells.pop_back();
        if (cells.size() != t.header.size())
            refuse(f.path, static_cast<int>(i) + 1, cells.empty() ? "" : cells.front(),
                   "the row has " + std::to_string(cells.size()) + " cells but the header names " +
                       std::to_string(t.header.size()) + " columns");
        t.rows.push_back(std::move(cells));
        t.lines.push_back(static_cast<int>(i) + 1);
    }
    return t;
}

}  // namespace

SpecimenTable read_headed_table(const TextFile& f, const std::string& id_column) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    HeadedRows table = headed_rows(f, "the file is empty");
    const auto& header = table.header;
    const auto& rows = table.rows;
    t.lines = table.lines;
    if (rows.empty()) refuse(t.path, 0, "", "the header row is not followed by any specimen");

    // Which column is what.
    std::vector<char> role(header.size(), 'o');  // o other, x/y coordinate, s size, i id
    std::vector<std::string> stems(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) {
        char axis = 0;
        if (coordinate_name(header[c], axis, stems[c])) role[c] = axis;
        else if (size_name(header[c])) role[c] = 's';
    }
    std::vector<std::size_t> xs;
    for (std::size_t c = 0; c + 1 < header.size(); ++c)
        if (role[c] == 'x' && role[c + 1] == 'y' && stems[c] == stems[c + 1]) xs.push_back(c);
    for (std::size_t c = 0; c < header.size(); ++c)
        if ((role[c] == 'x' || role[c] == 'y') && std::find(xs.begin(), xs.end(), role[c] == 'x' ? c : c - 1) == xs.end())
            role[c] = 'o';
    if (xs.size() < 2)
        refuse(t.path, table.header_line, "",
               "the header names fewer than two landmarks; name the coordinate columns x1,y1,x2,y2,... (or pairs such as "
               "LM1_x,LM1_y)");
    std::optional<std::size_t> id;
    if (!id_column.empty()) {
        for (std::size_t c = 0; c < header.size(); ++c)
            if (lower(trim(header[c])) == lower(trim(id_column))) id = c;
        if (!id) refuse(t.path, table.header_line, "", "there is no ID column " + in_quotes(id_column));
    } else {
        for (std::size_t c = 0; c < header.size() && !id; ++c)
            if (role[c] == 'o' && id_name(header[c])) id = c;
        if (!id && role[0] == 'o' && xs.front() > 0) {
            // A first column before the coordinates whose cells are all different names the specimens.
            std::set<std::string> seen;
            for (const auto& r : rows) seen.insert(r[0]);
            if (seen.size() == rows.size()) id = 0;
        }
    }
    if (id) role[*id] = 'i';

    t.landmarks = static_cast<int>(xs.size());
    for (std::size_t s = 0; s < rows.size(); ++s) {
        const auto& r = rows[s];
        t.ids.push_back(id ? r[*id] : "");
        const std::string specimen = t.specimen_name(s);
        t.coords.emplace_back();
        for (std::size_t j = 0; j < xs.size(); ++j) {
            t.coords.back().push_back(coordinate(t, t.lines[s], specimen, static_cast<int>(j) + 1, r[xs[j]]));
            t.coords.back().push_back(coordinate(t, t.lines[s], specimen, static_cast<int>(j) + 1, r[xs[j] + 1]));
        }
        t.sizes.emplace_back();
        for (std::size_t c = 0; c < header.size(); ++c)
            if (role[c] == 's') {
                const auto d = parse_number(r[c]);
                if (!d)
                    refuse(t.path, t.lines[s], specimen,
                           "the " + quoted_snippet(header[c]) + " cell is not a number (" + in_quotes(r[c]) + ")");
                t.sizes.back() = *d;
            }
    }
    for (std::size_t c = 0; c < header.size(); ++c) {
        if (role[c] != 'o') continue;
        Column col{trim(header[c]), {}, {}, {}};
        for (const auto& r : rows) col.cells.push_back(r[c]);
        t.columns.push_back(std::move(col));
    }
    return t;
}

SpecimenTable read_plain_table(const TextFile& f) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    std::size_t width = 0;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        std::string line = f.lines[i];
        std::replace(line.begin(), line.end(), ',', ' ');
        std::replace(line.begin(), line.end(), ';', ' ');
        const auto tokens = split_blanks(line);
        if (tokens.empty()) continue;
        const int number = static_cast<int>(i) + 1;
        const std::string specimen = "number " + std::to_string(t.coords.size() + 1);
        if (width == 0) width = tokens.size();
        if (tokens.size() != width)
            refuse(t.path, number, specimen,
                   "the row has " + std::to_string(tokens.size()) + " values but the first row has " + std::to_string(width));
        if (width < 4) refuse(t.path, number, specimen, "a row needs the x and y of at least two landmarks");
        t.lines.push_back(number);
        t.ids.emplace_back();
        t.coords.emplace_back();
        t.sizes.emplace_back();
        const std::size_t ncoord = width - width % 2;
        for (std::size_t j = 0; j < ncoord; ++j)
            t.coords.back().push_back(coordinate(t, number, specimen, static_cast<int>(j / 2) + 1, tokens[j]));
        if (width % 2 == 1) {
            const auto d = parse_number(tokens.back());
            if (!d) refuse(t.path, number, specimen, "text where the last value belongs (" + in_quotes(tokens.back()) + ")");
            t.sizes.back() = *d;
        }
    }
    if (t.coords.empty()) refuse(t.path, 0, "", "the file holds no specimen");
    t.landmarks = static_cast<int>(width / 2);
    return t;
}

SpecimenTable read_specimens(const TextFile& f, const std::string& id_column, bool keep_curves) {
    const std::string ext = lower(std::filesystem::path(f.name).extension().string());
    if (ext == ".tps") return read_tps(f, keep_curves);
    if (ext == ".nts") return read_nts(f);
    std::size_t first = 0;
    while (first < f.lines.size() && trim(f.lines[first]).empty()) ++first;
    if (first == f.lines.size()) refuse(f.path, 0, "", "the file is empty");
    const std::string head = lower(trim(f.lines[first]));
    if (head.rfind("lm=", 0) == 0 || head.rfind("lm3=", 0) == 0) return read_tps(f, keep_curves);
    std::string probe = f.lines[first];
    for (char& c : probe)
        if (c == ',' || c == ';') c = ' ';
    const auto tokens = split_blanks(probe);
    const bool numeric =
        std::all_of(tokens.begin(), tokens.end(), [](const std::string& x) { return parse_number(x).has_value(); });
    return numeric ? read_plain_table(f) : read_headed_table(f, id_column);
}

Matrix Legend::group_table() const {
    const std::size_t m = chosen.empty() ? 0 : factors[static_cast<std::size_t>(chosen.front())].codes.size();
    Matrix g(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(chosen.size()));
    for (std::size_t j = 0; j < chosen.size(); ++j)
        for (std::size_t i = 0; i < m; ++i)
            g(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = factors[static_cast<std::size_t>(chosen[j])].codes[i];
    return g;
}

std::string Legend::groups_file() const {
    for (int k : chosen)
        if (!factors[static_cast<std::size_t>(k)].path.empty()) return factors[static_cast<std::size_t>(k)].path;
    return source;
}

std::string Legend::numbers_file(const std::string& name) const {
    for (const auto& n : numbers)
        if (n.name == name && !n.path.empty()) return n.path;
    return source;
}

std::vector<std::vector<std::string>> Legend::level_names(const Matrix& groups) const {
    std::vector<std::vector<std::string>> names;
    if (chosen.empty()) return names;
    const Matrix table = group_table();
    if (table.rows() != groups.rows() || table.cols() != groups.cols() || table != groups) return names;
    for (int k : chosen) names.push_back(factors[static_cast<std::size_t>(k)].levels);
    return names;
}

std::string Legend::summary() const {
    std::string out;
    for (std::size_t j = 0; j < chosen.size(); ++j) {
        const Factor& f = factors[static_cast<std::size_t>(chosen[j])];
        out += "G" + std::to_string(j + 1) + " = " + f.name + ":";
        for (std::size_t c = 0; c < f.levels.size(); ++c) {
            out += ' ';
            out += std::to_string(c + 1);
            out += ' ';
            out += f.levels[c];
        }
        out += "\n";
    }
    if (!covariate.empty()) out += "Covariate = " + covariate + "\n";
    if (!ids.empty())
        out += std::to_string(ids.size()) + " specimen IDs: " + ids.front() + (ids.size() > 1 ? " ... " + ids.back() : "") + "\n";
    return out;
}

namespace {

const Column* find_column(const std::vector<Column>& columns, const std::string& name) {
    for (const auto& c : columns)
        if (lower(trim(c.name)) == lower(trim(name))) return &c;
    return nullptr;
}

std::string column_list(const std::vector<Column>& columns) {
    std::string out;
    for (const auto& c : columns) out += (out.empty() ? "" : ", ") + in_quotes(c.name);
    return out.empty() ? "none" : out;
}

bool all_numbers(const Column& c) {
    return std::all_of(c.cells.begin(), c.cells.end(), [](const std::string& x) { return parse_number(x).has_value(); });
}

// Columns of one name would leave one of them used in place of the other
// without a word: refused, naming the column; and a table of more columns
// than any data set has is refused as a line too long is.
void require_distinct_columns(const TextFile& f, const HeadedRows& table) {
    constexpr std::size_t kMaxColumns = 100000;
    if (table.header.size() > kMaxColumns)
        refuse(f.path, table.header_line, "",
               "the header names " + std::to_string(table.header.size()) + " columns, more than the " +
                   std::to_string(kMaxColumns) + " a table may have");
    std::map<std::string, std::size_t> seen;
    for (std::size_t c = 0; c < table.header.size(); ++c) {
        const std::string name = lower(trim(table.header[c]));
        if (name.empty()) continue;
        const auto [it, added] = seen.emplace(name, c);
        if (!added)
            refuse(f.path, table.header_line, "",
                   "the column " + in_quotes(trim(table.header[c])) + " is named twice (columns " +
                       std::to_string(it->second + 1) + " and " + std::to_string(c + 1) +
                       "); give each column a name of its own");
    }
}

// One row for two specimens of one ID would give both the same factors
// whether or not they are the same animal.
void require_distinct_ids(const SpecimenTable& t, const TextFile& f) {
    std::map<std::string, int> first_line;
    for (std::size_t s = 0; s < t.coords.size(); ++s)
        if (const auto [at, fresh] = first_line.emplace(t.ids[s], t.lines[s]); !fresh)
            refuse(t.path, t.lines[s], t.ids[s],
                   "the ID appears more than once in " + t.name + " (first at line " + std::to_string(at->second) +
                       "), so the factor table " + f.name + " cannot be matched to it by ID");
}

// Factors and covariates of a separate table, matched to the specimens by ID.
void merge_factor_table(SpecimenTable& t, const TextFile& f, const std::string& id_column) {
    const HeadedRows table = headed_rows(f, "the factor table is empty");
    const auto& header = table.header;
    std::size_t id = 0;
    if (!id_column.empty()) {
        id = header.size();
        for (std::size_t c = 0; c < header.size(); ++c)
            if (lower(trim(header[c])) == lower(trim(id_column))) id = c;
        if (id == header.size())
            refuse(f.path, table.header_line, "", "there is no ID column " + in_quotes(id_column) + " in the factor table");
    }
    require_distinct_columns(f, table);
    std::map<std::string, std::size_t> by_id;  // each ID's row
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const auto& cells = table.rows[r];
        if (!by_id.emplace(cells[id], r).second)
            refuse(f.path, table.lines[r], cells[id], "the ID appears twice in the factor table");
    }
    std::vector<std::size_t> row_of;  // each specimen's row
    for (std::size_t s = 0; s < t.coords.size(); ++s) {
        if (t.ids[s].empty())
            refuse(t.path, t.lines[s], t.specimen_name(s),
                   "the specimen has no ID, so the factor table " + f.name + " cannot be matched to it");
        const auto it = by_id.find(t.ids[s]);
        if (it == by_id.end()) refuse(f.path, 0, t.ids[s], "the factor table has no row for this specimen of " + t.name);
        row_of.push_back(it->second);
    }
    require_distinct_ids(t, f);
    // The table's columns replace the file's own of the same names, in one
    // pass: a table of many columns merges in time linear in its cells.
    std::set<std::string> replaced;
    for (std::size_t c = 0; c < header.size(); ++c)
        if (c != id) replaced.insert(lower(trim(header[c])));
    t.columns.erase(std::remove_if(t.columns.begin(), t.columns.end(),
                                   [&](const Column& x) { return replaced.count(lower(trim(x.name))) > 0; }),
                    t.columns.end());
    for (std::size_t c = 0; c < header.size(); ++c) {
        stop_point();
        if (c == id) continue;
        Column col{trim(header[c]), {}, f.path, {}};
        for (std::size_t r : row_of) {
            col.cells.push_back(table.rows[r][c]);
            col.lines.push_back(table.lines[r]);
        }
        t.columns.push_back(std::move(col));
    }
}

// Where a cell of a column came from: the factor table's file and line for
// its columns, the specimen's own line otherwise.
const std::string& cell_path(const SpecimenTable& t, const Column& c) { return c.path.empty() ? t.path : c.path; }

int cell_line(const SpecimenTable& t, const Column& c, std::size_t s) {
    if (!c.path.empty()) return s < c.lines.size() ? c.lines[s] : 0;
    return s < t.lines.size() ? t.lines[s] : 0;
}

bool holds_control(const std::string& w) {
    return std::any_of(w.begin(), w.end(), [](unsigned char b) { return b < 0x20 || b == 0x7f; });
}

// A factor's levels; a cell without a value (empty or NA) is refused, not
// taken as a level of its own.
Factor make_factor(const SpecimenTable& t, const Column& c) {
    require_values(t, c, "factor");
    Factor f;
    f.name = c.name;
    f.path = c.path;
    std::map<std::string, int> code_of;  // each level's code, 1-based in order of appearance
    for (std::size_t s = 0; s < c.cells.size(); ++s) {
        const std::string& w = c.cells[s];
        // A level is a word of the reports, legends and exports: a control
        // byte (a NUL, say) would be written into them as it is.
        if (holds_control(w))
            refuse(cell_path(t, c), cell_line(t, c, s), t.specimen_name(s),
                   "the factor " + in_quotes(c.name) + " has the level " + in_quotes(w) +
                       ", which holds a control character; give levels of printable text");
        const auto [it, added] = code_of.emplace(w, static_cast<int>(f.levels.size()) + 1);
        if (added) f.levels.push_back(w);
        f.codes.push_back(it->second);
    }
    return f;
}

// Image coordinates are never negative, so digitising programs mark a
// landmark they could not place with negative coordinates (tpsDig writes
// -1 -1).  Taken as points, such landmarks make their specimens look far
// from every other.  Returns, per specimen, the landmarks (1-based) with a
// negative coordinate.
std::vector<std::vector<int>> negative_landmarks(const SpecimenTable& t) {
    std::vector<std::vector<int>> found(t.coords.size());
    for (std::size_t s = 0; s < t.coords.size(); ++s)
        for (std::size_t j = 0; j + 1 < t.coords[s].size(); j += 2)
            if (t.coords[s][j] < 0 || t.coords[s][j + 1] < 0) found[s].push_back(static_cast<int>(j / 2) + 1);
    return found;
}

std::string negative_list(const SpecimenTable& t, const std::vector<std::vector<int>>& found) {
    std::string out;
    for (std::size_t s = 0; s < found.size(); ++s) {
        if (found[s].empty()) continue;
        out += (out.empty() ? "" : "; ") + quoted_snippet(t.specimen_name(s)) + " (line " + std::to_string(t.lines[s]) +
               "): landmark" + (found[s].size() > 1 ? "s " : " ");
        for (std::size_t k = 0; k < found[s].size(); ++k) out += (k ? ", " : "") + std::to_string(found[s][k]);
    }
    return out;
}

// Negative coordinates taken as missing become gaps, to be estimated or
// refused with the others.
void mark_gaps(SpecimenTable& t, const std::vector<std::vector<int>>& found) {
    for (std::size_t s = 0; s < found.size(); ++s)
        for (int landmark : found[s]) {
            auto& c = t.coords[s];
            const std::size_t j = 2 * static_cast<std::size_t>(landmark - 1);
            const std::string token = number_text(c[j]) + " " + number_text(c[j + 1]);
            c[j] = c[j + 1] = std::nan("");
            t.gaps.push_back({s, landmark, t.lines[s], token, true});
        }
}

// Said wherever landmarks are missing only by the choice: coordinates about
// an origin are negative without anything missing, and a choice made for an
// earlier file stays for the next.
constexpr const char* kNegativesChoice =
    " (negative coordinates are missing landmarks by the choice \"Negatives: missing\", --negative-missing in "
    "quillan-batch; coordinates about an origin, such as aligned ones, need \"Negatives: points\")";

// With negative coordinates taken as missing, their specimens are refused
// (naming every one); otherwise an image file where some specimens have
// negative coordinates and the others none is imported with a warning.
void check_negative_coordinates(SpecimenTable& t, bool negative_missing, bool estimate) {
    if (!t.image_coordinates && !negative_missing) return;
    const auto found = negative_landmarks(t);
    const auto with =
        static_cast<std::size_t>(std::count_if(found.begin(), found.end(), [](const std::vector<int>& v) { return !v.empty(); }));
    if (with == 0) return;
    if (negative_missing && (estimate || !t.gaps.empty())) {
        mark_gaps(t, found);
        return;
    }
    if (negative_missing)
        refuse(t.path, 0, "",
               "negative coordinates mark missing landmarks in " + std::to_string(with) +
                   " specimens: " + negative_list(t, found) + "; estimate or remove them before importing" + kNegativesChoice);
    if (with == t.coords.size()) return;  // coordinates about an origin, not image coordinates
    t.warnings.push_back(std::to_string(with) + " of " + std::to_string(t.coords.size()) + " specimens in " + t.name +
                         " have negative coordinates while the others have none, as digitising programs mark missing "
                         "landmarks: " +
                         negative_list(t, found) +
                         ". They were imported as points; if they mark missing landmarks, import the file again with "
                         "negative coordinates taken as missing.");
}

// Copies the coordinates, with the file's size or else the centroid size of
// the coordinates as imported; refuses what no analysis could superimpose,
// naming the line where the specimen begins.
Matrix landmark_table(const SpecimenTable& t) {
    const std::size_t m = t.coords.size();
    const std::size_t width = 2 * static_cast<std::size_t>(t.landmarks);
    Matrix lm(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(width + 1));
    for (std::size_t s = 0; s < m; ++s) {
        if (t.coords[s].size() != width)
            refuse(t.path, t.lines[s], t.specimen_name(s),
                   "has " + std::to_string(t.coords[s].size() / 2) + " landmarks, but the first specimen has " +
                       std::to_string(t.landmarks));
        double cx = 0, cy = 0;
        for (std::size_t j = 0; j < width; j += 2) {
            cx += t.coords[s][j];
            cy += t.coords[s][j + 1];
        }
        cx /= t.landmarks;
        cy /= t.landmarks;
        double ss = 0;
        for (std::size_t j = 0; j < width; ++j) {
            lm(static_cast<Eigen::Index>(s), static_cast<Eigen::Index>(j)) = t.coords[s][j];
            const double dv = t.coords[s][j] - (j % 2 == 0 ? cx : cy);
            ss += dv * dv;
        }
        if (!std::isfinite(ss))
            refuse(t.path, t.lines[s], t.specimen_name(s), "the coordinates are too large for its centroid size to be computed");
        if (ss == 0) refuse(t.path, t.lines[s], t.specimen_name(s), "all its landmarks are at one point, so it has no shape");
        lm(static_cast<Eigen::Index>(s), static_cast<Eigen::Index>(width)) =
            s < t.sizes.size() && t.sizes[s] ? *t.sizes[s] : std::sqrt(ss);
    }
    return lm;
}

// Specimen IDs, and a warning when two specimens share one.
void take_ids(const SpecimenTable& t, ImportedData& d) {
    if (std::none_of(t.ids.begin(), t.ids.end(), [](const std::string& x) { return !x.empty(); })) return;
    const std::size_t m = t.coords.size();
    for (std::size_t s = 0; s < m; ++s) d.legend.ids.push_back(t.ids[s].empty() ? std::to_string(s + 1) : t.ids[s]);
    std::map<std::string, std::vector<int>> seen;
    for (std::size_t s = 0; s < m; ++s)
        seen[d.legend.ids[s]].push_back(s < t.id_lines.size() && t.id_lines[s] > 0 ? t.id_lines[s] : t.lines[s]);
    for (const auto& [id, where] : seen)
        if (where.size() > 1) {
            std::string lines;
            for (int l : where) lines += (lines.empty() ? "" : ", ") + std::to_string(l);
            d.warnings.push_back("The specimen ID " + in_quotes(id) + " appears " + std::to_string(where.size()) + " times in " +
                                 t.name + " (lines " + lines + "); both specimens were kept.");
        }
}

const Column* named_column(const SpecimenTable& t, const std::string& name, const char* what) {
    const Column* c = find_column(t.columns, name);
    if (!c)
        refuse(t.path, 0, "",
               std::string("there is no ") + what + " column " + in_quotes(name) + " (columns: " + column_list(t.columns) + ")");
    return c;
}

bool has_missing(const Column& c) { return std::any_of(c.cells.begin(), c.cells.end(), missing_cell); }

// Numbers, some cells perhaps without a value: never a factor (a covariate
// when complete).
bool numbers_or_missing(const Column& c) {
    bool any = false;
    for (const auto& cell : c.cells) {
        if (missing_cell(cell)) continue;
        if (!parse_number(cell)) return false;
        any = true;
    }
    return any;
}

// One word of its own for each specimen that has one: a label, not a factor.
bool label_column(const Column& c) {
    std::set<std::string> words;
    std::size_t present = 0;
    for (const auto& cell : c.cells)
        if (!missing_cell(cell)) {
            words.insert(cell);
            ++present;
        }
    return present > 1 && words.size() == present;
}

bool factor_candidate(const Column& c, const Column* cov) {
    return &c != cov && !numbers_or_missing(c) && lower(c.name) != "comment" && lower(c.name) != "image";
}

// The columns taken as G1 (and G2): those named, or else the first two
// columns of words that are not labels.
std::vector<const Column*> chosen_columns(const SpecimenTable& t, const ImportOptions& options, const Column* cov) {
    std::vector<const Column*> out;
    for (const auto& name : options.factors) out.push_back(named_column(t, name, "factor"));
    if (!options.factors.empty()) return out;
    for (const auto& c : t.columns)
        if (out.size() < 2 && factor_candidate(c, cov) && !label_column(c)) out.push_back(&c);
    return out;
}

const Column* covariate_column(const SpecimenTable& t, const ImportOptions& options) {
    return options.covariate_column.empty() ? nullptr : named_column(t, options.covariate_column, "covariate");
}

// Factors: the chosen columns, and every other complete column of words on
// offer; and every column of numbers as a covariate candidate.
void take_factors(const SpecimenTable& t, const std::vector<const Column*>& chosen, const Column* cov, ImportedData& d) {
    for (const Column* c : chosen) {
        d.legend.factors.push_back(make_factor(t, *c));
        d.legend.chosen.push_back(static_cast<int>(d.legend.factors.size()) - 1);
    }
    for (const auto& c : t.columns) {
        stop_point();
        if (std::find(chosen.begin(), chosen.end(), &c) != chosen.end()) continue;
        if (!factor_candidate(c, cov) || has_missing(c) || label_column(c)) continue;
        if (std::any_of(c.cells.begin(), c.cells.end(), holds_control)) continue;
        d.legend.factors.push_back(make_factor(t, c));
    }
    for (const auto& c : t.columns) {
        if (!all_numbers(c)) continue;
        Legend::Numbers col{c.name, {}, c.path};
        for (const auto& cell : c.cells) col.values.push_back(*parse_number(cell));
        d.legend.numbers.push_back(std::move(col));
    }
}

void take_covariate(const SpecimenTable& t, const Column& cov, ImportedData& d) {
    require_values(t, cov, "covariate");
    const std::size_t m = t.coords.size();
    d.covariate = Matrix(static_cast<Eigen::Index>(m), 1);
    for (std::size_t s = 0; s < m; ++s) {
        const auto v = parse_number(cov.cells[s]);
        if (!v)
            refuse(cell_path(t, cov), cell_line(t, cov, s), t.specimen_name(s),
                   "the covariate " + in_quotes(cov.name) + " is not a number (" + in_quotes(cov.cells[s]) + ")");
        d.covariate(static_cast<Eigen::Index>(s), 0) = *v;
    }
    d.legend.covariate = cov.name;
}

}  // namespace

ImportedData assemble(SpecimenTable t, const ImportOptions& options, const TextFile* factor_table) {
    if (factor_table) merge_factor_table(t, *factor_table, options.id_column);
    if (t.landmarks < 2) refuse(t.path, 0, "", "a specimen needs at least two landmarks");
    ImportedData d;
    // Before any other step: the specimens left out take no part in
    // estimating gaps or in sliding.
    if (options.leave_out_missing) {
        const Column* cov = covariate_column(t, options);
        std::vector<const Column*> used = chosen_columns(t, options, cov);
        if (cov) used.push_back(cov);
        leave_out_missing(t, used, d.legend.steps);
    }
    check_negative_coordinates(t, options.negative_missing, !options.estimate_missing.empty());
    fill_gaps(t, options, d.legend.steps);
    slide_curves(t, options, d.legend.steps);
    d.path = t.path;
    d.name = t.name;
    d.warnings = t.warnings;
    d.notices = t.notices;
    d.landmarks = landmark_table(t);
    take_ids(t, d);
    const Column* cov = covariate_column(t, options);
    take_factors(t, chosen_columns(t, options, cov), cov, d);
    d.legend.source = t.path;
    d.groups = d.legend.group_table();
    if (d.groups.rows() == 0) d.groups = Matrix();
    if (cov) take_covariate(t, *cov, d);
    return d;
}

ImportedData import_file(const std::string& path, const ImportOptions& options) {
    const TextFile f = read_text_file(path);
    std::optional<TextFile> factors;
    if (!options.factor_table.empty()) factors = read_text_file(options.factor_table);
    return assemble(read_specimens(f, options.id_column, options.semilandmarks), options, factors ? &*factors : nullptr);
}

}  // namespace quillan::io
