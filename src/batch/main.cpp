// quillan-batch: the actions of the desktop program without a window, for
// scripts and pipelines.  The files named on the command line are loaded with
// the real load actions (their dialogs answered with the given paths), the
// permutation count and covariate model go into their boxes, the action runs
// through the same dispatcher, and the results box is written to standard
// output or saved with "SaveOut".  Standard error carries what a user must
// read (message windows, each on one line) and, when asked for, the console
// trace and a progress bar.  An imported file (--import) is read before the
// loads; the exports (--json, --csv, --export-specimens) follow the report.
#include "analyses/common.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "analyses/process_team.hpp"
#include "batch/batch.hpp"
#include "batch/output_checks.hpp"
#include "batch/picture_module.hpp"
#include "batch/progress_bar.hpp"
#include "batch/stop_signals.hpp"
#include "geometry/kernel_dispatch.hpp"
#include "io/choice_notes.hpp"
#include "io/import.hpp"
#include "io/output.hpp"
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/seed_text.hpp"
#include "platform/stop_request.hpp"
#include "platform/version.hpp"
#include "shell/landmark_marks.hpp"
#include "shell/shell.hpp"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <system_error>

using namespace quillan;

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;   // the action failed (bad input file, inconsistent data, ...)
constexpr int kRefused = 2;  // the design was refused or a parameter was invalid
constexpr int kUsage = 64;   // the command line itself was wrong

// More worker threads than any machine has cores is a slip, not a request.
constexpr int kMaxThreads = 4096;

// The actions with their aliases and descriptions, for the end of --help.
std::string actions_help() {
    std::string text = "Actions (name or alias, what it needs loaded):\n";
    for (const auto& row : action_table()) {
        std::string names = std::string(row.name) + ", " + row.alias;
        names.resize(std::max<std::size_t>(names.size() + 1, 34), ' ');
        text += "  " + names + row.description + " (" + describe_needs(row.needs) + ")\n";
    }
    std::string convert = "convert FILE";
    convert.resize(34, ' ');
    text += "  " + convert + "Write an imported file as quillan's tables (needs --out-prefix NAME)\n";
    return text;
}

// A message window's text as one line of standard error, as Unix tools write
// their diagnostics: "quillan-batch: Title: text", line ends folded to blanks.
std::string message_line(const std::string& title, const std::string& text) {
    std::string folded;
    bool blank = false;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            blank = !folded.empty();
            continue;
        }
        if (blank && c != ' ') folded += ' ';
        blank = false;
        folded += c;
    }
    while (!folded.empty() && folded.back() == ' ') folded.pop_back();
    return "quillan-batch: " + (title.empty() ? std::string() : title + ": ") + folded;
}

// A failure outside an action (a conversion, an export, a picture) reads as
// an action's failure does.
std::string error_line(const std::string& text) { return message_line("Error", text); }

// Edit distance, for suggesting the nearest action name.
std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diag = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            const bool same =
                std::tolower(static_cast<unsigned char>(a[i - 1])) == std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (same ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

// The action name or alias nearest to `typed`, when one is near enough to be
// a likely slip; empty otherwise.
std::string nearest_action(const std::string& typed) {
    std::vector<std::string> candidates;
    for (const auto& row : action_table()) {
        candidates.emplace_back(row.name);
        candidates.emplace_back(row.alias);
    }
    candidates.emplace_back("convert");
    std::string best;
    std::size_t best_distance = std::max<std::size_t>(2, typed.size() / 3) + 1;
    for (const auto& c : candidates) {
        const std::size_t d = edit_distance(typed, c);
        if (d < best_distance) {
            best_distance = d;
            best = c;
        }
    }
    return best;
}

// Writes every character to two streams (the console trace to standard
// error and to a log file at once).
class TeeBuf : public std::streambuf {
public:
    TeeBuf(std::streambuf* a, std::streambuf* b) : a_(a), b_(b) {}

protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        const bool ok_a = a_->sputc(static_cast<char>(c)) != traits_type::eof();
        const bool ok_b = b_->sputc(static_cast<char>(c)) != traits_type::eof();
        return ok_a && ok_b ? c : traits_type::eof();
    }
    int sync() override { return a_->pubsync() | b_->pubsync(); }

private:
    std::streambuf* a_;
    std::streambuf* b_;
};

