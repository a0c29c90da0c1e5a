// Reading the command line of quillan-batch: the options, the help and the
// names of the actions.
#include "analyses/common.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "analyses/process_team.hpp"
#include "batch/batch.hpp"
#include "batch/batch_steps.hpp"
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

namespace quillan::batch {

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

// Writes the report to standard output; a failed write (a full disk behind
// a redirection, say) is a failure, not a success.
int write_out(const std::string& text) {
    std::cout << text << std::flush;
    if (std::cout) return kOk;
    std::cerr << "quillan-batch: cannot write the report to standard output\n";
    return kFailed;
}

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
    candidates.emplace_back(kConvert);
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

// The actions with their aliases and descriptions, for the end of --help.
std::string actions_help() {
    std::string text = "Actions (name or alias, what it needs loaded):\n";
    for (const auto& row : action_table()) {
        std::string names = std::string(row.name) + ", " + row.alias;
        names.resize(std::max<std::size_t>(names.size() + 1, 34), ' ');
        text += "  " + names + row.description + " (" + describe_needs(row.needs) + ")\n";
        if (row.options.empty()) continue;
        std::string own = "      its own options:";
        for (const char* option : row.options) own += std::string(" ") + option;
        text += own + "\n";
    }
    std::string convert = "convert FILE";
    convert.resize(34, ' ');
    text += "  " + convert + "Write an imported file as quillan's tables (needs --out-prefix NAME)\n";
    return text;
}

namespace {

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

}  // namespace

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
    // The options the action on the line accepts, for the completion.
    app.add_flag("--list-options", r.list_options, "Print the options the action given accepts, one a line, and end")->group("");
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
    app.add_option("--gpa-steps", r.linear_model.gpa_steps,
                   "How the superimposition (of the model, the shape analyses and the sliding of semilandmarks) is "
                   "iterated: converged (to its optimum, the same numbers whatever the order of the specimens; the "
                   "default) or gpagen (geomorph's gpagen's steps, to reproduce its digits)")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, GpaSteps>{{"converged", GpaSteps::Converged}, {"gpagen", GpaSteps::Gpagen}}))
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
                 "modularity: take the landmarks as aligned, without first turning them to the average CR")
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

namespace {

// Every long option, less those that belong to other actions than `action`
// (all of them when no action, or no known one, is given).
void list_options(const CLI::App& app, const std::string& action) {
    const ActionRow* row = action.empty() ? nullptr : find_action_or_alias(action);
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_group().empty()) continue;  // the lists themselves
        for (const std::string& name : option->get_lnames()) {
            const std::string flag = "--" + name;
            bool owned_elsewhere = false;
            for (const auto& other : action_table())
                if (other.takes_option(flag) && row != nullptr && !row->takes_option(flag)) owned_elsewhere = true;
            if (!owned_elsewhere) std::cout << flag << '\n';
        }
    }
}

}  // namespace

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
    if (r.list_options) {
        list_options(app, r.action);
        return kOk;
    }
    return empty_names(app);
}

}  // namespace quillan::batch
