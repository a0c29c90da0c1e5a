// Factor and covariate cells without a value.  A table written by R marks
// them NA, a spreadsheet leaves them empty; taken as a word, NA would be a
// level of its own and add a group and a degree of freedom to every test.
// Such cells are refused, naming the specimens, or (when asked) their
// specimens are left out before anything else is done with the table.
#include "io/import_refusal.hpp"
#include "io/import_steps.hpp"
#include "io/text.hpp"

namespace quillan::io {

bool missing_cell(const std::string& cell) {
    const std::string word = trim(cell);
    return word.empty() || word == "NA";
}

namespace {

constexpr std::size_t kNamedAtMost = 10;  // specimens named in a message; the rest are counted

const std::string& path_of(const SpecimenTable& t, const Column& c) { return c.path.empty() ? t.path : c.path; }

// Where a specimen's cell of `c` is: the factor table's line, or the specimen's own.
int line_of(const SpecimenTable& t, const Column& c, std::size_t s) {
    if (!c.path.empty()) return s < c.lines.size() ? c.lines[s] : 0;
    return s < t.lines.size() ? t.lines[s] : 0;
}

std::vector<std::size_t> missing_in(const Column& c) {
    std::vector<std::size_t> out;
    for (std::size_t s = 0; s < c.cells.size(); ++s)
        if (missing_cell(c.cells[s])) out.push_back(s);
    return out;
}

std::string specimen_list(const SpecimenTable& t, const Column& c, const std::vector<std::size_t>& which) {
    std::string out;
    for (std::size_t i = 0; i < which.size() && i < kNamedAtMost; ++i)
        out += (i ? ", " : "") + quoted_snippet(t.specimen_name(which[i])) + " (line " + std::to_string(line_of(t, c, which[i])) +
               ")";
    if (which.size() > kNamedAtMost) out += " and " + std::to_string(which.size() - kNamedAtMost) + " more";
    return out;
}

template <class T>
void erase_rows(std::vector<T>& v, const std::vector<bool>& gone) {
    if (v.size() != gone.size()) return;  // an optional per-specimen list the file did not give
    std::size_t to = 0;
    for (std::size_t s = 0; s < v.size(); ++s) {
        if (gone[s]) continue;
        if (to != s) v[to] = std::move(v[s]);  // not onto itself: a vector moved onto itself may be left empty
        ++to;
    }
    v.resize(to);
}

void erase_specimens(SpecimenTable& t, const std::vector<bool>& gone) {
    std::vector<std::size_t> index(gone.size());
    std::size_t kept = 0;
    for (std::size_t s = 0; s < gone.size(); ++s) index[s] = gone[s] ? 0 : kept++;
    erase_rows(t.ids, gone);
    erase_rows(t.lines, gone);
    erase_rows(t.id_lines, gone);
    erase_rows(t.coords, gone);
    erase_rows(t.sizes, gone);
    for (auto& c : t.columns) {
        erase_rows(c.cells, gone);
        erase_rows(c.lines, gone);
    }
    std::vector<Gap> gaps;
    for (Gap g : t.gaps)
        if (!gone[g.specimen]) {
            g.specimen = index[g.specimen];
            gaps.push_back(std::move(g));
        }
    t.gaps = std::move(gaps);
}

}  // namespace

void require_values(const SpecimenTable& t, const Column& c, const std::string& what) {
    const std::vector<std::size_t> missing = missing_in(c);
    if (missing.empty()) return;
    const std::string remedy =
        ": give every specimen a value, or leave out the specimens without one (--leave-out-missing "
        "in quillan-batch)";
    const std::string head = "the " + what + " " + in_quotes(c.name) + " has no value (an empty cell or NA)";
    if (missing.size() == 1)
        refuse(path_of(t, c), line_of(t, c, missing.front()), t.specimen_name(missing.front()), head + remedy);
    refuse(path_of(t, c), 0, "",
           head + " for " + std::to_string(missing.size()) + " specimens, " + specimen_list(t, c, missing) + remedy);
}

void leave_out_missing(SpecimenTable& t, const std::vector<const Column*>& used, ImportSteps& steps) {
    const std::size_t m = t.coords.size();
    std::vector<bool> gone(m, false);
    std::size_t count = 0;
    std::string names;
    for (const Column* c : used) {
        const std::vector<std::size_t> missing = missing_in(*c);
        if (missing.empty() || names.find(in_quotes(c->name)) != std::string::npos) continue;
        names += (names.empty() ? "" : " or ") + in_quotes(c->name);
        for (std::size_t s : missing)
            if (s < m && !gone[s]) {
                gone[s] = true;
                ++count;
            }
    }
    if (count == 0) return;
    if (count + 2 > m)
        refuse(t.path, 0, "",
               "leaving out the " + std::to_string(count) + " specimens without a value of " + names +
                   " would leave fewer than 2 specimens");
    for (std::size_t s = 0; s < m; ++s)
        if (gone[s]) steps.left_out.push_back(t.specimen_name(s));
    steps.left_out_for = names;
    erase_specimens(t, gone);
    std::string listed;
    for (std::size_t i = 0; i < steps.left_out.size() && i < kNamedAtMost; ++i)
        listed += (i ? ", " : "") + quoted_snippet(steps.left_out[i]);
    if (steps.left_out.size() > kNamedAtMost) listed += " and " + std::to_string(steps.left_out.size() - kNamedAtMost) + " more";
    steps.notes.push_back(std::to_string(count) + " of " + std::to_string(m) + " specimens were left out, having no value of " +
                          names + ": " + listed + ".");
    t.notices.push_back(steps.notes.back());
}

}  // namespace quillan::io