// "TestCovariate and GoMan": the actions whose result is their console trace
// (shown by default, as the report is for the others), for the help.
std::string trace_result_names() {
    std::vector<std::string> names;
    for (const auto& row : action_table())
        if (row.trace_is_result) names.emplace_back(row.name);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

// Writes the report to standard output; a failed write (a full disk behind
// a redirection, say) is a failure, not a success.
int write_out(const std::string& text) {
    std::cout << text << std::flush;
    if (std::cout) return kOk;
    std::cerr << "quillan-batch: cannot write the report to standard output\n";
    return kFailed;
}

// A fingerprint (64-bit FNV-1a) of the loaded tables, sizes and values.
std::uint64_t data_fingerprint(const Workspace& ws) {
    std::uint64_t h = 14695981039346656037ULL;
    auto add = [&](const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ULL;
    };
    for (const Matrix* m : {&ws.landmarks, &ws.groups, &ws.covariate}) {
        const std::int64_t size[2] = {static_cast<std::int64_t>(m->rows()), static_cast<std::int64_t>(m->cols())};
        add(size, sizeof size);
        add(m->data(), static_cast<std::size_t>(m->size()) * sizeof(double));
    }
    return h;
}

// What the command line asks for.
struct BatchRequest {
    std::string action, landmarks, groups, covariate, perm = "999", out;
    int model = 1;
    std::string seed_text;
    std::uint64_t seed = 0;  // from seed_text, when it is given
    int threads = 0;
    bool trace = false, quiet = false, progress_on = false, progress_off = false;
    std::string log_file;
    bool list = false, list_names = false;
    BatchPlotRequest plots;
    std::string plot_size;  // WIDTHxHEIGHT, read into plots.size
    std::string import_file, convert_file, out_prefix, json_out, csv_out, specimens_out;
    io::ImportOptions import_options;
    ModelRequest linear_model;
    std::string ss_type, alignment, permute, pairwise_means;  // the model's choices as typed; empty: the defaults
    int dimensions = 2;                                       // coordinates per landmark of --landmarks
    bool slide_chosen = false;                                // --slide or --slide-iterations given
    bool no_cross_validate = false, no_rotation_search = false;
};

// The top of --help.
std::string program_description(const BatchProcess& process) {
    return std::string(process.name) + ": landmark shape statistics without a window.\n\n" + process.about +
           "Runs one action of the desktop program on the files given.  The report goes to\n"
           "standard output (or to --out FILE, written as \"SaveOut\" writes it); for the load\n"
           "actions and Clear the file box is written instead.\n\n"
           "Exit status: 0 done, 1 the action failed, 2 refused (design or parameter), 64 usage,\n"
           "129, 130 or 143 stopped by SIGHUP, Ctrl-C (SIGINT) or SIGTERM.";
}

// The options of the run itself: the files, the boxes, the seed and threads,
// and where the report, the trace and the progress bar go.
void add_run_options(CLI::App& app, BatchRequest& r) {
    app.add_option("action", r.action, "Action name or alias (see the list below, or --list)");
    app.add_option("--landmarks,-l", r.landmarks, "Landmark file: one specimen per line, x1 y1 ... xk yk and one more value");
    app.add_option("--dimensions,-d", r.dimensions,
                   "Coordinates per landmark of the landmark file: 2, or 3 for landmarks in space (x1 y1 z1 ... xk yk zk\n"
                   "and one more value on each line)")
        ->capture_default_str()
        ->check(CLI::IsMember({2, 3}));
    app.add_option("--groups,-g", r.groups, "Group file: one or two columns of group codes");
    app.add_option("--covariate,-c", r.covariate, "Covariate file: one value per specimen");
    app.add_option("--perm,-p", r.perm, "Number of permutations (the text of the permutation box)")->capture_default_str();
    app.add_option("--model,-m", r.model,
                   "Covariate model 1-5: 1 none, 2 one slope for all, 3 within G1, 4 within G2, 5 within G1 x G2 cells")
        ->capture_default_str()
        ->check(CLI::Range(1, 5));
    app.add_option("--seed,-s", r.seed_text,
                   "Seed of the random permutations, a whole number from 0 to 18446744073709551615 (a seeded run is "
                   "reproducible on any number of threads)");
    app.add_option("--threads,-t", r.threads, "Worker threads for the permutations (0: every core)")
        ->capture_default_str()
        ->check(CLI::Range(0, kMaxThreads));
    app.add_option("--out,-o", r.out,
                   "Save the results box to this file instead of writing it to standard output; \"-\" writes the saved form to "
                   "standard output.  Only a regular file is replaced (a device, pipe or socket is refused), through a symbolic "
                   "link to its target");
    app.add_flag("--trace", r.trace, "Show the console trace (echoed values, status lines) on standard error");
    app.add_option("--log", r.log_file, "Append the console trace to this file as it goes");
    app.add_flag("--quiet,-q", r.quiet, "Show no warnings on standard error; errors and refusals always show");
    app.add_flag("--progress", r.progress_on, "Draw a progress bar on standard error even when it is not a terminal");
    app.add_flag("--no-progress", r.progress_off,
                 "Never draw a progress bar (the default when standard error is not a terminal)");
    app.footer(actions_help() +
               "\n"
               "Standard error carries what you must read: each message window's text on one line,\n"
               "\"quillan-batch: ...\" (--quiet keeps only errors and refusals). The console trace is\n"
               "shown only with --trace or written with --log FILE, except for " +
               trace_result_names() +
               ",\n"
               "whose result it is. On a terminal a progress bar shows the permutations done.\n"
               "Ctrl-C, SIGTERM or SIGHUP stops a run: nothing is written, exit status 130, 143 or 129.");
    // Every action name and alias, one a line, for the shell's completion.
    app.add_flag("--list", r.list, "Print every action with its alias and what it does, and end");
    app.add_flag("--list-names", r.list_names, "Print every action name and alias, one a line, and end")->group("");
}

// The options around the run: the pictures, the import of other formats and
// the export of the numbers (see README, "Import" and "Export").
void add_file_options(CLI::App& app, BatchRequest& r) {
    app.add_option("--plots", r.plots.folder,
                   "Also draw the pictures of the action (superimposition, principal components, shape change,\n"
                   "permutation distributions) as SVG and PNG into this folder");
    app.add_option("--links", r.plots.links_file, "Links file for the pictures' wireframe: two landmark numbers per line");
    app.add_option("--plots-group-by", r.plots.group_by, "Colour the pictures by none, g1, g2 or cells")
        ->capture_default_str()
        ->check(CLI::IsMember({"none", "g1", "g2", "cells"}));
    app.add_option("--plot-size", r.plot_size, "Size of each picture in pixels, WIDTHxHEIGHT (default 1000x800)");
    app.add_option("--plot-dpi", r.plots.size.dpi, "Resolution of the pictures in dots per inch (default 96)");
    app.add_option("file", r.convert_file, "For convert: the file to convert");
    app.add_option("--import,-i", r.import_file,
                   "Import landmarks (and factors, covariate) from a TPS, NTS, morphologika, CSV/TSV or plain x/y file, or\n"
                   "3D Slicer markups (.fcsv, .mrk.json: every one of the folder, a specimen each), before the loads");
    app.add_option("--factor", r.import_options.factors, "Column of the imported file that is G1 (given again: G2)")
        ->expected(1)
        ->take_all();
    app.add_option("--covariate-column", r.import_options.covariate_column,
                   "Numeric column of the imported file that is the covariate");
    app.add_option("--id-column", r.import_options.id_column,
                   "Column of the imported file (and of --factors) that holds the specimen IDs");
    app.add_option("--factors", r.import_options.factor_table,
                   "Table (CSV or TSV with a header) of factors and covariates keyed by specimen ID");
    app.add_flag("--negative-missing", r.import_options.negative_missing,
                 "Take negative coordinates of an imported file as missing landmarks (refused, naming each)");
    app.add_option("--estimate-missing", r.import_options.estimate_missing,
                   "Estimate the missing landmarks of an imported file from its complete specimens: tps (thin-plate spline\n"
                   "from their mean) or reg (regression on the present landmarks); without it they are refused")
        ->check(CLI::IsMember({"tps", "reg"}));
    app.add_flag("--semilandmarks", r.import_options.semilandmarks,
                 "Keep the curve points of an imported TPS file as semilandmarks after its landmarks; each curve's inner\n"
                 "points slide between their neighbours");
    app.add_option("--sliders", r.import_options.sliders_file,
                   "Sliders file: before, slider and after landmark numbers on each line (geomorph's curves matrix)");
    app.add_option("--slide", r.import_options.slide,
                   "What sliding minimises: be (bending energy) or procd (Procrustes distance)")
        ->capture_default_str()
        ->check(CLI::IsMember({"be", "procd"}));
    app.add_option("--slide-iterations", r.import_options.slide_iterations,
                   "The limit of iterations of sliding (geomorph's max.iter); sliding not settled by then gives the\n"
                   "coordinates at the limit, as gpagen does, with a warning")
        ->capture_default_str()
        ->check(CLI::Range(2, 100));
    app.add_flag("--leave-out-missing", r.import_options.leave_out_missing,
                 "Leave out the specimens without a value (an empty cell or NA) of a chosen factor or the covariate,\n"
                 "saying how many in the report; without it they are refused, naming each");
    app.add_flag("--slide-strict", r.import_options.strict_sliding,
                 "Refuse sliding that has not settled within --slide-iterations instead of using the coordinates at the limit");
    app.add_option("--out-prefix", r.out_prefix,
                   "For convert: write PREFIX.lm.txt, PREFIX.groups.txt, PREFIX.cov.txt and PREFIX.legend.csv");
    app.add_option("--json", r.json_out, "Write the numbers of the report and of the run to this JSON file");
    app.add_option("--csv", r.csv_out, "Write the numbers of the report to this CSV file, one row per model or effect");
    app.add_option("--export-specimens", r.specimens_out,
                   "Write one row per specimen: ID, groups, covariate, centroid size, aligned coordinates, Procrustes distance");
}

// The options of the linear model (the action "model").
void add_model_options(CLI::App& app, BatchRequest& r) {
    const std::string group = "Linear model (action model)";
    app.add_option("--formula", r.linear_model.formula,
                   "Model formula of the terms, as in R: \"species * site\", \"log(cov) + G1\", \"pop / ind\"; names are G1, "
                   "G2, cov and the imported columns (default: G1 * G2, or G1)")
        ->group(group);
    app.add_option("--ss-type", r.ss_type, "Sums of squares: I (sequential), II or III")
        ->check(CLI::IsMember({"I", "II", "III"}))
        ->group(group);
    app.add_option("--alignment", r.alignment,
                   "Superimposition of the shapes of the model and of --export-specimens' coordinates: full (the "
                   "program's full Procrustes fits, the default) or partial (partial Procrustes, unit centroid size, "
                   "tangent projection, as geomorph's gpagen)")
        ->check(CLI::IsMember({"full", "partial"}))
        ->group(group);
    app.add_option("--error", r.linear_model.error,
                   "Denominator of each term's F, in order, comma-separated: a term or Residuals (\"pop:ind,Residuals\")")
        ->group(group);
    app.add_option("--permute", r.permute, "What the permutations move: residuals (of each term's reduced model, RRPP) or rows")
        ->check(CLI::IsMember({"residuals", "rows"}))
        ->group(group);
    app.add_option("--pairwise", r.linear_model.pairwise, "Compare the means of this factor's groups after the model")
        ->group(group);
    app.add_option("--pairwise-means", r.pairwise_means,
                   "The means --pairwise compares: ls (least-squares means, or slopes where a covariate meets the "
                   "factor; the default) or plain (the groups' own averages of shape)")
        ->check(CLI::IsMember({"ls", "plain"}))
        ->group(group);
}

// A file or folder option given an empty name ("" from an unset shell
// variable, say) would be taken as not given at all: --plots "" would draw
// nothing and --out "" write to standard output, without a word.
std::optional<int> empty_names(const CLI::App& app) {
    for (const char* name :
         {"--landmarks", "--groups", "--covariate", "--out", "--log", "--plots", "--links", "--import", "--factors", "--sliders",
          "--out-prefix", "--json", "--csv", "--export-specimens", "--partition", "--block2"}) {
        const CLI::Option* option = app.get_option(name);
        for (const std::string& value : option->results())
            if (value.empty()) {
                std::cerr << "quillan-batch: " << name << " needs a file or folder name, not an empty one\n";
                return kUsage;
            }
    }
    return std::nullopt;
}

// The options of the shape analyses (outliers, disparity, cva, integration,
// pls, modularity); --alignment and --formula are shared with the model.
void add_shape_options(CLI::App& app, BatchRequest& r) {
    const std::string group = "Shape analyses (outliers, disparity, cva, integration, pls, modularity, symmetry)";
    ShapeRequest& s = r.linear_model.shape;
    app.add_flag("--within-groups", s.within_groups, "outliers: measure each specimen from the mean of its own group of G1")
        ->group(group);
    app.add_flag("--no-cross-validate", r.no_cross_validate,
                 "cva: classify by resubstitution only (by default each specimen is also classified left out in turn)")
        ->group(group);
    app.add_option("--partition", s.partition,
                   "integration, modularity: file of one module label per landmark, in landmark order")
        ->group(group);
    app.add_option("--block2", s.block2, "pls: table of the second block, one row of numbers per specimen")->group(group);
    app.add_flag("--no-rotation-search", r.no_rotation_search,
                 "modularity: take the 2-D landmarks as aligned, without first turning them to the average CR")
        ->group(group);
    app.add_option("--individual", s.individual, "symmetry: factor of each configuration's individual (default G1)")
        ->group(group);
    app.add_option("--side", s.side, "symmetry: factor of each configuration's side, two levels (default G2)")->group(group);
    app.add_option("--replicate", s.replicate,
                   "symmetry: factor of the replicates that repeat each side; the individual x side term is then tested")
        ->group(group);
    app.add_option("--mirror-side", s.mirror_side,
                   "symmetry: the level of --side whose configurations were digitised as mirror images, reflected first")
        ->group(group);
    app.add_option("--land-pairs", s.land_pairs,
                   "symmetry: file of the pairs of matching landmarks, one pair a line, for object symmetry (each "
                   "configuration holds both sides)")
        ->group(group);
}

// Reads the command line into `r`; an exit status when the program ends here
// (--help, --version or a usage error).
std::optional<int> parse_command_line(int argc, char** argv, const BatchProcess& process, BatchRequest& r) {
    CLI::App app{program_description(process), process.name};
    app.set_version_flag("--version", std::string(process.name) + " " + version_text());
    add_run_options(app, r);
    add_file_options(app, r);
    add_model_options(app, r);
    add_shape_options(app, r);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : kUsage;
    }
    r.slide_chosen = app.count("--slide") + app.count("--slide-iterations") > 0;
    return empty_names(app);
}

