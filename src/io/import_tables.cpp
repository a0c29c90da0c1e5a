#include "io/import.hpp"
#include "io/import_reading.hpp"
#include "io/import_refusal.hpp"

#include "platform/capped_read.hpp"
#include "platform/stop_request.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>
#include <string_view>

namespace quillan::io {

namespace {

// A coordinate column's axis and the name of its landmark: x1/y1/z1, X_3,
// "LM1 x", "1.X" and the like.
bool coordinate_name(const std::string& name, char& axis, std::string& stem) {
    const std::string l = lower(trim(name));
    if (l.size() < 2) return false;
    const auto is_axis = [](char c) { return c == 'x' || c == 'y' || c == 'z'; };
    if (is_axis(l.front())) {
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
    if (is_axis(last)) {
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

// The coordinate columns of a headed table: each landmark's x, y and (in
// space) z, found by the landmark's name wherever they stand (x1,y1,z1 as
// well as z1,y1,x1 or x1,x2,y1,y2), the landmarks in the order of their
// first column.  Every landmark has the same axes; an axis named twice for
// one landmark is refused; x, y and z columns of no landmark are columns like
// any other.
struct CoordinateColumns {
    std::vector<std::array<std::size_t, 3>> axes;  // per landmark: the columns of x, y, z
    int dimensions = 2;
};

CoordinateColumns coordinate_columns(const TextFile& f, const HeadedRows& table, std::vector<char>& role,
                                     const std::vector<std::string>& stems) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const std::size_t n = table.header.size();
    std::map<std::string, std::size_t> landmark_of;  // stem -> index in `found`
    std::vector<std::array<std::size_t, 3>> found;
    std::vector<std::string> names;
    for (std::size_t c = 0; c < n; ++c) {
        if (role[c] != 'x' && role[c] != 'y' && role[c] != 'z') continue;
        const auto [it, added] = landmark_of.emplace(stems[c], found.size());
        if (added) {
            found.push_back({kNone, kNone, kNone});
            names.push_back(stems[c]);
        }
        std::size_t& place = found[it->second][static_cast<std::size_t>(role[c] - 'x')];
        if (place != kNone)
            refuse(f.path, table.header_line, "",
                   "the landmark " + in_quotes(stems[c]) + " has two " + std::string(1, role[c]) + " columns (columns " +
                       std::to_string(place + 1) + " and " + std::to_string(c + 1) + ")");
        place = c;
    }
    CoordinateColumns out;
    std::vector<std::size_t> flat;  // landmarks with x and y but no z
    std::vector<char> used(n, 0);
    for (std::size_t j = 0; j < found.size(); ++j) {
        const auto& a = found[j];
        if (a[0] == kNone || a[1] == kNone) continue;
        if (a[2] == kNone) flat.push_back(j);
        out.axes.push_back(a);
    }
    const bool space = flat.size() < out.axes.size();
    if (space && !flat.empty())
        refuse(f.path, table.header_line, "",
               "the landmark " + in_quotes(names[flat.front()]) +
                   " has x and y columns but no z, while others have x, y and z; every landmark needs the same axes");
    out.dimensions = space ? 3 : 2;
    for (const auto& a : out.axes)
        for (int k = 0; k < out.dimensions; ++k) used[a[static_cast<std::size_t>(k)]] = 1;
    for (std::size_t c = 0; c < n; ++c)
        if ((role[c] == 'x' || role[c] == 'y' || role[c] == 'z') && !used[c]) role[c] = 'o';
    if (out.axes.size() < 2)
        refuse(f.path, table.header_line, "",
               "the header names fewer than two landmarks; name the coordinate columns x1,y1,x2,y2,... (or pairs such as "
               "LM1_x,LM1_y; x1,y1,z1,... in 3-D)");
    return out;
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
    std::vector<char> role(header.size(), 'o');  // o other, x/y/z coordinate, s size, i id
    std::vector<std::string> stems(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) {
        char axis = 0;
        if (coordinate_name(header[c], axis, stems[c])) role[c] = axis;
        else if (size_name(header[c])) role[c] = 's';
    }
    const CoordinateColumns coordinates = coordinate_columns(f, table, role, stems);
    const auto& axes = coordinates.axes;
    t.dimensions = coordinates.dimensions;
    std::optional<std::size_t> id;
    if (!id_column.empty()) {
        for (std::size_t c = 0; c < header.size(); ++c)
            if (lower(trim(header[c])) == lower(trim(id_column))) id = c;
        if (!id) refuse(t.path, table.header_line, "", "there is no ID column " + in_quotes(id_column));
    } else {
        for (std::size_t c = 0; c < header.size() && !id; ++c)
            if (role[c] == 'o' && id_name(header[c])) id = c;
        if (!id && role[0] == 'o' && std::min({axes.front()[0], axes.front()[1]}) > 0) {
            // A first column before the coordinates whose cells are all different names the specimens.
            std::set<std::string> seen;
            for (const auto& r : rows) seen.insert(r[0]);
            if (seen.size() == rows.size()) id = 0;
        }
    }
    if (id) role[*id] = 'i';

    t.landmarks = static_cast<int>(axes.size());
    for (std::size_t s = 0; s < rows.size(); ++s) {
        const auto& r = rows[s];
        t.ids.push_back(id ? r[*id] : "");
        const std::string specimen = t.specimen_name(s);
        t.coords.emplace_back();
        for (std::size_t j = 0; j < axes.size(); ++j)
            for (std::size_t a = 0; a < static_cast<std::size_t>(t.dimensions); ++a)
                t.coords.back().push_back(coordinate(t, t.lines[s], specimen, static_cast<int>(j) + 1, r[axes[j][a]]));
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

}  // namespace quillan::io
