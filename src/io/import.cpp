#include "io/import.hpp"
#include "io/import_reading.hpp"
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

std::vector<std::string> Legend::factor_names(const Matrix& groups) const {
    std::vector<std::string> names;
    if (level_names(groups).empty()) return names;
    for (int k : chosen) names.push_back(factors[static_cast<std::size_t>(k)].name);
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
// taken as a level of its own, or with `incomplete` coded 0.
Factor make_factor(const SpecimenTable& t, const Column& c, bool incomplete = false) {
    if (!incomplete) require_values(t, c, "factor");
    Factor f;
    f.name = c.name;
    f.path = c.path;
    std::map<std::string, int> code_of;  // each level's code, 1-based in order of appearance
    for (std::size_t s = 0; s < c.cells.size(); ++s) {
        const std::string& w = c.cells[s];
        if (incomplete && missing_cell(w)) {
            f.codes.push_back(0);
            continue;
        }
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
    const auto d = static_cast<std::size_t>(t.dimensions);
    std::vector<std::vector<int>> found(t.coords.size());
    for (std::size_t s = 0; s < t.coords.size(); ++s)
        for (std::size_t j = 0; j + d <= t.coords[s].size(); j += d)
            if (std::any_of(t.coords[s].begin() + static_cast<std::ptrdiff_t>(j),
                            t.coords[s].begin() + static_cast<std::ptrdiff_t>(j + d), [](double v) { return v < 0; }))
                found[s].push_back(static_cast<int>(j / d) + 1);
    return found;
}

// The specimens with negative coordinates and their landmarks: the first
// `most` of them, then how many more.
std::string negative_list(const SpecimenTable& t, const std::vector<std::vector<int>>& found,
                          std::size_t most = static_cast<std::size_t>(-1)) {
    std::string out;
    std::size_t named = 0;
    for (std::size_t s = 0; s < found.size(); ++s) {
        if (found[s].empty() || ++named > most) continue;
        out += (out.empty() ? "" : "; ") + quoted_snippet(t.specimen_name(s)) + at_line(t.lines[s]) + ": landmark" +
               (found[s].size() > 1 ? "s " : " ");
        for (std::size_t k = 0; k < found[s].size(); ++k) out += (k ? ", " : "") + std::to_string(found[s][k]);
    }
    if (named > most) out += "; and " + std::to_string(named - most) + " more specimen" + (named - most > 1 ? "s" : "");
    return out;
}

// Negative coordinates taken as missing become gaps, to be estimated or
// refused with the others.
void mark_gaps(SpecimenTable& t, const std::vector<std::vector<int>>& found) {
    for (std::size_t s = 0; s < found.size(); ++s)
        for (int landmark : found[s]) {
            auto& c = t.coords[s];
            const auto d = static_cast<std::size_t>(t.dimensions);
            std::string token;
            for (std::size_t j = d * static_cast<std::size_t>(landmark - 1), a = 0; a < d; ++a) {
                token += (a ? " " : "") + number_text(c[j + a]);
                c[j + a] = std::nan("");
            }
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
    // Missing landmarks are the exception; where most specimens have
    // negative coordinates they are coordinates about an origin.
    if (2 * with >= t.coords.size()) return;
    t.warnings.push_back(std::to_string(with) + " of " + std::to_string(t.coords.size()) + " specimens in " + t.name +
                         " have negative coordinates while the others have none, as digitising programs mark missing "
                         "landmarks: " +
                         negative_list(t, found, 5) +
                         ". They were imported as points; if they mark missing landmarks, import the file again with "
                         "negative coordinates taken as missing.");
}

// Copies the coordinates, with the file's size or else the centroid size of
// the coordinates as imported; refuses what no analysis could superimpose,
// naming the line where the specimen begins.
Matrix landmark_table(const SpecimenTable& t) {
    const std::size_t m = t.coords.size();
    const auto d = static_cast<std::size_t>(t.dimensions);
    const std::size_t width = d * static_cast<std::size_t>(t.landmarks);
    Matrix lm(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(width + 1));
    for (std::size_t s = 0; s < m; ++s) {
        if (t.coords[s].size() != width)
            refuse(t.path, t.lines[s], t.specimen_name(s),
                   "has " + std::to_string(t.coords[s].size() / d) + " landmarks, but the first specimen has " +
                       std::to_string(t.landmarks));
        double centre[3] = {0, 0, 0};
        for (std::size_t j = 0; j < width; ++j) centre[j % d] += t.coords[s][j];
        for (double& c : centre) c /= t.landmarks;
        double ss = 0;
        for (std::size_t j = 0; j < width; ++j) {
            lm(static_cast<Eigen::Index>(s), static_cast<Eigen::Index>(j)) = t.coords[s][j];
            const double dv = t.coords[s][j] - centre[j % d];
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
    const bool complete_only = options.offer_incomplete && !options.leave_out_missing;
    for (const auto& c : t.columns)
        if (out.size() < 2 && factor_candidate(c, cov) && !label_column(c) && !(complete_only && has_missing(c)))
            out.push_back(&c);
    return out;
}

// The centroid sizes as the covariate: asked for by their name, and no
// column of the file has it.
bool size_as_covariate(const SpecimenTable& t, const ImportOptions& options) {
    return !options.covariate_column.empty() && lower(trim(options.covariate_column)) == lower(kCentroidSize) &&
           !find_column(t.columns, options.covariate_column);
}

const Column* covariate_column(const SpecimenTable& t, const ImportOptions& options) {
    if (options.covariate_column.empty() || size_as_covariate(t, options)) return nullptr;
    return named_column(t, options.covariate_column, "covariate");
}

// Factors: the chosen columns, and every other complete column of words on
// offer; and every column of numbers as a covariate candidate.
void take_factors(const SpecimenTable& t, const std::vector<const Column*>& chosen, const Column* cov, bool incomplete,
                  ImportedData& d) {
    for (const Column* c : chosen) {
        d.legend.factors.push_back(make_factor(t, *c));
        d.legend.chosen.push_back(static_cast<int>(d.legend.factors.size()) - 1);
    }
    for (const auto& c : t.columns) {
        stop_point();
        if (std::find(chosen.begin(), chosen.end(), &c) != chosen.end()) continue;
        if (!factor_candidate(c, cov) || (has_missing(c) && !incomplete) || label_column(c)) continue;
        if (std::any_of(c.cells.begin(), c.cells.end(), holds_control)) continue;
        d.legend.factors.push_back(make_factor(t, c, incomplete));
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
    d.dimensions = t.dimensions;
    take_ids(t, d);
    const Column* cov = covariate_column(t, options);
    take_factors(t, chosen_columns(t, options, cov), cov, options.offer_incomplete, d);
    d.legend.source = t.path;
    d.legend.wireframe = t.wireframe;
    d.legend.wireframe_landmarks = t.landmarks;
    d.groups = d.legend.group_table();
    if (d.groups.rows() == 0) d.groups = Matrix();
    if (cov) take_covariate(t, *cov, d);
    if (size_as_covariate(t, options)) {
        d.covariate = d.landmarks.rightCols(1);
        d.legend.covariate = kCentroidSize;
    }
    return d;
}

namespace {

// In space two landmarks span no shape: an import of them is refused here,
// naming the file, rather than by the landmark table's check of its width
// when an analysis first runs on it.
ImportedData spanning_a_shape(ImportedData d, const std::string& path) {
    const Eigen::Index landmarks = d.dimensions > 0 ? (d.landmarks.cols() - 1) / d.dimensions : 0;
    if (d.dimensions == 3 && landmarks < 3)
        refuse(path, 0, "", "a specimen in 3-D needs at least three landmarks, and these have " + std::to_string(landmarks));
    return d;
}

}  // namespace

ImportedData import_table(SpecimenTable table, const ImportOptions& options) {
    std::optional<TextFile> factors;
    if (!options.factor_table.empty()) factors = read_text_file(options.factor_table);
    const std::string path = table.path;
    return spanning_a_shape(assemble(std::move(table), options, factors ? &*factors : nullptr), path);
}

ImportedData import_file(const std::string& path, const ImportOptions& options) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        std::optional<TextFile> factors;
        if (!options.factor_table.empty()) factors = read_text_file(options.factor_table);
        return spanning_a_shape(assemble(read_markups_folder(path), options, factors ? &*factors : nullptr), path);
    }
    const TextFile f = read_text_file(path);
    std::optional<TextFile> factors;
    if (!options.factor_table.empty()) factors = read_text_file(options.factor_table);
    return spanning_a_shape(
        assemble(read_specimens(f, options.id_column, options.semilandmarks), options, factors ? &*factors : nullptr), path);
}

}  // namespace quillan::io