// --plot-size WIDTHxHEIGHT and --plot-dpi, read and checked before anything is.
std::optional<int> check_picture_size(BatchRequest& r) {
    PictureSize& size = r.plots.size;
    if (!r.plot_size.empty()) {
        const auto x = r.plot_size.find_first_of("xX");
        const char* s = r.plot_size.data();
        const char* end = s + r.plot_size.size();
        std::from_chars_result wide{}, high{};
        const bool read = x != std::string::npos && x > 0 && x + 1 < r.plot_size.size() &&
                          (wide = std::from_chars(s, s + x, size.width)).ptr == s + x &&
                          (high = std::from_chars(s + x + 1, end, size.height)).ptr == end;
        if (!read) {
            std::cerr << "quillan-batch: --plot-size is WIDTHxHEIGHT in pixels, such as 2000x1600, not \"" << r.plot_size
                      << "\"\n";
            return kUsage;
        }
        // Digits past what an int holds: far beyond the largest picture.
        if (wide.ec == std::errc::result_out_of_range || high.ec == std::errc::result_out_of_range) {
            std::cerr << "quillan-batch: A picture must be from " << PictureSize::kMinPixels << " to " << PictureSize::kMaxPixels
                      << " pixels wide and high, not " << r.plot_size << ".\n";
            return kUsage;
        }
    }
    try {
        size.check();
    } catch (const QuillanError& e) {
        std::cerr << "quillan-batch: " << e.what() << '\n';
        return kUsage;
    }
    if (size.crowded() && !r.plots.folder.empty() && !r.quiet) {
        // The pixels a side needs at this resolution.
        auto fitting = [&](int pixels, int layout) { return std::max(pixels, (layout * size.dpi + 95) / 96); };
        std::cerr << "quillan-batch: Warning: at " << size.dpi << " dpi, pictures of " << size.width << "x" << size.height
                  << " pixels are too small for their text, which will be cut off or run together: give --plot-size "
                  << fitting(size.width, PictureSize::kMinLayoutWidth) << "x"
                  << fitting(size.height, PictureSize::kMinLayoutHeight) << " or more, or a smaller --plot-dpi\n";
    }
    return std::nullopt;
}

