// One run, as every front end asks for it: the action's row, the files to
// read first, the analysis's typed parameters, how the permutations run and
// what is written.  The window builds a request from its controls when an
// action's button is pressed; quillan-batch builds one from its command line.
// `Runner::run` carries it out and hands back a `RunResult`.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/analysis_params.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "analyses/result_record.hpp"
#include "analyses/run_options.hpp"
#include "io/import.hpp"
#include "shell/action_table.hpp"

#include <string>

namespace quillan {

// How an action ended, for front ends that need to know (the batch exit
// status); the window itself shows everything through its boxes and
// message windows.
enum class Outcome {
    Done,       // finished without a report (loads, saving, clearing, console-only actions)
    Reported,   // an analysis set its report
    Refused,    // a design refusal or invalid parameter: message window, nothing changed
    Failed,     // an error: console and message window, nothing changed
    Cancelled,  // the user cancelled a long action: nothing changed
    Unknown,    // the name is not an action ("Fell through case")
};

// The files a run reads before its action, in this order: an imported file
// (so the plain tables after it can replace its groups and covariate), then
// the landmark, group and covariate tables, then the tree.  Empty: not read.
struct RunInputs {
    std::string import_file;
    io::ImportOptions import_options;
    std::string landmarks, groups, covariate;
    int dimensions = 2;  // coordinates per landmark of `landmarks`
    // Whether the user chose them; otherwise what is beside the file (its
    // legend, its name) may say 3, and a width that fits both is warned about.
    bool dimensions_chosen = false;
    std::string tree;
    std::string tree_name;  // the tree of a NEXUS file to read; empty for its first
    // Specimens already in memory (a host program's), imported in place of
    // `import_file` with the same options; not owned.
    const io::SpecimenTable* table = nullptr;
    bool any() const {
        return !import_file.empty() || table != nullptr || !landmarks.empty() || !groups.empty() || !covariate.empty() ||
               !tree.empty();
    }
};

struct RunRequest {
    const ActionRow* action = nullptr;
    RunInputs inputs;
    AnalysisParams params;
    RunOptions run;
    // How the per-specimen export aligns its coordinates (the analyses
    // take their own from their options).
    Alignment alignment = Alignment::Full;
    // The wireframe the pictures are drawn with, recorded with the other
    // inputs of a report; empty for none.
    std::string links_file;
};

struct RunResult {
    Outcome outcome = Outcome::Done;
    // The refusal or error that ended the run; empty when it completed.
    std::string message;
    // An analysis's report, when outcome is Reported.
    std::string report;
};

}  // namespace quillan
