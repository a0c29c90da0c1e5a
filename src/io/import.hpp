// Importing landmark data from the formats digitising programs and
// spreadsheets write: TPS, NTS, morphologika, 3D Slicer's markups (a file
// per specimen, or a folder of them), tables with a header row (comma or
// tab separated, MorphoJ's exports among them) and plain x/y tables.  An import
// fills the same three tables the loads fill -- landmarks with a trailing
// value per specimen, group codes, covariate -- plus a legend that keeps the
// specimen IDs and the words behind the group codes.
#pragma once

#include "analyses/linear_models/model_request.hpp"
#include "figures/links.hpp"
#include "io/text.hpp"
#include "platform/value.hpp"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quillan::io {

// A column of a file besides the coordinates: one text cell per specimen.
struct Column {
    std::string name;
    std::vector<std::string> cells;
    std::string path;        // the file the column came from, when not the specimens' own (a factor table)
    std::vector<int> lines;  // with `path`: the line of each cell
};

// A landmark a file marks as not placed: NA, -99, -999, an NTS file's
// missing value, or (when asked) a negative coordinate.  Its coordinates
// are read as NaN.
struct Gap {
    std::size_t specimen = 0;  // 0-based
    int landmark = 0;          // 1-based
    int line = 0;
    std::string token;
    bool negative = false;  // missing only as a negative coordinate taken as missing
};

// What a reader found in a file, before factors and covariate are chosen.
struct SpecimenTable {
    std::string path, name;          // the file, with and without its folder
    std::vector<std::string> ids;    // "" where the file names none
    std::vector<int> lines;          // line where each specimen begins (1-based)
    std::vector<int> id_lines;       // line of each specimen's ID where not its first line (0: none)
    bool image_coordinates = false;  // TPS and NTS: digitised image coordinates, never negative
    int landmarks = 0;
    int dimensions = 2;                        // coordinates per landmark: 2, or 3 in space
    std::vector<std::vector<double>> coords;   // dimensions * k values per specimen
    std::vector<std::optional<double>> sizes;  // trailing value, where the file gives one
    std::vector<Column> columns;
    std::vector<std::string> warnings, notices;
    std::vector<Gap> gaps;  // in the order read
    // TPS outlines kept as semilandmarks: the points of each curve, after
    // the `fixed` landmarks in file order, the same in every specimen.
    int fixed = 0;
    std::vector<int> curve_points;
    Links wireframe;  // a morphologika file's [wireframe], 0-based

    std::string specimen_name(std::size_t i) const;  // its ID, or "number N"
};

// `keep_curves`: the points of CURVES=/POINTS= blocks become landmarks after
// the LM= ones (otherwise they are skipped and counted).
SpecimenTable read_tps(const TextFile& f, bool keep_curves = false);
SpecimenTable read_nts(const TextFile& f);
// morphologika: [individuals], [landmarks], [dimensions], [names],
// [rawpoints], [labels] with [labelvalues] (columns of the table) and
// [wireframe] (the links the pictures draw).
SpecimenTable read_morphologika(const TextFile& f);
// A 3D Slicer markups file (.fcsv or .mrk.json): one specimen, named by
// the file.
SpecimenTable read_markups(const TextFile& f);
// Every markups file of a folder, in order of their names: a specimen each.
SpecimenTable read_markups_folder(const std::string& folder);
// A table whose first line names the columns; `id_column` picks the ID
// column by name (otherwise one is recognised by name or position).
SpecimenTable read_headed_table(const TextFile& f, const std::string& id_column = "");
// Rows of numbers only: 2k coordinates, optionally a trailing value.
SpecimenTable read_plain_table(const TextFile& f);
// Whether a name is that of a 3D Slicer markups file.
bool markups_name(const std::string& name);
// Chooses the reader by the file's extension and first line.
SpecimenTable read_specimens(const TextFile& f, const std::string& id_column = "", bool keep_curves = false);

// A grouping variable: the words in order of first appearance; the code of
// specimen i is codes[i] (1-based index into levels).
struct Factor {
    std::string name;
    std::vector<std::string> levels;
    std::vector<int> codes;
    std::string path;  // the factor table it came from; empty for the imported file's own column
};

// What the import did to the coordinates besides reading them: landmarks
// estimated where the file had gaps, semilandmarks slid.
struct ImportSteps {
    std::string estimate_method;                 // "tps" or "reg"; empty when nothing was estimated
    std::vector<std::pair<int, int>> estimated;  // (specimen, landmark), both 1-based
    std::vector<int> semilandmarks;              // landmark numbers (1-based) that slid
    std::vector<std::array<int, 3>> sliders;     // before, slider, after (1-based)
    std::string slide_criterion;                 // "be" or "procd"; empty when nothing slid
    int iterations = 0;                          // as gpagen counts them: one more than its limit when sliding stopped there
    double last_change = 0, last_movement = 0;
    bool converged = true;  // false: the coordinates where sliding stopped at its limit, as gpagen returns them
    int iteration_limit = 0;
    bool to_optimum = false;            // slid to the optimum rather than by gpagen's steps
    Matrix partial;                     // m x 2k: aligned as geomorph's gpagen aligns them, when sliding ran
    std::vector<std::string> left_out;  // specimens left out for a factor or covariate without a value
    std::string left_out_for;           // the columns that had no value, quoted
    std::vector<std::string> notes;     // what the user is told of them (also among the import's notices)