// What is answered before any action: the lists of actions, a missing
// action, a kernel this processor cannot run, too many factors and a
// picture size out of range.
std::optional<int> check_before_action(BatchRequest& r) {
    if (r.list) {
        std::cout << actions_help();
        return kOk;
    }
    if (r.list_names) {
        for (const auto& row : action_table()) std::cout << row.name << '\n';
        for (const auto& row : action_table()) std::cout << row.alias << '\n';
        std::cout << "convert\n";
        return kOk;
    }
    if (r.action.empty()) {
        std::cerr << "quillan-batch: an action is required (see --help for the names)\n";
        return kUsage;
    }
    // A kernel forced by QUILLAN_KERNEL that this processor cannot run is
    // refused before any file is read.
    try {
        active_kernel();
    } catch (const QuillanError& e) {
        std::cerr << error_line(e.what()) << '\n';
        return kFailed;
    }

    if (r.import_options.factors.size() > 2) {
        std::cerr << "quillan-batch: --factor is given once for G1 and once more for G2, not more\n";
        return kUsage;
    }
    // The import steps act on an imported file only: without one they would
    // be silently left out.
    const io::ImportOptions& o = r.import_options;
    const bool steps = !o.estimate_missing.empty() || o.semilandmarks || !o.sliders_file.empty();
    if (steps && r.import_file.empty() && r.convert_file.empty()) {
        std::cerr << "quillan-batch: --estimate-missing, --semilandmarks and --sliders act on an imported file: give it with "
                     "--import FILE (or convert FILE)\n";
        return kUsage;
    }
    if (r.slide_chosen && !o.semilandmarks && o.sliders_file.empty() && !r.quiet)
        std::cerr << "quillan-batch: Warning: --slide and --slide-iterations choose how semilandmarks slide; without "
                     "--semilandmarks or --sliders nothing slides, so they are ignored\n";
    return check_picture_size(r);
}

