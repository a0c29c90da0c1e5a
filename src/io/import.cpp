#include "io/import.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>

namespace quillan::io {

namespace {

[[noreturn]] void refuse(const std::string& file, int line, const std::string& specimen, const std::string& what) {
    std::string where = "The file " + file + " could not be imported: ";
    if (line > 0) where += "line " + std::to_string(line) + ", ";
    if (!specimen.empty()) where += "specimen " + specimen + ": ";
    throw QuillanError(where + what + ". Nothing was imported.");
}

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

// The usual placeholders of digitising programs for a landmark not placed.
bool missing_marker(const std::string& token) {
    const std::string t = lower(token);
    if (t.empty() || t == "na" || t == "nan" || t == "?" || t == "-") return true;
    const auto d = parse_number(token);
    return d && (*d == -99.0 || *d == -999.0);
}

// Reads one coordinate; refuses placeholders and text.
double coordinate(const SpecimenTable& t, int line, const std::string& specimen, int landmark, const std::string& token) {
    if (missing_marker(token))
        refuse(t.path, line, specimen,
               "landmark " + std::to_string(landmark) + " is missing (" + in_quotes(token) +
                   "); estimate or remove it before importing");
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
        t.columns.push_back({column, {}});
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

SpecimenTable read_tps(const TextFile& f) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    std::vector<std::optional<double>> scales;
    long long skipped_points = 0, skipped_curves = 0;
    std::string key, value;
    const std::size_t n = f.lines.size();
    auto current = [&](int line, const std::string& what) -> std::size_t {
        if (t.coords.empty()) refuse(t.path, line, "", what + " comes before the first LM= block");
        return t.coords.size() - 1;
    };
    auto count_of = [&](int line, const std::string& specimen, const std::string& k, const std::string& v) {
        const auto d = parse_number(v);
        if (!d || *d < 0 || *d != std::floor(*d))
            refuse(t.path, line, specimen, k + "= needs a whole count, not " + in_quotes(v));
        return static_cast<std::size_t>(*d);
    };
    for (std::size_t i = 0; i < n; ++i) {
        const std::string line = trim(f.lines[i]);
        const int number = static_cast<int>(i) + 1;
        if (line.empty()) continue;
        if (!keyword(line, key, value)) {
            const std::string specimen = t.coords.empty() ? "" : t.specimen_name(t.coords.size() - 1);
            refuse(t.path, number, specimen,
                   "unexpected line " + in_quotes(line) +
                       (t.coords.empty() ? " before the first LM= block"
                                         : " after the landmarks of the block: more coordinate lines than LM= announced?"));
        }
        if (key == "LM3") refuse(t.path, number, "", "LM3= blocks hold 3-D landmarks; only 2-D landmarks can be analysed");
        if (key == "LM") {
            const std::size_t k = count_of(number, "", "LM", value);
            const std::size_t s = t.coords.size();
            t.coords.emplace_back();
            t.ids.emplace_back();
            t.lines.push_back(number);
            t.sizes.emplace_back();
            scales.emplace_back();
            // tpsDig writes ID= after the coordinates: look ahead so messages name the specimen.
            std::string specimen = "number " + std::to_string(s + 1);
            for (std::size_t a = i + 1; a < n; ++a) {
                std::string ak, av;
                if (!keyword(trim(f.lines[a]), ak, av)) continue;
                if (ak == "LM" || ak == "LM3") break;
                if (ak == "ID" && !av.empty()) {
                    specimen = av;
                    break;
                }
            }
            if (k == 0) refuse(t.path, number, specimen, "LM=0 announces no landmarks");
            for (std::size_t j = 0; j < k; ++j) {
                const std::size_t li = i + 1 + j;
                std::string dummy_k, dummy_v;
                if (li >= n || keyword(trim(f.lines[li]), dummy_k, dummy_v) || trim(f.lines[li]).empty())
                    refuse(t.path, number, specimen,
                           "LM=" + std::to_string(k) + " announces " + std::to_string(k) + " landmarks but only " +
                               std::to_string(j) + " coordinate lines follow (a truncated block?)");
                std::string row = f.lines[li];
                std::replace(row.begin(), row.end(), ',', ' ');
                const auto tokens = split_blanks(row);
                if (tokens.size() != 2)
                    refuse(t.path, static_cast<int>(li) + 1, specimen,
                           "landmark " + std::to_string(j + 1) + " should be two numbers (x y) but the line has " +
                               std::to_string(tokens.size()) + " values");
                for (const auto& tok : tokens)
                    t.coords.back().push_back(coordinate(t, static_cast<int>(li) + 1, specimen, static_cast<int>(j) + 1, tok));
            }
            if (s > 0 && k != t.coords.front().size() / 2)
                refuse(t.path, number, specimen,
                       "has " + std::to_string(k) + " landmarks, but the first specimen has " +
                           std::to_string(t.coords.front().size() / 2) + "; every specimen needs the same landmarks");
            i += k;
            continue;
        }
        if (key == "CURVES" || key == "POINTS") {
            // Outline points are not landmarks: skip each POINTS= block.
            if (key == "CURVES") {
                ++skipped_curves;
                continue;
            }
            const std::size_t p = count_of(number, "", "POINTS", value);
            for (std::size_t j = 0; j < p; ++j) {
                std::string k2, v2;
                if (i + 1 + j >= n || keyword(trim(f.lines[i + 1 + j]), k2, v2))
                    refuse(t.path, number, t.coords.empty() ? "" : t.specimen_name(t.coords.size() - 1),
                           "POINTS=" + std::to_string(p) + " announces " + std::to_string(p) + " points but only " +
                               std::to_string(j) + " lines follow");
            }
            skipped_points += static_cast<long long>(p);
            i += p;
            continue;
        }
        const std::size_t s = current(number, key + "=");
        if (key == "ID") t.ids[s] = value;
        else if (key == "IMAGE") set_cell(t, "IMAGE", s, value);
        else if (key == "COMMENT") set_cell(t, "COMMENT", s, value);
        else if (key == "SCALE") {
            const auto d = parse_number(value);
            if (!d || *d <= 0)
                refuse(t.path, number, t.specimen_name(s), "SCALE= needs a positive number, not " + in_quotes(value));
            scales[s] = *d;
        } else if (key == "VARIABLES") {
            // Either the values themselves, or their names with the values on the next line.
            auto items = split_list(value);
            bool numeric = !items.empty() && std::all_of(items.begin(), items.end(),
                                                         [](const std::string& x) { return parse_number(x).has_value(); });
            if (numeric) {
                for (std::size_t j = 0; j < items.size(); ++j) set_cell(t, "variable " + std::to_string(j + 1), s, items[j]);
            } else if (!items.empty()) {
                const auto values = i + 1 < n ? split_list(f.lines[i + 1]) : std::vector<std::string>{};
                if (values.size() != items.size())
                    refuse(t.path, number + 1, t.specimen_name(s),
                           "VARIABLES= names " + std::to_string(items.size()) + " variables but the next line holds " +
                               std::to_string(values.size()) + " values");
                for (std::size_t j = 0; j < items.size(); ++j) set_cell(t, items[j], s, values[j]);
                ++i;
            }
        } else {
            t.notices.push_back("Line " + std::to_string(number) + ": the entry " + key + "= is not used.");
        }
    }
    if (t.coords.empty()) refuse(t.path, 0, "", "it holds no LM= block");
    t.landmarks = static_cast<int>(t.coords.front().size() / 2);
    // SCALE= turns digitiser units into real ones.
    std::size_t scaled = 0;
    for (std::size_t s = 0; s < t.coords.size(); ++s) {
        if (!scales[s]) continue;
        ++scaled;
        for (double& v : t.coords[s]) v *= *scales[s];
    }
    if (scaled > 0 && scaled < t.coords.size()) {
        std::string unscaled;
        int listed = 0;
        for (std::size_t s = 0; s < t.coords.size(); ++s)
            if (!scales[s] && listed < 5) {
                unscaled += (listed++ ? ", " : "") + t.specimen_name(s);
            }
        if (t.coords.size() - scaled > 5) unscaled += ", ...";
        t.warnings.push_back(std::to_string(t.coords.size() - scaled) + " of " + std::to_string(t.coords.size()) +
                             " specimens in " + t.name + " have no SCALE= and were left in their own units (" + unscaled +
                             "); sizes and coordinates of scaled and unscaled specimens are not comparable.");
    }
    if (skipped_points > 0 || skipped_curves > 0)
        t.notices.push_back(std::to_string(skipped_points) + " outline points (CURVES=/POINTS= blocks) in " + t.name +
                            " were skipped; only the LM= landmarks were imported.");
    finish_columns(t);
    return t;
}

SpecimenTable read_nts(const TextFile& f) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    struct Token {
        std::string text;
        int line;
    };
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        const std::string line = trim(f.lines[i]);
        if (line.empty() || line.front() == '"') continue;  // comment
        for (auto& tok : split_list(line)) tokens.push_back({tok, static_cast<int>(i) + 1});
    }
    if (tokens.size() < 4) refuse(t.path, 0, "", "the header line (type, rows, columns, missing-value flag) is incomplete");
    std::size_t p = 0;
    auto header_count = [&](bool& labels) {
        std::string s = tokens[p].text;
        labels = !s.empty() && (s.back() == 'L' || s.back() == 'l');
        if (labels) s.pop_back();
        const auto d = parse_number(s);
        if (!d || *d < 1 || *d != std::floor(*d))
            refuse(t.path, tokens[p].line, "", "the header needs whole counts, not " + in_quotes(tokens[p].text));
        ++p;
        return static_cast<std::size_t>(*d);
    };
    ++p;  // matrix type
    bool row_labels = false, col_labels = false;
    const std::size_t rows = header_count(row_labels);
    const std::size_t cols = header_count(col_labels);
    const std::string flag = tokens[p++].text;
    std::optional<std::string> missing;
    if (flag == "1") {
        if (p >= tokens.size()) refuse(t.path, tokens.back().line, "", "the header announces a missing value but gives none");
        missing = tokens[p++].text;
    }
    std::size_t dims = 2;
    const int header_line = tokens.front().line;
    while (p < tokens.size() && tokens[p].line == header_line) {
        const std::string u = lower(tokens[p].text);
        if (u.rfind("dim=", 0) == 0) dims = static_cast<std::size_t>(parse_number(u.substr(4)).value_or(0));
        ++p;
    }
    if (dims == 3) refuse(t.path, header_line, "", "DIM=3: the file holds 3-D landmarks; only 2-D landmarks can be analysed");
    if (dims != 2) refuse(t.path, header_line, "", "the header's DIM= must be 2");
    if (cols < 4) refuse(t.path, header_line, "", "fewer than two landmarks per specimen");
    auto need = [&](std::size_t count, const std::string& what) {
        if (p + count > tokens.size())
            refuse(t.path, tokens.back().line, "", "the file ends before its " + what + " (a truncated file?)");
    };
    if (row_labels) {
        need(rows, std::to_string(rows) + " row labels");
        for (std::size_t i = 0; i < rows; ++i) t.ids.push_back(tokens[p++].text);
    } else {
        t.ids.assign(rows, "");
    }
    if (col_labels) {
        need(cols, std::to_string(cols) + " column labels");
        p += cols;
    }
    const bool trailing = cols % 2 == 1;
    t.landmarks = static_cast<int>(cols / 2);
    for (std::size_t s = 0; s < rows; ++s) {
        t.coords.emplace_back();
        t.sizes.emplace_back();
        const std::string specimen = t.specimen_name(s);
        if (p >= tokens.size())
            refuse(t.path, tokens.back().line, specimen,
                   "the header announces " + std::to_string(rows) + " specimens but the file ends after " + std::to_string(s) +
                       " (a truncated file?)");
        t.lines.push_back(tokens[p].line);
        for (std::size_t j = 0; j < cols; ++j) {
            if (p >= tokens.size())
                refuse(t.path, tokens.back().line, specimen,
                       "the file ends within this specimen: " + std::to_string(j) + " of its " + std::to_string(cols) +
                           " values are there (a truncated file?)");
            const Token& tok = tokens[p++];
            const int landmark = static_cast<int>(j / 2) + 1;
            if (missing && tok.text == *missing)
                refuse(t.path, tok.line, specimen,
                       "landmark " + std::to_string(landmark) + " is missing (" + in_quotes(tok.text) +
                           "); estimate or remove it before importing");
            if (trailing && j + 1 == cols) {
                const auto d = parse_number(tok.text);
                if (!d) refuse(t.path, tok.line, specimen, "text where the last value belongs (" + in_quotes(tok.text) + ")");
                t.sizes.back() = *d;
            } else {
                t.coords.back().push_back(coordinate(t, tok.line, specimen, landmark, tok.text));
            }
        }
    }
    if (p < tokens.size())
        refuse(t.path, tokens[p].line, "",
               "more values than the header's " + std::to_string(rows) + " specimens of " + std::to_string(cols) + " values");
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
                    refuse(t.path, t.lines[s], specimen, "the " + header[c] + " cell is not a number (" + in_quotes(r[c]) + ")");
                t.sizes.back() = *d;
            }
    }
    for (std::size_t c = 0; c < header.size(); ++c) {
        if (role[c] != 'o') continue;
        Column col{trim(header[c]), {}};
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

SpecimenTable read_specimens(const TextFile& f, const std::string& id_column) {
    const std::string ext = lower(std::filesystem::path(f.name).extension().string());
    if (ext == ".tps") return read_tps(f);
    if (ext == ".nts") return read_nts(f);
    std::size_t first = 0;
    while (first < f.lines.size() && trim(f.lines[first]).empty()) ++first;
    if (first == f.lines.size()) refuse(f.path, 0, "", "the file is empty");
    const std::string head = lower(trim(f.lines[first]));
    if (head.rfind("lm=", 0) == 0 || head.rfind("lm3=", 0) == 0) return read_tps(f);
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

// Factors and covariates of a separate table, matched to the specimens by ID.
void merge_factor_table(SpecimenTable& t, const TextFile& f, const std::string& id_column) {
    const HeadedRows table = headed_rows(f, "the factor table is empty");
    const auto& header = table.header;
    std::size_t id = 0;
    if (!id_column.empty())
        for (std::size_t c = 0; c < header.size(); ++c)
            if (lower(trim(header[c])) == lower(trim(id_column))) id = c;
    std::map<std::string, std::pair<std::vector<std::string>, int>> by_id;
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const auto& cells = table.rows[r];
        const int line = table.lines[r];
        if (by_id.count(cells[id])) refuse(f.path, line, cells[id], "the ID appears twice in the factor table");
        by_id[cells[id]] = {cells, line};
    }
    for (std::size_t s = 0; s < t.coords.size(); ++s) {
        if (t.ids[s].empty())
            refuse(t.path, t.lines[s], t.specimen_name(s),
                   "the specimen has no ID, so the factor table " + f.name + " cannot be matched to it");
        if (!by_id.count(t.ids[s])) refuse(f.path, 0, t.ids[s], "the factor table has no row for this specimen of " + t.name);
    }
    for (std::size_t c = 0; c < header.size(); ++c) {
        if (c == id) continue;
        Column col{trim(header[c]), {}};
        for (std::size_t s = 0; s < t.coords.size(); ++s) col.cells.push_back(by_id[t.ids[s]].first[c]);
        t.columns.erase(
            std::remove_if(t.columns.begin(), t.columns.end(), [&](const Column& x) { return lower(x.name) == lower(col.name); }),
            t.columns.end());
        t.columns.push_back(std::move(col));
    }
}

Factor make_factor(const SpecimenTable& t, const Column& c, bool strict, bool& ok) {
    Factor f;
    f.name = c.name;
    ok = true;
    for (std::size_t s = 0; s < c.cells.size(); ++s) {
        const std::string& w = c.cells[s];
        if (trim(w).empty()) {
            if (strict)
                refuse(t.path, s < t.lines.size() ? t.lines[s] : 0, t.specimen_name(s),
                       "the factor " + in_quotes(c.name) + " has an empty cell; give every specimen a level");
            ok = false;
            return f;
        }
        auto it = std::find(f.levels.begin(), f.levels.end(), w);
        if (it == f.levels.end()) {
            f.levels.push_back(w);
            f.codes.push_back(static_cast<int>(f.levels.size()));
        } else {
            f.codes.push_back(static_cast<int>(it - f.levels.begin()) + 1);
        }
    }
    return f;
}

}  // namespace