    bool slid() const { return !slide_criterion.empty(); }
    // The landmarks (1-based) estimated in one specimen (0-based).
    std::vector<int> estimated_in(std::size_t specimen) const;
    // A line for the data description, empty when the import changed nothing.
    std::string description(const std::vector<std::string>& ids) const;
};

// The column of an import's centroid sizes, one a specimen, computed from
// its landmarks: offered beside its columns of numbers unless one of them
// has this name.
inline constexpr const char* kCentroidSize = "C_size";

// What is kept with the workspace besides the three tables.
struct Legend {
    std::vector<std::string> ids;  // one per specimen, empty when unknown
    std::vector<Factor> factors;   // every factor the file offered
    std::vector<int> chosen;       // indexes into factors: G1, then G2
    std::string covariate;         // name of the covariate column
    struct Numbers {
        std::string name;
        std::vector<double> values;
        std::string path;  // as for a factor
    };
    std::vector<Numbers> numbers;  // every column of numbers the file offered (covariate candidates)
    std::string source;            // the imported file's path
    ImportSteps steps;
    // The links the file itself gives (a morphologika [wireframe]), drawn
    // as a links file is while no links file is chosen; for landmarks of
    // `wireframe_landmarks` landmarks.
    Links wireframe;
    int wireframe_landmarks = 0;

    bool empty() const { return ids.empty() && factors.empty() && covariate.empty() && numbers.empty(); }
    // The group table of the chosen factors (m x chosen.size()).
    Matrix group_table() const;
    // The file the chosen factors came from: the factor table that gave G1
    // (or G2), else the imported file.
    std::string groups_file() const;
    // The file of the numeric column `name`: the factor table, or the imported file.
    std::string numbers_file(const std::string& name) const;
    // A few lines for the window: the chosen factors' codes and words.
    std::string summary() const;
    // The words behind the codes of each column of `groups` (names[j][code - 1]),
    // while `groups` is the table of the chosen factors; empty otherwise, as
    // for a group file loaded after the import.
    std::vector<std::vector<std::string>> level_names(const Matrix& groups) const;
    // The names of the chosen factors (G1, then G2) on the same terms.
    std::vector<std::string> factor_names(const Matrix& groups) const;
};

struct ImportOptions {
    std::vector<std::string> factors;  // column names for G1 (and G2)
    std::string covariate_column;
    std::string id_column;
    std::string factor_table;                  // path of a table of factors keyed by specimen ID
    bool negative_missing = false;             // negative coordinates mark missing landmarks
    std::string estimate_missing;              // "tps" or "reg": estimate missing landmarks; empty: refuse them
    bool semilandmarks = false;                // keep TPS curve points, sliding between their neighbours
    std::string sliders_file;                  // before / slider / after per line, landmark numbers
    std::string slide = "be";                  // the criterion of sliding: "be" (bending energy) or "procd"
    int slide_iterations = 10;                 // the most iterations of sliding by gpagen's steps (its max.iter)
    GpaSteps gpa_steps = GpaSteps::Converged;  // estimate and slide on the optimal superimposition, or on gpagen's
    bool strict_sliding = false;               // refuse sliding that has not settled by then, rather than use it as gpagen does
    bool leave_out_missing = false;            // leave out specimens without a value of a chosen factor or the covariate
    // The window's choice among the columns after the import: a column of
    // words with cells without a value is on offer too (code 0 there), and
    // the factors chosen at first are complete ones.
    bool offer_incomplete = false;
};
// The options that pick factor and covariate columns by name.
inline ImportOptions choose_columns(std::vector<std::string> factors, std::string covariate_column = "") {
    ImportOptions o;
    o.factors = std::move(factors);
    o.covariate_column = std::move(covariate_column);
    return o;
}

struct ImportedData {
    std::string path, name;
    Matrix landmarks;  // m x (2k+1), or m x (3k+1) with `dimensions` 3
    int dimensions = 2;
    Matrix groups;     // m x 0, 1 or 2
    Matrix covariate;  // m x 1, or empty
    Legend legend;
    std::vector<std::string> warnings, notices;
};

// Reads and assembles; fails with a message naming the file, the line and
// the specimen.  Nothing is kept of a failed import.  A folder is read as
// a folder of markups files.
ImportedData import_file(const std::string& path, const ImportOptions& options = {});
// The same on specimens already read, in memory: the factor table of
// `options` is read and attached by ID, and every step of an import follows.
ImportedData import_table(SpecimenTable table, const ImportOptions& options = {});
// The same on a table already read (and an optional factor table).
ImportedData assemble(SpecimenTable table, const ImportOptions& options, const TextFile* factor_table = nullptr);

}  // namespace quillan::io