// Outputs onto the inputs or onto each other, refused before anything is
// read: the files the run reads, then those it writes.
std::optional<int> check_outputs(const BatchRequest& r) {
    std::vector<NamedFile> in, out;
    const io::ImportOptions& o = r.import_options;
    const std::pair<const char*, const std::string*> inputs[] = {{"-l", &r.landmarks},
                                                                 {"-g", &r.groups},
                                                                 {"-c", &r.covariate},
                                                                 {"--import", &r.import_file},
                                                                 {"--factors", &o.factor_table},
                                                                 {"--sliders", &o.sliders_file},
                                                                 {"--links", &r.plots.links_file},
                                                                 {"convert", &r.convert_file}};
    for (const auto& [option, path] : inputs)
        if (!path->empty()) in.push_back({option, *path});
    if (r.action == "convert") {
        for (const char* member : {".lm.txt", ".groups.txt", ".cov.txt", ".legend.csv"})
            if (!r.out_prefix.empty()) out.push_back({"--out-prefix", r.out_prefix + member});
    } else {
        out.push_back(r.out.empty() ? NamedFile{"the report", "-"} : NamedFile{"--out", r.out});
    }
    const std::pair<const char*, const std::string*> outputs[] = {{"--json", &r.json_out},
                                                                  {"--csv", &r.csv_out},
                                                                  {"--export-specimens", &r.specimens_out},
                                                                  {"--log", &r.log_file},
                                                                  {"--plots", &r.plots.folder}};
    for (const auto& [option, path] : outputs)
        if (!path->empty()) out.push_back({option, *path});
    const std::string clash = output_clash(in, out);
    if (clash.empty()) return std::nullopt;
    std::cerr << "quillan-batch: " << clash << '\n';
    return kUsage;
}

// convert FILE: an imported file written as quillan's tables.
int run_convert(const BatchRequest& r, const BatchProcess& process) {
    const std::string file = r.convert_file.empty() ? r.import_file : r.convert_file;
    if (file.empty() || r.out_prefix.empty()) {
        std::cerr << "quillan-batch: convert needs a FILE and --out-prefix NAME\n";
        return kUsage;
    }
    StopSignals stop_signals;
    try {
        const io::ImportedData d = io::import_naming_choices(file, r.import_options);
        if (r.trace)
            for (const auto& n : d.notices) std::cerr << n << '\n';
        if (!r.quiet && !r.trace)
            for (const auto& n : d.legend.steps.notes) std::cerr << "quillan-batch: " << n << '\n';
        if (!r.quiet)
            for (const auto& w : d.warnings) std::cerr << message_line("Possible error", w) << '\n';
        if (StopSignals::received()) {  // nothing is written after a stop
            std::cerr << "quillan-batch: stopped\n";
            return StopSignals::exit_status(StopSignals::received());
        }
        if (process.writes)
            for (const auto& path : io::write_converted(d, r.out_prefix)) std::cout << path << '\n';
    } catch (const Cancelled&) {
        std::cerr << "quillan-batch: stopped\n";
        return StopSignals::exit_status(StopSignals::received());
    } catch (const QuillanError& e) {
        std::cerr << error_line(e.what()) << '\n';
        return kFailed;
    }
    return kOk;
}

// The options of the model and of the shape analyses, each given only to
// the actions that read it: one row per option, with the actions (by their
// batch names) that take it.
std::optional<int> check_owned_options(BatchRequest& r, const std::string& action, bool exports_specimens) {
    ShapeRequest& s = r.linear_model.shape;
    s.cross_validate = !r.no_cross_validate;
    s.rotation_search = !r.no_rotation_search;
    const ModelRequest& m = r.linear_model;
    struct Owned {
        bool given;
        const char* option;
        std::vector<std::string_view> actions;
    };
    const std::vector<std::string_view> shape_actions = {"model",       "outliers", "disparity",  "cva",
                                                         "integration", "pls",      "modularity", "symmetry"};
    const Owned owned[] = {{!m.formula.empty(), "--formula", {"model", "disparity"}},
                           {!r.ss_type.empty(), "--ss-type", {"model"}},
                           {!r.alignment.empty() && !exports_specimens, "--alignment", shape_actions},
                           {!m.error.empty(), "--error", {"model"}},
                           {!r.permute.empty(), "--permute", {"model"}},
                           {!m.pairwise.empty(), "--pairwise", {"model"}},
                           {!r.pairwise_means.empty(), "--pairwise-means", {"model"}},
                           {s.within_groups, "--within-groups", {"outliers"}},
                           {r.no_cross_validate, "--no-cross-validate", {"cva"}},
                           {!s.partition.empty(), "--partition", {"integration", "modularity"}},
                           {!s.block2.empty(), "--block2", {"pls"}},
                           {r.no_rotation_search, "--no-rotation-search", {"modularity"}},
                           {!s.individual.empty(), "--individual", {"symmetry"}},
                           {!s.side.empty(), "--side", {"symmetry"}},
                           {!s.replicate.empty(), "--replicate", {"symmetry"}},
                           {!s.mirror_side.empty(), "--mirror-side", {"symmetry"}},
                           {!s.land_pairs.empty(), "--land-pairs", {"symmetry"}}};
    const ActionRow* row = find_action_or_alias(action);
    const std::string name = row && row->alias ? row->alias : action;
    for (const Owned& o : owned) {
        if (!o.given || std::find(o.actions.begin(), o.actions.end(), name) != o.actions.end()) continue;
        std::string takers;
        for (std::size_t i = 0; i < o.actions.size(); ++i)
            takers += (i == 0 ? "" : i + 1 == o.actions.size() ? " and " : ", ") + std::string(o.actions[i]);
        std::cerr << "quillan-batch: " << o.option << " belongs to " << (o.actions.size() == 1 ? "the action " : "the actions ")
                  << takers << ", not to " << name << "\n";
        return kUsage;
    }
    return std::nullopt;
}

