// The steps of a quillan-batch run, each in its own file: reading the
// command line (command_line.cpp), checking the request before anything is
// read (request_checks.cpp), and the run itself (batch_run.cpp).  Internal
// to the batch front end and to the library entry built over it (src/api).
#pragma once

#include "analyses/linear_models/model_request.hpp"
#include "batch/batch.hpp"
#include "batch/picture_module.hpp"
#include "io/import.hpp"

#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string>

namespace quillan::batch {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;   // the action failed (bad input file, inconsistent data, ...)
inline constexpr int kRefused = 2;  // the design was refused or a parameter was invalid
inline constexpr int kUsage = 64;   // the command line itself was wrong

// The command that writes an imported file as tables: not an action of the
// table, it runs before any action would.
inline constexpr const char* kConvert = "convert";

// More worker threads than any machine has cores is a slip, not a request.
inline constexpr int kMaxThreads = 4096;

// What the command line asks for.
struct BatchRequest {
    std::string action, landmarks, groups, covariate, perm = "999", out;
    std::string tree, tree_name;  // a phylogeny and, in a NEXUS file, the tree's name
    int model = 1;
    std::string seed_text;
    std::uint64_t seed = 0;  // from seed_text, when it is given
    int threads = 0;
    bool trace = false, quiet = false, progress_on = false, progress_off = false;
    std::string log_file;
    bool list = false, list_names = false, list_options = false;
    std::string list_values;  // an option whose values are asked for
    BatchPlotRequest plots;
    std::string plot_size;  // WIDTHxHEIGHT, read into plots.size
    std::string import_file, convert_file, out_prefix, json_out, csv_out, specimens_out;
    io::ImportOptions import_options;
    // Specimens a host program holds in memory, imported as --import imports
    // a file; none from the command line.
    const io::SpecimenTable* table = nullptr;
    // The actions' own options as typed, by name, and those given.
    std::map<std::string, std::string> option_text;
    std::map<std::string, bool> option_flags;
    GivenOptions given;
    int dimensions = 2;              // coordinates per landmark of --landmarks
    bool dimensions_chosen = false;  // --dimensions given
    bool slide_chosen = false;       // --slide or --slide-iterations given
    bool given_option(const std::string& name) const { return given.count(name) > 0; }
    // Whether the run imports specimens: a file or a host's table.
    bool imports() const { return !import_file.empty() || table != nullptr; }
    // How the specimens' export and the pictures align the shapes.
    Alignment alignment() const;
    bool size_corrected() const;  // --size-corrected given
    // How the import's steps iterate their superimpositions.
    GpaSteps gpa_steps() const;
};

// A message window's text as one line of standard error, as Unix tools write
// their diagnostics: "quillan-batch: Title: text", line ends folded to blanks.
std::string message_line(const std::string& title, const std::string& text);
// A failure outside an action (a conversion, an export, a picture) reads as
// an action's failure does.
std::string error_line(const std::string& text);
// Writes the report to standard output; a failed write (a full disk behind
// a redirection, say) is a failure, not a success.
int write_out(const BatchProcess& process, const std::string& text);
// The actions with their aliases and descriptions, for the end of --help
// and --list.
std::string actions_help();
// The defaults of the run options before the command line is read
// (perm: "999", threads: "0"), by name without the dashes; "" for none.
std::map<std::string, std::string> run_option_defaults();
// The action name or alias nearest to `typed`, when one is near enough to be
// a likely slip; empty otherwise.
std::string nearest_action(const std::string& typed);

// Reads the command line into `r`; an exit status when the program ends here
// (--help, --version or a usage error).
std::optional<int> parse_command_line(int argc, char** argv, const BatchProcess& process, BatchRequest& r);

// What is answered before any action: the lists of actions, a missing
// action, a kernel this processor cannot run, too many factors and a
// picture size out of range.
std::optional<int> check_before_action(BatchRequest& r, const BatchProcess& process);
// Outputs onto the inputs or onto each other, refused before anything is
// read: the files the run reads, then those it writes.
std::optional<int> check_outputs(const BatchRequest& r, const BatchProcess& process);
// The seed, the action's name (an alias becomes the name) and the options
// an action needs or cannot take.
std::optional<int> check_action(BatchRequest& r, const BatchProcess& process);
// Opens the log file the console trace is appended to.
std::optional<int> open_outputs(const BatchRequest& r, const BatchProcess& process, std::ofstream& log);
// The picture module, opened only when --plots asks for pictures: every
// other run starts without Qt.  A missing module refuses the run before
// anything is read or written.
std::optional<int> open_picture_module(const BatchRequest& r, const BatchProcess& process, const PictureModule*& module);

// convert FILE: an imported file written as quillan's tables.
int run_convert(const BatchRequest& r, const BatchProcess& process, SaveSet& files);
// A checked request: the files read, the action run and what it writes;
// the exit status.
int run_checked(const BatchRequest& r, const BatchProcess& process, std::ofstream& log, const PictureModule* pictures,
                SaveSet& files, RunProducts* products = nullptr);
// Everything after the command line was read: the checks, then the run.
int run_parsed(BatchRequest& r, const BatchProcess& process, SaveSet& files, RunProducts* products = nullptr);

}  // namespace quillan::batch
