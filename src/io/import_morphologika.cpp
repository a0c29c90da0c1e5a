// morphologika files: sections headed [name], each followed by its lines.
// Lines starting with ' are comments; in [rawpoints] they often separate
// the specimens ('#1, '#2, ...).
#include "io/import.hpp"
#include "io/import_reading.hpp"
#include "io/import_refusal.hpp"

#include "platform/capped_read.hpp"
#include "platform/stop_request.hpp"

#include <algorithm>
#include <cmath>
#include <map>

namespace quillan::io {

namespace {

struct SectionLine {
    int number;  // 1-based
    std::string text;
};

struct Section {
    int line = 0;  // of its [name]
    std::vector<SectionLine> lines;
    std::vector<int> separators;  // comment lines within it
};

bool comment_line(const std::string& trimmed) { return !trimmed.empty() && trimmed.front() == '\''; }

std::map<std::string, Section> morphologika_sections(const TextFile& f) {
    std::map<std::string, Section> sections;
    Section* current = nullptr;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        stop_point();
        const std::string line = trim(f.lines[i]);
        const int number = static_cast<int>(i) + 1;
        if (line.empty()) continue;
        if (comment_line(line)) {
            if (current) current->separators.push_back(number);
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            const std::string name = lower(trim(line.substr(1, line.size() - 2)));
            const auto [it, added] = sections.emplace(name, Section{number, {}, {}});
            if (!added)
                refuse(
                    f.path, number, "",
                    "the section " + in_quotes(line) + " appears twice (first at line " + std::to_string(it->second.line) + ")");
            current = &it->second;
            continue;
        }
        if (!current) refuse(f.path, number, "", "unexpected line " + in_quotes(line) + " before the first [section]");
        current->lines.push_back({number, line});
    }
    return sections;
}

// A count of [individuals], [landmarks] or [dimensions]: one whole number
// on the line after the name, and no more than the file has lines.
std::size_t section_count(const TextFile& f, const std::map<std::string, Section>& sections, const std::string& name) {
    const auto it = sections.find(name);
    if (it == sections.end()) refuse(f.path, 0, "", "it has no [" + name + "] section");
    const Section& s = it->second;
    if (s.lines.size() != 1 || split_blanks(s.lines.front().text).size() != 1)
        refuse(f.path, s.line, "", "[" + name + "] needs a single whole number on the line after it");
    const std::string& text = s.lines.front().text;
    const auto d = parse_number(text);
    if (!d || *d < 1 || *d != std::floor(*d))
        refuse(f.path, s.lines.front().number, "", "[" + name + "] needs a whole number, not " + in_quotes(text));
    if (*d > static_cast<double>(f.lines.size()))
        refuse(f.path, s.lines.front().number, "",
               "[" + name + "] " + quoted_snippet(text) + " is more than the file has lines (" + std::to_string(f.lines.size()) +
                   ")");
    return static_cast<std::size_t>(*d);
}

// Whether the points from line i of [rawpoints] up to the next separator
// (or the end) make whole specimens: where they do, a separator before line
// i was only left out; where they do not, the specimen before it came long.
bool whole_specimens_follow(const Section& raw, std::size_t i, std::size_t sep, std::size_t left, std::size_t k) {
    if (sep >= raw.separators.size()) return raw.lines.size() - i == left * k;
    std::size_t n = 0;
    while (i + n < raw.lines.size() && raw.lines[i + n].number < raw.separators[sep]) ++n;
    return n % k == 0;
}

// The points of [rawpoints], k lines of `dims` numbers per specimen; a
// comment line within a specimen's points means a specimen came short, and
// in a file that separates most of its specimens, a specimen without its
// separator either one came long (refused) or a separator left out (told).
void read_rawpoints(SpecimenTable& t, const Section& raw, std::size_t m, std::size_t k) {
    const auto d = static_cast<std::size_t>(t.dimensions);
    const bool separated = m > 1 && !raw.separators.empty() && 2 * raw.separators.size() >= m;
    std::size_t sep = 0;
    for (std::size_t i = 0; i < raw.lines.size(); ++i) {
        const std::size_t s = i / k, j = i % k;
        const SectionLine& line = raw.lines[i];
        if (s >= m)
            refuse(t.path, line.number, "",
                   "more points than " + std::to_string(m) + " individuals of " + std::to_string(k) + " landmarks");
        while (sep < raw.separators.size() && raw.separators[sep] < line.number) ++sep;
        const bool after_separator = sep > 0 && (i == 0 || raw.separators[sep - 1] > raw.lines[i - 1].number);
        if (j == 0 && s > 0 && separated && !after_separator) {
            if (!whole_specimens_follow(raw, i, sep, m - s, k))
                refuse(t.path, line.number, t.specimen_name(s - 1),
                       "the specimen has more points than the " + std::to_string(k) +
                           " [landmarks] says: no separator between it and the next");
            t.notices.push_back("Line " + std::to_string(line.number) + ": specimen " + std::to_string(s + 1) +
                                " of [rawpoints] has no separator line before it, as the others have.");
        }
        if (j == 0) {
            t.coords.emplace_back();
            t.sizes.emplace_back();
            t.lines.push_back(line.number);
        } else if (after_separator) {
            refuse(t.path, raw.separators[sep - 1], t.specimen_name(s),
                   "the specimen has " + std::to_string(j) + " points before this separator, but [landmarks] says " +
                       std::to_string(k));
        }
        const auto tokens = split_blanks(line.text);
        if (tokens.size() != d)
            refuse(t.path, line.number, t.specimen_name(s),
                   "landmark " + std::to_string(j + 1) + " should be " + std::to_string(d) + " numbers but the line has " +
                       std::to_string(tokens.size()) + " values");
        for (const auto& tok : tokens)
            t.coords.back().push_back(coordinate(t, line.number, t.specimen_name(s), static_cast<int>(j) + 1, tok));
    }
    if (raw.lines.size() < m * k) {
        const std::size_t s = raw.lines.size() / k;
        refuse(t.path, raw.lines.empty() ? raw.line : raw.lines.back().number, t.specimen_name(s),
               "[rawpoints] ends within this specimen: " + std::to_string(raw.lines.size() % k) + " of its " + std::to_string(k) +
                   " points are there (" + std::to_string(m) + " individuals of " + std::to_string(k) + " landmarks announced)");
    }
}

void read_names(SpecimenTable& t, const std::map<std::string, Section>& sections, std::size_t m) {
    const auto it = sections.find("names");
    if (it == sections.end()) {
        t.ids.assign(m, "");
        return;
    }
    if (it->second.lines.size() != m)
        refuse(t.path, it->second.line, "",
               "[names] gives " + std::to_string(it->second.lines.size()) + " names for " + std::to_string(m) + " individuals");
    for (const auto& line : it->second.lines) t.ids.push_back(line.text);
}

// [labels] names the columns, [labelvalues] gives a line of values per
// specimen: factors and covariates as a table's columns are.
void read_labels(SpecimenTable& t, const std::map<std::string, Section>& sections, std::size_t m) {
    const auto labels = sections.find("labels"), values = sections.find("labelvalues");
    if (labels == sections.end() && values == sections.end()) return;
    if (labels == sections.end() || values == sections.end())
        refuse(t.path, (labels == sections.end() ? values : labels)->second.line, "",
               "[labels] and [labelvalues] go together; the file has only one of them");
    std::vector<std::string> names;
    for (const auto& line : labels->second.lines)
        for (auto& n : split_blanks(line.text)) names.push_back(std::move(n));
    const auto& rows = values->second.lines;
    if (rows.size() != m)
        refuse(t.path, values->second.line, "",
               "[labelvalues] has " + std::to_string(rows.size()) + " lines for " + std::to_string(m) + " individuals");
    for (std::size_t s = 0; s < m; ++s) {
        const auto cells = split_blanks(rows[s].text);
        if (cells.size() != names.size())
            refuse(t.path, rows[s].number, t.specimen_name(s),
                   "the line has " + std::to_string(cells.size()) + " values but [labels] names " + std::to_string(names.size()));
        for (std::size_t c = 0; c < names.size(); ++c) set_cell(t, names[c], s, cells[c]);
    }
}

// [wireframe]: a pair of landmark numbers (from 1) a line, the links the
// pictures draw between the landmarks, as a links file gives them.
void read_wireframe(SpecimenTable& t, const std::map<std::string, Section>& sections) {
    const auto it = sections.find("wireframe");
    if (it == sections.end()) return;
    for (const SectionLine& line : it->second.lines) {
        const auto tokens = split_blanks(line.text);
        if (tokens.size() != 2)
            refuse(t.path, line.number, "",
                   "a [wireframe] line should be two landmark numbers but has " + std::to_string(tokens.size()) + " values");
        const auto landmark = [&](const std::string& tok) {
            const auto v = parse_number(tok);
            if (!v || *v != std::floor(*v))
                refuse(t.path, line.number, "", "[wireframe] has " + in_quotes(tok) + " where a landmark number belongs");
            if (*v < 1 || *v > t.landmarks)
                refuse(t.path, line.number, "",
                       "[wireframe] names landmark " + quoted_snippet(tok) + ", but the specimens have " +
                           std::to_string(t.landmarks) + " landmarks");
            return static_cast<int>(*v) - 1;
        };
        const std::pair<int, int> link{landmark(tokens[0]), landmark(tokens[1])};
        if (link.first == link.second)
            refuse(t.path, line.number, "", "[wireframe] links landmark " + std::to_string(link.first + 1) + " to itself");
        t.wireframe.push_back(link);
    }
}

void note_unused(SpecimenTable& t, const std::map<std::string, Section>& sections) {
    static const char* const kRead[] = {"individuals", "landmarks", "dimensions",  "names",
                                        "rawpoints",   "labels",    "labelvalues", "wireframe"};
    for (const auto& [name, section] : sections)
        if (std::find(std::begin(kRead), std::end(kRead), name) == std::end(kRead))
            t.notices.push_back("Line " + std::to_string(section.line) + ": the section [" + quoted_snippet(name) +
                                "] is not used.");
}

}  // namespace

SpecimenTable read_morphologika(const TextFile& f) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    const auto sections = morphologika_sections(f);
    const std::size_t m = section_count(f, sections, "individuals");
    const std::size_t k = section_count(f, sections, "landmarks");
    const std::size_t d = sections.count("dimensions") ? section_count(f, sections, "dimensions") : 3;
    if (d != 2 && d != 3) refuse(f.path, sections.at("dimensions").line, "", "[dimensions] must be 2 or 3");
    if (k < 2) refuse(f.path, sections.at("landmarks").line, "", "a specimen needs at least two landmarks");
    const auto raw = sections.find("rawpoints");
    if (raw == sections.end()) refuse(f.path, 0, "", "it has no [rawpoints] section");
    t.dimensions = static_cast<int>(d);
    t.landmarks = static_cast<int>(k);
    read_names(t, sections, m);
    read_rawpoints(t, raw->second, m, k);
    read_labels(t, sections, m);
    read_wireframe(t, sections);
    note_unused(t, sections);
    finish_columns(t);
    return t;
}

}  // namespace quillan::io