// The seed, the action's name (an alias becomes the name) and the options
// an action needs or cannot take.
std::optional<int> check_action(BatchRequest& r) {
    const std::optional<std::uint64_t> seed = parse_seed_text(r.seed_text);
    if (!r.seed_text.empty() && !seed) {
        std::cerr << "quillan-batch: --seed must be a whole number from 0 to 18446744073709551615, not \"" << r.seed_text
                  << "\"\n";
        return kUsage;
    }
    if (seed) r.seed = *seed;

    const ActionRow* row = find_action_or_alias(r.action);
    if (!row) {
        const std::string near = nearest_action(r.action);
        std::cerr << "quillan-batch: unknown action \"" << r.action << "\""
                  << (near.empty() ? std::string() : " (did you mean " + near + "?)") << "; see --list for the names\n";
        return kUsage;
    }
    r.action = row->name;
    const std::string& action = r.action;
    const std::string& out = r.out;
    if (!r.convert_file.empty()) {
        std::cerr << "quillan-batch: only convert takes a file after the action; use --landmarks or --import\n";
        return kUsage;
    }
    if (action == "Import" && r.import_file.empty()) {
        std::cerr << "quillan-batch: import needs --import FILE\n";
        return kUsage;
    }
    if (action == "ChooseGroups") {
        std::cerr << "quillan-batch: choose-groups is a window action; give --factor (for G1, again for G2) and "
                     "--covariate-column with --import\n";
        return kUsage;
    }
    if (action == "ExportResults") {
        std::cerr << "quillan-batch: export-results is a window action; give --json FILE or --csv FILE with an analysis\n";
        return kUsage;
    }
    ModelRequest& m = r.linear_model;
    // --alignment also chooses the coordinates the per-specimen export writes.
    const bool exports_specimens = !r.specimens_out.empty() || action == "ExportSpecimens";
    m.ss_type = r.ss_type == "III" ? SsType::III : r.ss_type == "II" ? SsType::II : SsType::I;
    m.alignment = r.alignment == "partial" ? Alignment::Partial : Alignment::Full;
    m.randomization = r.permute == "rows" ? Randomization::Rows : Randomization::Residuals;
    m.means = r.pairwise_means == "plain" ? PairwiseMeans::Plain : PairwiseMeans::LeastSquares;
    if (const std::optional<int> rc = check_owned_options(r, action, exports_specimens)) return rc;
    if (!r.pairwise_means.empty() && m.pairwise.empty()) {
        std::cerr << "quillan-batch: --pairwise-means chooses the means --pairwise compares; give --pairwise FACTOR too\n";
        return kUsage;
    }
    if (action == "ExportSpecimens" && (out.empty() || out == "-")) {
        std::cerr << "quillan-batch: export-specimens needs --out FILE (or give --export-specimens FILE with another action)\n";
        return kUsage;
    }
    return std::nullopt;
}

// Opens the log file the console trace is appended to.
std::optional<int> open_outputs(const BatchRequest& r, const BatchProcess& process, std::ofstream& log) {
    if (!r.log_file.empty() && process.writes) {
        log.open(r.log_file, std::ios::app);
        if (!log) {
            std::cerr << "quillan-batch: cannot open the log file " << r.log_file << '\n';
            return kUsage;
        }
    }
    return std::nullopt;
}

// The picture module, opened only when --plots asks for pictures: every
// other run starts without Qt.  A missing module refuses the run before
// anything is read or written.
std::optional<int> open_picture_module(const BatchRequest& r, const PictureModule*& module) {
    if (r.plots.folder.empty()) return std::nullopt;
#if QUILLAN_HAVE_PICTURES
    std::string problem;
    module = load_picture_module(problem);
    if (module) return std::nullopt;
    std::cerr << "quillan-batch: " << problem << "; --plots is not available\n";
#else
    (void)module;
    std::cerr << "quillan-batch: this build draws no pictures (it was built without Qt), so --plots is not available\n";
#endif
    return kUsage;
}

// Where the console trace goes: where it was asked to, and nowhere by default.
std::streambuf* trace_buffer(bool to_stderr, std::ofstream& log, TeeBuf& both) {
    return to_stderr && log.is_open() ? static_cast<std::streambuf*>(&both)
           : to_stderr                ? std::cerr.rdbuf()
           : log.is_open()            ? log.rdbuf()
                                      : nullptr;
}

// The channel of a run without a window: messages on standard error, one
// line each as Unix tools write them (none with --quiet), and the report kept
// for the writes that follow.  Nobody is there to press a key.
class BatchChannel final : public RunChannel {
public:
    BatchChannel(bool quiet, std::optional<ProgressBar>& bar) : quiet_(quiet), bar_(bar) {}
    void message(const std::string& text, const std::string& title) override {
        if (quiet_) return;
        if (bar_) bar_->erase();
        std::cerr << message_line(title, text) << '\n';
        shown_.insert(text);
    }
    void pause() override {}
    void show_report(const std::string& text) override { report_ = text; }
    bool shown(const std::string& text) const { return shown_.count(text) > 0; }
    // The lines of the report, as the results box holds them.
    std::vector<std::string> report_lines() const { return report_.empty() ? std::vector<std::string>() : split_lines(report_); }

private:
    bool quiet_;
    std::optional<ProgressBar>& bar_;
    std::set<std::string> shown_;  // message texts already on standard error
    std::string report_;
};

