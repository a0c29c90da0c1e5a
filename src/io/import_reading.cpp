#include "io/import_reading.hpp"
#include "io/import_refusal.hpp"

#include "platform/capped_read.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace quillan::io {

namespace {

// The usual placeholders of digitising programs for a landmark not placed.
bool missing_marker(const std::string& token) {
    const std::string t = lower(token);
    if (t.empty() || t == "na" || t == "nan" || t == "?" || t == "-") return true;
    const auto d = parse_number(token);
    return d && (*d == -99.0 || *d == -999.0);
}

}  // namespace

double gap(SpecimenTable& t, int line, int landmark, const std::string& token) {
    const std::size_t s = t.coords.size() - 1;
    if (t.gaps.empty() || t.gaps.back().specimen != s || t.gaps.back().landmark != landmark)
        t.gaps.push_back({s, landmark, line, token});
    return std::nan("");
}

double coordinate(SpecimenTable& t, int line, const std::string& specimen, int landmark, const std::string& token) {
    if (missing_marker(token)) return gap(t, line, landmark, token);
    const auto d = parse_number(token);
    if (!d)
        refuse(t.path, line, specimen,
               "landmark " + std::to_string(landmark) + " has text where a coordinate belongs (" + in_quotes(token) + ")");
    return *d;
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

std::string SpecimenTable::specimen_name(std::size_t i) const {
    if (i < ids.size() && !ids[i].empty()) return ids[i];
    return "number " + std::to_string(i + 1);
}

SpecimenTable read_specimens(const TextFile& f, const std::string& id_column, bool keep_curves) {
    const std::string ext = lower(std::filesystem::path(f.name).extension().string());
    if (ext == ".tps") return read_tps(f, keep_curves);
    if (ext == ".nts") return read_nts(f);
    if (ext == ".fcsv" || ext == ".json") return read_markups(f);
    std::size_t first = 0;
    while (first < f.lines.size() && trim(f.lines[first]).empty()) ++first;
    if (first == f.lines.size()) refuse(f.path, 0, "", "the file is empty");
    // morphologika files open with a [section], perhaps after ' comments.
    std::size_t section = first;
    while (section < f.lines.size() && (trim(f.lines[section]).empty() || trim(f.lines[section]).front() == '\'')) ++section;
    if (section < f.lines.size() && trim(f.lines[section]).front() == '[') return read_morphologika(f);
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

}  // namespace quillan::io
