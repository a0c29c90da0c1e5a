// The options of a run itself, beside the actions' own (declared in their
// rows): the files to read, the permutation and covariate boxes, the seed and
// threads, where the report, the trace, the exports and the pictures go, and
// the import's choices.  Declared once here with their kind and help, they
// make quillan-batch's command line, its --help and its checks of empty
// file names.
#pragma once

#include "analyses/options.hpp"

#include <string>
#include <vector>

namespace quillan {

enum class RunOption {
    Action,
    Landmarks,
    Dimensions,
    Groups,
    Covariate,
    Tree,
    TreeName,
    Perm,
    Model,
    Seed,
    Threads,
    Out,
    Trace,
    Log,
    Quiet,
    Progress,
    NoProgress,
    List,
    ListNames,
    ListOptions,
    ListValues,
    Plots,
    Links,
    PlotsGroupBy,
    PlotSize,
    PlotDpi,
    File,
    Import,
    Factor,
    CovariateColumn,
    IdColumn,
    Factors,
    NegativeMissing,
    EstimateMissing,
    Semilandmarks,
    Sliders,
    Slide,
    SlideIterations,
    LeaveOutMissing,
    SlideStrict,
    OutPrefix,
    Json,
    Csv,
    ExportSpecimens,
};

struct RunOptionDecl {
    RunOption id;
    const char* names;  // the command line's: "--landmarks,-l"; a positional's plain name ("action")
    OptionKind kind = OptionKind::Text;
    const char* help = "";
    std::vector<const char*> choices = {};
    long long low = 0, high = 0;  // a whole number's range, when high > low
    bool shows_default = false;   // --help shows its default
    bool hidden = false;          // asked by the completion, not listed by --help
    bool repeated = false;        // given again for the next (--factor: G1, then G2)
};

// Every run option, in the order --help lists them.
const std::vector<RunOptionDecl>& run_option_table();
const RunOptionDecl& run_option(RunOption id);
// "--landmarks", as messages name an option.
std::string run_flag(RunOption id);

}  // namespace quillan