// One run of a checked request: the files read, the action run, and what it
// writes.
class BatchRun {
public:
    BatchRun(const BatchRequest& request, const BatchProcess& process, std::ofstream& log, const PictureModule* pictures);

    // Imports and loads the files; an exit status when the run ends there.
    std::optional<int> load();
    // Runs the action and writes its results; the exit status.
    int run_and_write();

private:
    int stopped();
    bool stopped_by_team() const { return process_.team && process_.team->over(); }
    int fail(Outcome o);
    bool draw();
    int exports();
    bool writer_goes_on();
    int not_writing() const { return stopped_by_team() ? kFailed : kOk; }
    std::optional<int> check_same_data();
    int write_loaded();
    int save_out();
    int export_specimens();
    int run_analysis();
    int write_report();
    int failed_write(const std::string& text);
    CovariateChoice covariate_model() const { return static_cast<CovariateChoice>(r_.model); }

    const BatchRequest& r_;
    const BatchProcess& process_;
    const PictureModule* pictures_;  // when --plots is given
    TeeBuf both_;
    std::ostream trace_stream_;
    std::optional<ProgressBar> bar_;
    BatchChannel channel_;
    Console console_;
    Shell shell_;
    RunOptions options_;
    DistributionLog distributions_;
    StopSignals stop_signals_;
};

BatchRun::BatchRun(const BatchRequest& request, const BatchProcess& process, std::ofstream& log, const PictureModule* pictures)
    : r_(request),
      process_(process),
      pictures_(pictures),
      both_(std::cerr.rdbuf(), log.rdbuf()),
      trace_stream_(trace_buffer(request.trace || find_action(request.action)->trace_is_result, log, both_)),
      channel_(request.quiet, bar_),
      console_(trace_stream_),
      shell_(console_) {
    if (process.writes && !r_.progress_off && (r_.progress_on || isatty(STDERR_FILENO))) bar_.emplace(std::cerr, r_.action);
    // Messages about what is missing name this program's options.
    shell_.control_words() = {"--landmarks (or --import)", "--groups (or --import with --factor)",
                              "--covariate (or --import with --covariate-column)", "--perm gives"};
    if (!r_.seed_text.empty()) options_.seed = r_.seed;
    options_.threads = r_.threads > 0 ? r_.threads : process.default_threads;
    options_.team = process.team;
    if (!r_.plots.folder.empty()) options_.recorder = &distributions_;
    options_.progress = [this](long long done, long long total) {
        if (StopSignals::received()) return false;
        if (bar_) bar_->update(done, total);
        return true;
    };
}

int BatchRun::stopped() {
    if (bar_) bar_->erase();
    std::cerr << "quillan-batch: stopped\n";
    return StopSignals::exit_status(StopSignals::received());
}

// A run ended because another process of the team failed says nothing of its
// own (that process says why); one ended because another was stopped says so.
int BatchRun::fail(Outcome o) {
    if (StopSignals::received()) return stopped();
    if (stopped_by_team()) {
        if (process_.team->meet({}).status != 0) return kFailed;
        if (bar_) bar_->erase();
        std::cerr << "quillan-batch: stopped (another process was stopped)\n";
        return StopSignals::exit_status(SIGTERM);
    }
    if (bar_) bar_->erase();
    const std::string& text = shell_.last_message();
    // A refusal or error shown as a message is on standard error already
    // (unless --quiet held it back); anything else is said here.
    if (text.empty()) std::cerr << "quillan-batch: the action did not complete\n";
    else if (!channel_.shown(text)) std::cerr << message_line("", text) << '\n';
    return o == Outcome::Refused || o == Outcome::Cancelled ? kRefused : kFailed;
}

bool BatchRun::draw() {
    if (r_.plots.folder.empty() || !pictures_) return true;
    BatchPlotRequest request = r_.plots;
    request.stop_cause = &stop_cause;
    request.save = [](const std::string& path, std::string_view bytes) { write_file_atomically(path, bytes); };
    request.level_names = shell_.legend().level_names(shell_.workspace().groups);
    request.marks = landmark_marks(shell_);
    std::string error;
    // Made here, so that the folder joins the run's set of files and goes
    // again if the run ends with nothing in it; a folder that cannot be made
    // is the module's to report.
    make_folders_for_saves(request.folder, error);
    error.clear();
    if (pictures_->write_plots(shell_.workspace(), distributions_, request, r_.quiet ? trace_stream_ : std::cerr, trace_stream_,
                               error) >= 0)
        return true;
    std::cerr << error_line(error) << '\n';
    return false;
}

// The exports that follow the action; a failed one fails the run, and none is
// written after a stop.
int BatchRun::exports() {
    // "-" is standard output, as for --out.
    const std::pair<const std::string*, std::function<std::string()>> writes[] = {
        {&r_.json_out, [&] { return shell_.results_export(false); }},
        {&r_.csv_out, [&] { return shell_.results_export(true); }},
        {&r_.specimens_out, [&] { return shell_.specimens_export(covariate_model()); }},
    };
    for (const auto& [path, text] : writes) {
        if (path->empty()) continue;
        if (StopSignals::received()) return stopped();
        try {
            if (*path != "-") write_file_atomically(*path, text());
            else if (write_out(text()) != kOk) return kFailed;
        } catch (const QuillanError& e) {
            std::cerr << error_line(e.what()) << '\n';
            return kFailed;
        }
    }
    return kOk;
}

