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
#include "shell/run_option_table.hpp"
#include "shell/runner.hpp"

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
#include <stdexcept>
#include <system_error>
#include <variant>

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
int write_out(const BatchProcess& process, const std::string& text) {
    *process.out << text << std::flush;
    if (*process.out) return kOk;
    *process.err << "quillan-batch: cannot write the report to standard output\n";
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
        for (const OptionDecl& option : row.options) own += " " + option_flag(option);
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

namespace {

// Where the command line puts a run option's value.
using RunTarget = std::variant<std::string*, int*, bool*, std::vector<std::string>*>;

RunTarget import_target(BatchRequest& r, RunOption id) {
    switch (id) {
        case RunOption::PlotsGroupBy:
            return &r.plots.group_by;
        case RunOption::PlotSize:
            return &r.plot_size;
        case RunOption::PlotDpi:
            return &r.plots.size.dpi;
        case RunOption::File:
            return &r.convert_file;
        case RunOption::Import:
            return &r.import_file;
        case RunOption::Factor:
            return &r.import_options.factors;
        case RunOption::CovariateColumn:
            return &r.import_options.covariate_column;
        case RunOption::IdColumn:
            return &r.import_options.id_column;
        case RunOption::Factors:
            return &r.import_options.factor_table;
        case RunOption::NegativeMissing:
            return &r.import_options.negative_missing;
        case RunOption::EstimateMissing:
            return &r.import_options.estimate_missing;
        case RunOption::Semilandmarks:
            return &r.import_options.semilandmarks;
        case RunOption::Sliders:
            return &r.import_options.sliders_file;
        case RunOption::Slide:
            return &r.import_options.slide;
        case RunOption::SlideIterations:
            return &r.import_options.slide_iterations;
        case RunOption::LeaveOutMissing:
            return &r.import_options.leave_out_missing;
        case RunOption::SlideStrict:
            return &r.import_options.strict_sliding;
        case RunOption::OutPrefix:
            return &r.out_prefix;
        case RunOption::Json:
            return &r.json_out;
        case RunOption::Csv:
            return &r.csv_out;
        case RunOption::ExportSpecimens:
            return &r.specimens_out;
        default:
            throw std::logic_error("a run option without its place in the request");
    }
}

// Where the command line puts a run option's value.
RunTarget target_of(BatchRequest& r, RunOption id) {
    switch (id) {
        case RunOption::Action:
            return &r.action;
        case RunOption::Landmarks:
            return &r.landmarks;
        case RunOption::Dimensions:
            return &r.dimensions;
        case RunOption::Groups:
            return &r.groups;
        case RunOption::Covariate:
            return &r.covariate;
        case RunOption::Tree:
            return &r.tree;
        case RunOption::TreeName:
            return &r.tree_name;
        case RunOption::Perm:
            return &r.perm;
        case RunOption::Model:
            return &r.model;
        case RunOption::Seed:
            return &r.seed_text;
        case RunOption::Threads:
            return &r.threads;
        case RunOption::Out:
            return &r.out;
        case RunOption::Trace:
            return &r.trace;
        case RunOption::Log:
            return &r.log_file;
        case RunOption::Quiet:
            return &r.quiet;
        case RunOption::Progress:
            return &r.progress_on;
        case RunOption::NoProgress:
            return &r.progress_off;
        case RunOption::List:
            return &r.list;
        case RunOption::ListNames:
            return &r.list_names;
        case RunOption::ListOptions:
            return &r.list_options;
        case RunOption::ListValues:
            return &r.list_values;
        case RunOption::Plots:
            return &r.plots.folder;
        case RunOption::Links:
            return &r.plots.links_file;
        default:
            return import_target(r, id);
    }
}

// One run option from its row: its kind, range and choices checked, its
// default shown where the row asks.
void add_run_option(CLI::App& app, BatchRequest& r, const RunOptionDecl& decl) {
    const RunTarget target = target_of(r, decl.id);
    CLI::Option* option = nullptr;
    if (bool* const* flag = std::get_if<bool*>(&target)) {
        option = app.add_flag(decl.names, **flag, decl.help);
    } else {
        option = std::visit([&](auto* place) { return app.add_option(decl.names, *place, decl.help); }, target);
        if (decl.repeated) option->expected(1)->take_all();
        if (decl.shows_default) option->capture_default_str();
        if (!decl.choices.empty())
            option->check(CLI::IsMember(std::vector<std::string>(decl.choices.begin(), decl.choices.end())));
        if (decl.high > decl.low) option->check(CLI::Range(decl.low, decl.high));
        if (decl.kind == OptionKind::InputFile || decl.kind == OptionKind::OutputFile)
            option->type_name(option_value_name(decl.kind));
    }
    if (decl.hidden) option->group("");
}

}  // namespace

// The options of the run itself (shell/run_option_table.cpp): the files, the
// boxes, the seed and threads, where the report, the trace, the exports and
// the pictures go, and the import's choices.
void add_run_options(CLI::App& app, BatchRequest& r) {
    for (const RunOptionDecl& decl : run_option_table()) add_run_option(app, r, decl);
    app.footer(actions_help() +
               "\n"
               "Standard error carries what you must read: each message window's text on one line,\n"
               "\"quillan-batch: ...\" (--quiet keeps only errors and refusals). The console trace is\n"
               "shown only with --trace or written with --log FILE, except for " +
               trace_result_names() +
               ",\n"
               "whose result it is. On a terminal a progress bar shows the permutations done.\n"
               "Ctrl-C, SIGTERM or SIGHUP stops a run: nothing is written, exit status 130, 143 or 129.");
}

// The defaults of the run options as the command line holds them before it
// is read (--perm 999, --threads 0, ...), by long name; "" for none.
std::map<std::string, std::string> run_option_defaults() {
    BatchRequest r;
    CLI::App app;
    add_run_options(app, r);
    std::map<std::string, std::string> defaults;
    for (const RunOptionDecl& decl : run_option_table()) {
        if (decl.names[0] != '-') continue;  // the positionals
        CLI::Option* option = app.get_option(run_flag(decl.id));
        if (decl.kind != OptionKind::Flag) option->capture_default_str();
        std::string text = option->get_default_str();
        if (text == "[]") text.clear();  // a repeated option given none
        defaults[run_flag(decl.id).substr(2)] = decl.kind == OptionKind::Flag ? "" : text;
    }
    return defaults;
}

// The actions' own options, each from its declaration in the rows: a
// choice checked against its words, a number against its kind, and the
// actions that take it named in its help.
void add_action_options(CLI::App& app, BatchRequest& r) {
    const std::string group = "Options of the actions (each refused by the actions that do not take it)";
    for (const DeclaredOption& d : declared_options()) {
        const OptionDecl& decl = *d.decl;
        std::string takers;
        for (std::size_t i = 0; i < d.takers.size(); ++i) takers += (i == 0 ? "" : ", ") + d.takers[i];
        const std::string help = std::string(decl.help) +
                                 (*decl.fallback ? " (default " + std::string(decl.fallback) + ")" : "") + " [" + takers + "]";
        if (decl.kind == OptionKind::Flag) {
            app.add_flag(option_flag(decl), r.option_flags[decl.name], help)->group(group);
            continue;
        }
        CLI::Option* option = app.add_option(option_flag(decl), r.option_text[decl.name], help)->group(group);
        option->type_name(option_value_name(decl.kind));
        if (decl.kind == OptionKind::Choice)
            option->check(CLI::IsMember(std::vector<std::string>(decl.choices.begin(), decl.choices.end())));
        if (decl.kind == OptionKind::Whole) option->check(CLI::TypeValidator<long long>());
        if (decl.kind == OptionKind::Number) option->check(CLI::Number);
    }
}

// A file or folder option given an empty name ("" from an unset shell
// variable, say) would be taken as not given at all: --plots "" would draw
// nothing and --out "" write to standard output, without a word.
std::optional<int> empty_names(const CLI::App& app, std::ostream& err) {
    std::vector<std::string> names;
    for (const RunOptionDecl& decl : run_option_table())
        if ((decl.kind == OptionKind::InputFile || decl.kind == OptionKind::OutputFile) && decl.names[0] == '-')
            names.push_back(run_flag(decl.id));
    for (const DeclaredOption& d : declared_options())
        if (d.decl->kind == OptionKind::InputFile || d.decl->kind == OptionKind::OutputFile)
            names.push_back(option_flag(*d.decl));
    for (const std::string& name : names) {
        const CLI::Option* option = app.get_option(name);
        for (const std::string& value : option->results())
            if (value.empty()) {
                err << "quillan-batch: " << name << " needs a file or folder name, not an empty one\n";
                return kUsage;
            }
    }
    return std::nullopt;
}

namespace {

// Every long option, less those that belong to other actions than `action`
// (all of them when no action, or no known one, is given).
void list_options(const CLI::App& app, const std::string& action, std::ostream& out) {
    const ActionRow* row = action.empty() ? nullptr : find_action_or_alias(action);
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_group().empty()) continue;  // the lists themselves
        for (const std::string& name : option->get_lnames()) {
            const std::string flag = "--" + name;
            bool owned_elsewhere = false;
            for (const auto& other : action_table())
                if (other.takes_option(name) && row != nullptr && !row->takes_option(name)) owned_elsewhere = true;
            if (!owned_elsewhere) out << flag << '\n';
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
    add_action_options(app, r);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e, *process.out, *process.err);
        return rc == 0 ? 0 : kUsage;
    }
    r.slide_chosen = app.count("--slide") + app.count("--slide-iterations") > 0;
    r.dimensions_chosen = app.count("--dimensions") > 0;
    for (const DeclaredOption& d : declared_options()) {
        const OptionDecl& decl = *d.decl;
        if (app.count(option_flag(decl)) == 0) continue;
        r.given[decl.name] = decl.kind == OptionKind::Flag ? "true" : r.option_text[decl.name];
    }
    // The import's sliding and estimation iterate as the analysis does.
    r.import_options.gpa_steps = r.gpa_steps();
    if (r.list_options) {
        list_options(app, r.action, *process.out);
        return kOk;
    }
    return empty_names(app, *process.err);
}

}  // namespace quillan::batch
