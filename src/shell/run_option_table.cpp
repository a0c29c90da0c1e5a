#include "shell/run_option_table.hpp"

#include <algorithm>
#include <stdexcept>

namespace quillan {

namespace {

using O = OptionKind;

// More worker threads than any machine has cores is a slip, not a request.
constexpr long long kMostThreads = 4096;

}  // namespace

namespace {

// The files of the tables, the boxes, the seed and threads.
std::vector<RunOptionDecl> run_rows() {
    return {
        {.id = RunOption::Action,
         .names = "action",
         .kind = O::Text,
         .help = "Action name or alias (see the list below, or --list)"},
        {.id = RunOption::Landmarks,
         .names = "--landmarks,-l",
         .kind = O::InputFile,
         .help = "Landmark file: one specimen per line, x1 y1 ... xk yk and one more value"},
        {.id = RunOption::Dimensions,
         .names = "--dimensions,-d",
         .kind = O::Whole,
         .help = "Coordinates per landmark of the landmark file: 2, or 3 for landmarks in space (x1 y1 z1 ... xk yk zk\nand one "
                 "more value on each line)",
         .low = 2,
         .high = 3,
         .shows_default = true},
        {.id = RunOption::Groups,
         .names = "--groups,-g",
         .kind = O::InputFile,
         .help = "Group file: one or two columns of group codes"},
        {.id = RunOption::Covariate,
         .names = "--covariate,-c",
         .kind = O::InputFile,
         .help = "Covariate file: one value per specimen"},
        {.id = RunOption::Tree,
         .names = "--tree",
         .kind = O::InputFile,
         .help = "Tree file: a phylogeny of the species, Newick or NEXUS (see docs/formats.md)"},
        {.id = RunOption::TreeName,
         .names = "--tree-name",
         .kind = O::Text,
         .help = "The tree of a NEXUS --tree file to read, by its name in the file (default: the first)"},
        {.id = RunOption::Perm,
         .names = "--perm,-p",
         .kind = O::Text,
         .help = "Number of permutations (the text of the permutation box)",
         .shows_default = true},
        {.id = RunOption::Model,
         .names = "--model,-m",
         .kind = O::Whole,
         .help = "Covariate model 1-5: 1 none, 2 one slope for all, 3 within G1, 4 within G2, 5 within G1 x G2 cells",
         .low = 1,
         .high = 5,
         .shows_default = true},
        {.id = RunOption::Seed,
         .names = "--seed,-s",
         .kind = O::Text,
         .help = "Seed of the random permutations, a whole number from 0 to 18446744073709551615 (a seeded run is reproducible "
                 "on any number of threads)"},
        {.id = RunOption::Threads,
         .names = "--threads,-t",
         .kind = O::Whole,
         .help = "Worker threads for the permutations (0: every core)",
         .low = 0,
         .high = kMostThreads,
         .shows_default = true},
    };
}

// Where the report, the trace and the progress bar go, and the lists the
// completion asks for.
std::vector<RunOptionDecl> output_rows() {
    return {
        {.id = RunOption::Out,
         .names = "--out,-o",
         .kind = O::OutputFile,
         .help = "Save the results box to this file instead of writing it to standard output; \"-\" writes the saved form to "
                 "standard output.  Only a regular file is replaced (a device, pipe or socket is refused), through a symbolic "
                 "link to its target"},
        {.id = RunOption::Trace,
         .names = "--trace",
         .kind = O::Flag,
         .help = "Show the console trace (echoed values, status lines) on standard error"},
        {.id = RunOption::Log,
         .names = "--log",
         .kind = O::OutputFile,
         .help = "Append the console trace to this file as it goes"},
        {.id = RunOption::Quiet,
         .names = "--quiet,-q",
         .kind = O::Flag,
         .help = "Show no warnings on standard error; errors and refusals always show"},
        {.id = RunOption::Progress,
         .names = "--progress",
         .kind = O::Flag,
         .help = "Draw a progress bar on standard error even when it is not a terminal"},
        {.id = RunOption::NoProgress,
         .names = "--no-progress",
         .kind = O::Flag,
         .help = "Never draw a progress bar (the default when standard error is not a terminal)"},
        {.id = RunOption::List,
         .names = "--list",
         .kind = O::Flag,
         .help = "Print every action with its alias and what it does, and end"},
        {.id = RunOption::ListNames,
         .names = "--list-names",
         .kind = O::Flag,
         .help = "Print every action name and alias, one a line, and end"},
        {.id = RunOption::ListOptions,
         .names = "--list-options",
         .kind = O::Flag,
         .help = "Print the options the action given accepts, one a line, and end"},
        {.id = RunOption::ListValues,
         .names = "--list-values",
         .kind = O::Text,
         .help = "Print the values an action's option takes, one a line, and end"},
    };
}

// The pictures.
std::vector<RunOptionDecl> picture_rows() {
    return {
        {.id = RunOption::Plots,
         .names = "--plots",
         .kind = O::OutputFile,
         .help = "Also draw the pictures of the action (superimposition, principal components, shape change,\npermutation "
                 "distributions) as SVG and PNG into this folder"},
        {.id = RunOption::Links,
         .names = "--links",
         .kind = O::InputFile,
         .help = "Links file for the pictures' wireframe: two landmark numbers per line"},
        {.id = RunOption::PlotsGroupBy,
         .names = "--plots-group-by",
         .kind = O::Choice,
         .help = "Colour the pictures by none, g1, g2 or cells",
         .choices = {"none", "g1", "g2", "cells"},
         .shows_default = true},
        {.id = RunOption::PlotSize,
         .names = "--plot-size",
         .kind = O::Text,
         .help = "Size of each picture in pixels, WIDTHxHEIGHT (default 1000x800)"},
        {.id = RunOption::PlotDpi,
         .names = "--plot-dpi",
         .kind = O::Whole,
         .help = "Resolution of the pictures in dots per inch (default 96)"},
    };
}

// The import of other formats and its steps.
std::vector<RunOptionDecl> import_rows() {
    return {
        {.id = RunOption::File, .names = "file", .kind = O::InputFile, .help = "For convert: the file to convert"},
        {.id = RunOption::Import,
         .names = "--import,-i",
         .kind = O::InputFile,
         .help = "Import landmarks (and factors, covariate) from a TPS, NTS, morphologika, CSV/TSV or plain x/y file, or\n3D "
                 "Slicer markups (.fcsv, .mrk.json: every one of the folder, a specimen each), before the loads"},
        {.id = RunOption::Factor,
         .names = "--factor",
         .kind = O::Text,
         .help = "Column of the imported file that is G1 (given again: G2)",
         .repeated = true},
        {.id = RunOption::CovariateColumn,
         .names = "--covariate-column",
         .kind = O::Text,
         .help = "Numeric column of the imported file that is the covariate"},
        {.id = RunOption::IdColumn,
         .names = "--id-column",
         .kind = O::Text,
         .help = "Column of the imported file (and of --factors) that holds the specimen IDs"},
        {.id = RunOption::Factors,
         .names = "--factors",
         .kind = O::InputFile,
         .help = "Table (CSV or TSV with a header) of factors and covariates keyed by specimen ID"},
        {.id = RunOption::NegativeMissing,
         .names = "--negative-missing",
         .kind = O::Flag,
         .help = "Take negative coordinates of an imported file as missing landmarks (refused, naming each)"},
        {.id = RunOption::EstimateMissing,
         .names = "--estimate-missing",
         .kind = O::Choice,
         .help = "Estimate the missing landmarks of an imported file from its complete specimens: tps (thin-plate spline\nfrom "
                 "their mean) or reg (regression on the present landmarks); without it they are refused",
         .choices = {"tps", "reg"}},
        {.id = RunOption::Semilandmarks,
         .names = "--semilandmarks",
         .kind = O::Flag,
         .help = "Keep the curve points of an imported TPS file as semilandmarks after its landmarks; each curve's inner\npoints "
                 "slide between their neighbours"},
        {.id = RunOption::Sliders,
         .names = "--sliders",
         .kind = O::InputFile,
         .help = "Sliders file: before, slider and after landmark numbers on each line (geomorph's curves matrix)"},
        {.id = RunOption::Slide,
         .names = "--slide",
         .kind = O::Choice,
         .help = "What sliding minimises: be (bending energy) or procd (Procrustes distance)",
         .choices = {"be", "procd"},
         .shows_default = true},
        {.id = RunOption::SlideIterations,
         .names = "--slide-iterations",
         .kind = O::Whole,
         .help = "The limit of iterations of sliding (geomorph's max.iter); sliding not settled by then gives the\ncoordinates "
                 "at the limit, as gpagen does, with a warning",
         .low = 2,
         .high = 100,
         .shows_default = true},
        {.id = RunOption::LeaveOutMissing,
         .names = "--leave-out-missing",
         .kind = O::Flag,
         .help = "Leave out the specimens without a value (an empty cell or NA) of a chosen factor or the covariate,\nsaying how "
                 "many in the report; without it they are refused, naming each"},
        {.id = RunOption::SlideStrict,
         .names = "--slide-strict",
         .kind = O::Flag,
         .help = "Refuse sliding that has not settled within --slide-iterations instead of using the coordinates at the limit"},
    };
}

// Where the converted tables and the exports go.
std::vector<RunOptionDecl> export_rows() {
    return {
        {.id = RunOption::OutPrefix,
         .names = "--out-prefix",
         .kind = O::OutputFile,
         .help = "For convert: write PREFIX.lm.txt, PREFIX.groups.txt, PREFIX.cov.txt and PREFIX.legend.csv"},
        {.id = RunOption::Json,
         .names = "--json",
         .kind = O::OutputFile,
         .help = "Write the numbers of the report and of the run to this JSON file"},
        {.id = RunOption::Csv,
         .names = "--csv",
         .kind = O::OutputFile,
         .help = "Write the numbers of the report to this CSV file, one row per model or effect"},
        {.id = RunOption::ExportSpecimens,
         .names = "--export-specimens",
         .kind = O::OutputFile,
         .help = "Write one row per specimen: ID, groups, covariate, centroid size, aligned coordinates, Procrustes distance"},
    };
}

}  // namespace

const std::vector<RunOptionDecl>& run_option_table() {
    static const std::vector<RunOptionDecl> table = [] {
        std::vector<RunOptionDecl> all;
        for (auto part : {run_rows(), output_rows(), picture_rows(), import_rows(), export_rows()})
            all.insert(all.end(), part.begin(), part.end());
        return all;
    }();
    return table;
}

const RunOptionDecl& run_option(RunOption id) {
    const auto& t = run_option_table();
    const auto it = std::find_if(t.begin(), t.end(), [id](const RunOptionDecl& s) { return s.id == id; });
    if (it == t.end()) throw std::logic_error("a run option without its row");
    return *it;
}

std::string run_flag(RunOption id) {
    const std::string names = run_option(id).names;
    return names.substr(0, names.find(','));
}

}  // namespace quillan