// A team's processes agree that every one of them got this far before
// anything is written, and only the writer writes.
bool BatchRun::writer_goes_on() {
    if (process_.team && process_.team->meet({}).over()) return false;
    return process_.writes;
}

std::optional<int> BatchRun::load() {
    shell_.export_alignment() = r_.alignment == "partial" ? Alignment::Partial : Alignment::Full;
    shell_.import_options() = r_.import_options;
    // An imported file first, so that --groups and --covariate can replace its tables.
    RunRequest read;
    read.inputs = {r_.import_file, r_.import_options, r_.landmarks, r_.groups, r_.covariate, r_.dimensions};
    const RunResult result = shell_.run(read, channel_);
    if (result.outcome != Outcome::Done) return fail(result.outcome);
    return check_same_data();
}

// The processes of a team must have read the same data: a machine with an
// older copy of a file would mix two data sets into one report.
std::optional<int> BatchRun::check_same_data() {
    if (!process_.team) return std::nullopt;
    TeamWord word;
    word.data = data_fingerprint(shell_.workspace());
    const TeamAnswer answer = process_.team->meet(word);
    if (answer.over()) return kFailed;
    if (!answer.same_data) {
        std::cerr << "quillan-batch: the processes did not read the same data (a file differs from one machine to "
                     "another); nothing was run\n";
        return kFailed;
    }
    return std::nullopt;
}

int BatchRun::run_and_write() {
    const ActionRow& row = *find_action(r_.action);
    // The load actions ran already, on the files their options named.
    if (row.file_option != nullptr) return write_loaded();
    if (row.kind == ActionKind::Save) return save_out();
    // The other export, of the last report's numbers, is refused before any file is read.
    if (row.kind == ActionKind::Export) return export_specimens();
    return run_analysis();
}

// A load action's result is the file box.
int BatchRun::write_loaded() {
    if (!writer_goes_on()) return not_writing();
    std::cout << shell_.file_box_text() << '\n' << std::flush;
    if (const int e = exports(); e != kOk) return e;
    return draw() ? kOk : kFailed;
}

// Saving the report of a run that made none: what the empty results box saves.
int BatchRun::save_out() {
    if (r_.out.empty()) {
        std::cerr << "quillan-batch: SaveOut needs --out FILE\n";
        return kUsage;
    }
    if (!writer_goes_on()) return not_writing();
    return write_report();
}

int BatchRun::export_specimens() {
    if (!writer_goes_on()) return not_writing();
    if (StopSignals::received()) return stopped();
    try {
        shell_.write_specimens(r_.out, covariate_model());
    } catch (const QuillanError& e) {
        return failed_write(e.what());
    }
    return exports();
}

// An analysis, Clear or a console-only action: the action, then its report,
// the exports and the pictures.
int BatchRun::run_analysis() {
    const ActionRow& row = *find_action(r_.action);
    distributions_.start(r_.action);
    RunRequest request;
    request.action = &row;
    request.params.permutations = permutation_count(r_.perm, shell_.control_words());
    request.params.covariate = covariate_choice(static_cast<double>(r_.model));
    request.params.model = r_.linear_model;
    request.params.words = shell_.control_words();
    request.run = options_;
    request.alignment = shell_.export_alignment();
    if (!r_.plots.folder.empty()) request.links_file = r_.plots.links_file;
    const RunResult result = shell_.run(request, channel_);
    if (bar_) bar_->erase();
    if (result.outcome != Outcome::Done && result.outcome != Outcome::Reported) return fail(result.outcome);
    if (StopSignals::received()) return stopped();  // nothing is written after a stop
    if (!writer_goes_on()) return not_writing();
    if (row.kind == ActionKind::Clear) {
        std::cout << shell_.file_box_text() << '\n';
        return kOk;
    }
    if (result.outcome == Outcome::Reported) {  // console-only actions have nothing to write
        if (const int e = write_report(); e != kOk) return e;
    }
    if (const int e = exports(); e != kOk) return e;
    // The pictures come last, so one that cannot be written costs no report.
    return draw() ? kOk : kFailed;
}

// The report: to --out FILE as "SaveOut" saves it, its saved form to standard
// output with --out -, or its lines to standard output.
int BatchRun::write_report() {
    const std::vector<std::string> lines = channel_.report_lines();
    if (r_.out == "-") return write_out(report_file_text(lines));
    if (r_.out.empty()) {
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        return write_out(text);
    }
    if (StopSignals::received()) return stopped();
    try {
        write_report_file(r_.out, lines, [this](const std::string& warning) { channel_.message(warning, "Possible error"); });
    } catch (const QuillanError& e) {
        return failed_write(e.what());
    }
    return kOk;
}

// A file the action writes that cannot be written fails it as an error of
// the action does: on the console and as an error message.
int BatchRun::failed_write(const std::string& text) {
    if (bar_) bar_->erase();
    console_.line(text);
    channel_.message(text, "Error");
    if (!channel_.shown(text)) std::cerr << message_line("", text) << '\n';
    return kFailed;
}

}  // namespace

// The steps of a run: parse the command line, check it, load the files, run
// the action and write its results.
int quillan::run_batch(int argc, char** argv, const BatchProcess& process) {
    BatchRequest request;
    if (const auto status = parse_command_line(argc, argv, process, request)) return *status;
    if (const auto status = check_before_action(request)) return *status;
    if (const auto status = check_outputs(request)) return *status;
    if (request.action == "convert") return run_convert(request, process);
    if (const auto status = check_action(request)) return *status;
    std::ofstream log;
    const PictureModule* pictures = nullptr;
    if (const auto status = open_picture_module(request, pictures)) return *status;
    if (const auto status = open_outputs(request, process, log)) return *status;
    BatchRun run(request, process, log, pictures);
    if (const auto status = run.load()) return *status;
    return run.run_and_write();
}