ImportedData assemble(SpecimenTable t, const ImportOptions& options, const TextFile* factor_table) {
    if (factor_table) merge_factor_table(t, *factor_table, options.id_column);
    const std::size_t m = t.coords.size();
    const std::size_t width = 2 * static_cast<std::size_t>(t.landmarks);
    if (t.landmarks < 2) refuse(t.path, 0, "", "a specimen needs at least two landmarks");
    ImportedData d;
    d.path = t.path;
    d.name = t.name;
    d.warnings = t.warnings;
    d.notices = t.notices;

    d.landmarks = Matrix(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(width + 1));
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
            d.landmarks(static_cast<Eigen::Index>(s), static_cast<Eigen::Index>(j)) = t.coords[s][j];
            const double dv = t.coords[s][j] - (j % 2 == 0 ? cx : cy);
            ss += dv * dv;
        }
        // Where the file gives no size, the centroid size of the coordinates as imported.
        d.landmarks(static_cast<Eigen::Index>(s), static_cast<Eigen::Index>(width)) =
            s < t.sizes.size() && t.sizes[s] ? *t.sizes[s] : std::sqrt(ss);
    }

    // Specimen IDs, and a warning when two specimens share one.
    const bool any_id = std::any_of(t.ids.begin(), t.ids.end(), [](const std::string& x) { return !x.empty(); });
    if (any_id) {
        for (std::size_t s = 0; s < m; ++s) d.legend.ids.push_back(t.ids[s].empty() ? std::to_string(s + 1) : t.ids[s]);
        std::map<std::string, std::vector<int>> seen;
        for (std::size_t s = 0; s < m; ++s) seen[d.legend.ids[s]].push_back(t.lines[s]);
        for (const auto& [id, where] : seen)
            if (where.size() > 1) {
                std::string lines;
                for (int l : where) lines += (lines.empty() ? "" : ", ") + std::to_string(l);
                d.warnings.push_back("The specimen ID " + in_quotes(id) + " appears " + std::to_string(where.size()) +
                                     " times in " + t.name + " (lines " + lines + "); both specimens were kept.");
            }
    }

    // Factors: the columns named, or else every column of words.
    std::vector<const Column*> wanted;
    for (const auto& name : options.factors) {
        const Column* c = find_column(t.columns, name);
        if (!c)
            refuse(t.path, 0, "", "there is no factor column " + in_quotes(name) + " (columns: " + column_list(t.columns) + ")");
        wanted.push_back(c);
    }
    const Column* cov = nullptr;
    if (!options.covariate_column.empty()) {
        cov = find_column(t.columns, options.covariate_column);
        if (!cov)
            refuse(t.path, 0, "",
                   "there is no covariate column " + in_quotes(options.covariate_column) +
                       " (columns: " + column_list(t.columns) + ")");
    }
    for (const Column* c : wanted) {
        bool ok = true;
        d.legend.factors.push_back(make_factor(t, *c, true, ok));
        d.legend.chosen.push_back(static_cast<int>(d.legend.factors.size()) - 1);
    }
    const bool choose_defaults = wanted.empty();
    for (const auto& c : t.columns) {
        if (&c == cov || std::find(wanted.begin(), wanted.end(), &c) != wanted.end()) continue;
        if (all_numbers(c) || lower(c.name) == "comment" || lower(c.name) == "image") continue;
        bool ok = true;
        const bool strict = choose_defaults && d.legend.chosen.size() < 2;
        Factor f = make_factor(t, c, strict, ok);
        if (!ok) continue;
        if (f.levels.size() == m && m > 1) continue;  // one level per specimen: a label, not a grouping
        d.legend.factors.push_back(std::move(f));
        if (strict) d.legend.chosen.push_back(static_cast<int>(d.legend.factors.size()) - 1);
    }
    for (const auto& c : t.columns) {
        if (!all_numbers(c)) continue;
        Legend::Numbers col{c.name, {}};
        for (const auto& cell : c.cells) col.values.push_back(*parse_number(cell));
        d.legend.numbers.push_back(std::move(col));
    }
    d.legend.source = t.path;
    d.groups = d.legend.group_table();
    if (d.groups.rows() == 0) d.groups = Matrix();

    if (cov) {
        d.covariate = Matrix(static_cast<Eigen::Index>(m), 1);
        for (std::size_t s = 0; s < m; ++s) {
            const auto v = parse_number(cov->cells[s]);
            if (!v)
                refuse(t.path, t.lines[s], t.specimen_name(s),
                       "the covariate " + in_quotes(cov->name) + " is not a number (" + in_quotes(cov->cells[s]) + ")");
            d.covariate(static_cast<Eigen::Index>(s), 0) = *v;
        }
        d.legend.covariate = cov->name;
    }
    return d;
}

ImportedData import_file(const std::string& path, const ImportOptions& options) {
    const TextFile f = read_text_file(path);
    std::optional<TextFile> factors;
    if (!options.factor_table.empty()) factors = read_text_file(options.factor_table);
    return assemble(read_specimens(f, options.id_column), options, factors ? &*factors : nullptr);
}

}  // namespace quillan::io
