// quillan-batch: the actions of the desktop program without a window, for
// scripts and pipelines.  The files named on the command line are loaded with
// the real load actions (their dialogs answered with the given paths), the
// permutation count and covariate model go into their boxes, the action runs
// through the same dispatcher, and the results box is written to standard
// output or saved with "SaveOut".  Standard error carries what a user must
// read (message windows, each on one line) and, when asked for, the console
// trace and a progress bar.  An imported file (--import) is read before the
// loads; the exports (--json, --csv, --export-specimens) follow the report.
#include "analyses/control_words.hpp"
#include "analyses/process_team.hpp"
#include "batch/batch.hpp"
#include "batch/plots.hpp"
#include "batch/progress_bar.hpp"
#include "batch/stop_signals.hpp"
#include "geometry/kernel_dispatch.hpp"
#include "io/import.hpp"
#include "io/output.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/memory_gui.hpp"
#include "platform/version.hpp"
#include "shell/memory_window.hpp"
#include "shell/shell.hpp"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>

using namespace quillan;

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;   // the action failed (bad input file, inconsistent data, ...)
constexpr int kRefused = 2;  // the design was refused or a parameter was invalid
constexpr int kUsage = 64;   // the command line itself was wrong

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

FileChoice split_path(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = fs::absolute(fs::path(path));
    std::string folder = p.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return {p.filename().string(), folder};
}

std::string results_text(Gui& gui) {
    auto h = gui.findobj_tag(kResultsBox);
    Value v = gui.get(h.front(), "String");
    std::string out;
    for (const auto& line : string_lines(v)) out += line + "\n";
    return out;
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

// Actions whose result is their console trace: for them the trace is shown
// by default, as the report is for the others.
bool trace_is_the_result(const std::string& action) { return action == "TestCovariate" || action == "GoMan"; }

// What "SaveOut" would write, for --out - (standard output).
std::string saved_text(Gui& gui) {
    return report_file_text(string_lines(gui.get(gui.findobj_tag(kResultsBox).front(), "String")));
}

// Writes the report to standard output; a failed write (a full disk behind
// a redirection, say) is a failure, not a success.
int write_out(const std::string& text) {
    std::cout << text << std::flush;
    if (std::cout) return kOk;
    std::cerr << "quillan-batch: cannot write the report to standard output\n";
    return kFailed;
}

// A seed is any unsigned 64-bit number, written in decimal.
bool parse_seed(const std::string& text, std::uint64_t& seed) {
    if (text.empty() || text.size() > 20) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    seed = v;
    return true;
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

std::string file_box_text(Gui& gui) {
    Value v = gui.get(gui.findobj_tag(kFileBox).front(), "String");
    return v.is_text() ? v.text() : describe(v);
}

}  // namespace

int quillan::run_batch(int argc, char** argv, const BatchProcess& process) {
    CLI::App app{std::string(process.name) + ": landmark shape statistics without a window.\n\n" + process.about +
                     "Runs one action of the desktop program on the files given.  The report goes to\n"
                     "standard output (or to --out FILE, written as \"SaveOut\" writes it); for the load\n"
                     "actions and Clear the file box is written instead.\n\n"
                     "Exit status: 0 done, 1 the action failed, 2 refused (design or parameter), 64 usage,\n"
                     "130 or 143 stopped by Ctrl-C (SIGINT) or SIGTERM.",
                 process.name};
    std::string action, landmarks, groups, covariate, perm = kDefaultPermutations, out;
    int model = 1;
    std::string seed_text;
    int threads = 0;
    app.set_version_flag("--version", std::string(process.name) + " " + version_text());
    app.add_option("action", action, "Action name or alias (see the list below, or --list)");
    app.add_option("--landmarks,-l", landmarks, "Landmark file: one specimen per line, x1 y1 ... xk yk and one more value");
    app.add_option("--groups,-g", groups, "Group file: one or two columns of group codes");
    app.add_option("--covariate,-c", covariate, "Covariate file: one value per specimen");
    app.add_option("--perm,-p", perm, "Number of permutations (the text of the permutation box)")->capture_default_str();
    app.add_option("--model,-m", model,
                   "Covariate model 1-5: 1 none, 2 one slope for all, 3 within G1, 4 within G2, 5 within G1 x G2 cells")
        ->capture_default_str()
        ->check(CLI::Range(1, 5));
    app.add_option("--seed,-s", seed_text,
                   "Seed of the random permutations, a whole number from 0 to 18446744073709551615 (a seeded run is "
                   "reproducible on any number of threads)");
    app.add_option("--threads,-t", threads, "Worker threads for the permutations (0: every core)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--out,-o", out,
                   "Save the results box to this file instead of writing it to standard output; \"-\" writes the saved form to "
                   "standard output.  Only a regular file is replaced (a device, pipe or socket is refused), through a symbolic "
                   "link to its target");
    bool trace = false, quiet = false, progress_on = false, progress_off = false;
    std::string log_file;
    app.add_flag("--trace", trace, "Show the console trace (echoed values, status lines) on standard error");
    app.add_option("--log", log_file, "Append the console trace to this file as it goes");
    app.add_flag("--quiet,-q", quiet, "Show no warnings on standard error; errors and refusals always show");
    app.add_flag("--progress", progress_on, "Draw a progress bar on standard error even when it is not a terminal");
    app.add_flag("--no-progress", progress_off, "Never draw a progress bar (the default when standard error is not a terminal)");
    app.footer(actions_help() +
               "\n"
               "Standard error carries what you must read: each message window's text on one line,\n"
               "\"quillan-batch: ...\" (--quiet keeps only errors and refusals). The console trace is\n"
               "shown only with --trace or written with --log FILE, except for TestCovariate and GoMan,\n"
               "whose result it is. On a terminal a progress bar shows the permutations done.\n"
               "Ctrl-C or SIGTERM stops a run: nothing is written, exit status 130 or 143.");
    // Every action name and alias, one a line, for the shell's completion.
    bool list = false, list_names = false;
    app.add_flag("--list", list, "Print every action with its alias and what it does, and end");
    app.add_flag("--list-names", list_names, "Print every action name and alias, one a line, and end")->group("");
    BatchPlotRequest plots;
    app.add_option("--plots", plots.folder,
                   "Also draw the pictures of the action (superimposition, principal components, shape change,\n"
                   "permutation distributions) as SVG and PNG into this folder");
    app.add_option("--links", plots.links_file, "Links file for the pictures' wireframe: two landmark numbers per line");
    app.add_option("--plots-group-by", plots.group_by, "Colour the pictures by none, g1, g2 or cells")
        ->capture_default_str()
        ->check(CLI::IsMember({"none", "g1", "g2", "cells"}));
    // Import of other formats and export of the numbers (see README, "Import" and "Export").
    std::string import_file, convert_file, out_prefix, json_out, csv_out, specimens_out;
    io::ImportOptions import_options;
    app.add_option("file", convert_file, "For convert: the file to convert");
    app.add_option("--import,-i", import_file,
                   "Import landmarks (and factors, covariate) from a TPS, NTS, CSV/TSV or plain x/y file before the loads");
    app.add_option("--factor", import_options.factors, "Column of the imported file that is G1 (given again: G2)")
        ->expected(1)
        ->take_all();
    app.add_option("--covariate-column", import_options.covariate_column,
                   "Numeric column of the imported file that is the covariate");
    app.add_option("--id-column", import_options.id_column,
                   "Column of the imported file (and of --factors) that holds the specimen IDs");
    app.add_option("--factors", import_options.factor_table,
                   "Table (CSV or TSV with a header) of factors and covariates keyed by specimen ID");
    app.add_flag("--negative-missing", import_options.negative_missing,
                 "Take negative coordinates of an imported file as missing landmarks (refused, naming each)");
    app.add_option("--out-prefix", out_prefix,
                   "For convert: write PREFIX.lm.txt, PREFIX.groups.txt, PREFIX.cov.txt and PREFIX.legend.csv");
    app.add_option("--json", json_out, "Write the numbers of the report and of the run to this JSON file");
    app.add_option("--csv", csv_out, "Write the numbers of the report to this CSV file, one row per model or effect");
    app.add_option("--export-specimens", specimens_out,
                   "Write one row per specimen: ID, groups, covariate, centroid size, aligned coordinates, Procrustes distance");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : kUsage;
    }
    // Messages about what is missing name this program's options.
    set_control_words({"--landmarks (or --import)", "--groups (or --import with --factor)",
                       "--covariate (or --import with --covariate-column)", "--perm gives"});
    if (list) {
        std::cout << actions_help();
        return kOk;
    }
    if (list_names) {
        for (const auto& row : action_table()) std::cout << row.name << '\n';
        for (const auto& row : action_table()) std::cout << row.alias << '\n';
        std::cout << "convert\n";
        return kOk;
    }
    if (action.empty()) {
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

    if (import_options.factors.size() > 2) {
        std::cerr << "quillan-batch: --factor is given once for G1 and once more for G2, not more\n";
        return kUsage;
    }
    if (action == "convert") {
        const std::string file = convert_file.empty() ? import_file : convert_file;
        if (file.empty() || out_prefix.empty()) {
            std::cerr << "quillan-batch: convert needs a FILE and --out-prefix NAME\n";
            return kUsage;
        }
        StopSignals stop_signals;
        try {
            const io::ImportedData d = io::import_file(file, import_options);
            if (trace)
                for (const auto& n : d.notices) std::cerr << n << '\n';
            if (!quiet)
                for (const auto& w : d.warnings) std::cerr << message_line("Possible error", w) << '\n';
            if (StopSignals::received()) {  // nothing is written after a stop
                std::cerr << "quillan-batch: stopped\n";
                return StopSignals::exit_status(StopSignals::received());
            }
            if (process.writes)
                for (const auto& path : io::write_converted(d, out_prefix)) std::cout << path << '\n';
        } catch (const QuillanError& e) {
            std::cerr << error_line(e.what()) << '\n';
            return kFailed;
        }
        return kOk;
    }
    std::uint64_t seed = 0;
    if (!seed_text.empty() && !parse_seed(seed_text, seed)) {
        std::cerr << "quillan-batch: --seed must be a whole number from 0 to 18446744073709551615, not \"" << seed_text << "\"\n";
        return kUsage;
    }

    const ActionRow* row = find_action_or_alias(action);
    if (!row) {
        const std::string near = nearest_action(action);
        std::cerr << "quillan-batch: unknown action \"" << action << "\""
                  << (near.empty() ? std::string() : " (did you mean " + near + "?)") << "; see --list for the names\n";
        return kUsage;
    }
    action = row->name;
    if (!convert_file.empty()) {
        std::cerr << "quillan-batch: only convert takes a file after the action; use --landmarks or --import\n";
        return kUsage;
    }
    if (action == "Import" && import_file.empty()) {
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
    if (action == "ExportSpecimens" && (out.empty() || out == "-")) {
        std::cerr << "quillan-batch: export-specimens needs --out FILE (or give --export-specimens FILE with another action)\n";
        return kUsage;
    }

    // The console trace goes where it was asked to, and nowhere by default.
    std::ofstream log;
    if (!log_file.empty() && process.writes) {
        log.open(log_file, std::ios::app);
        if (!log) {
            std::cerr << "quillan-batch: cannot open the log file " << log_file << '\n';
            return kUsage;
        }
    }
    const bool trace_to_stderr = trace || trace_is_the_result(action);
    TeeBuf both(std::cerr.rdbuf(), log.rdbuf());
    std::ostream trace_stream(trace_to_stderr && log.is_open() ? static_cast<std::streambuf*>(&both)
                              : trace_to_stderr                ? std::cerr.rdbuf()
                              : log.is_open()                  ? log.rdbuf()
                                                               : nullptr);

    std::optional<ProgressBar> bar;
    if (process.writes && !progress_off && (progress_on || isatty(STDERR_FILENO))) bar.emplace(std::cerr, action);

    if (!plots.folder.empty() && !batch_pictures_available()) {
        std::cerr << "quillan-batch: this build draws no pictures (it was built without Qt), so --plots is not available\n";
        return kUsage;
    }

    MemoryGui gui;
    build_memory_window(gui);
    std::set<std::string> shown;  // message texts already on standard error
    gui.on_message([&](const MemoryGui::Message& m) {
        if (quiet) return;
        if (bar) bar->erase();
        std::cerr << message_line(m.title, m.text) << '\n';
        shown.insert(m.text);
    });
    Console console(trace_stream);
    Shell shell(gui, console);
    if (!seed_text.empty()) shell.options().seed = seed;
    shell.options().threads = threads > 0 ? threads : process.default_threads;
    shell.options().team = process.team;
    DistributionLog distributions;
    if (!plots.folder.empty()) shell.options().recorder = &distributions;
    auto draw = [&]() {
        if (plots.folder.empty()) return true;
        try {
            write_batch_plots(shell.workspace(), distributions, plots, quiet ? trace_stream : std::cerr, trace_stream);
            return true;
        } catch (const std::exception& e) {
            std::cerr << error_line(e.what()) << '\n';
            return false;
        }
    };
    StopSignals stop_signals;
    shell.options().progress = [&](long long done, long long total) {
        if (StopSignals::received()) return false;
        if (bar) bar->update(done, total);
        return true;
    };

    auto stopped = [&] {
        if (bar) bar->erase();
        std::cerr << "quillan-batch: stopped\n";
        return StopSignals::exit_status(StopSignals::received());
    };
    // A run ended because another process of the team failed says nothing
    // of its own (that process says why); one ended because another was
    // stopped says so.
    const auto stopped_by_team = [&] { return process.team && process.team->over(); };
    auto fail = [&](Outcome o) {
        if (StopSignals::received()) return stopped();
        if (stopped_by_team()) {
            if (process.team->meet({}).status != 0) return kFailed;
            if (bar) bar->erase();
            std::cerr << "quillan-batch: stopped (another process was stopped)\n";
            return StopSignals::exit_status(SIGTERM);
        }
        if (bar) bar->erase();
        const std::string& text = shell.last_message();
        // A refusal or error shown as a message window is on standard error
        // already (unless --quiet held it back); anything else is said here.
        if (text.empty()) std::cerr << "quillan-batch: the action did not complete\n";
        else if (!shown.count(text)) std::cerr << message_line("", text) << '\n';
        return o == Outcome::Refused || o == Outcome::Cancelled ? kRefused : kFailed;
    };
    // An imported file first, so that --groups and --covariate can replace its tables.
    if (!import_file.empty()) {
        shell.import_options() = import_options;
        gui.queue_open_answer(split_path(import_file));
        Outcome o = shell.quillan_action("Import");
        if (o != Outcome::Done) return fail(o);
    }
    // Load the files with the real load actions.
    const std::pair<const std::string*, const char*> loads[] = {
        {&landmarks, "Load"}, {&groups, "LoadGlist"}, {&covariate, "LoadClist"}};
    for (const auto& [file, load_action] : loads) {
        if (file->empty()) continue;
        gui.queue_open_answer(split_path(*file));
        Outcome o = shell.quillan_action(load_action);
        if (o != Outcome::Done) return fail(o);
    }
    // The processes of a team must have read the same data: a machine with
    // an older copy of a file would mix two data sets into one report.
    if (process.team) {
        TeamWord word;
        word.data = data_fingerprint(shell.workspace());
        const TeamAnswer answer = process.team->meet(word);
        if (answer.over()) return kFailed;
        if (!answer.same_data) {
            std::cerr << "quillan-batch: the processes did not read the same data (a file differs from one machine to "
                         "another); nothing was run\n";
            return kFailed;
        }
    }
    gui.set(gui.findobj_tag(kPermBox).front(), "String", Value(perm));
    gui.set(gui.findobj_tag(kCovBox).front(), "Value", Value(static_cast<double>(model)));

    // The exports that follow the action; a failed one fails the run, and
    // none is written after a stop.
    auto exports = [&]() {
        const std::pair<const std::string*, std::function<void(const std::string&)>> writes[] = {
            {&json_out, [&](const std::string& path) { shell.write_results(path, false); }},
            {&csv_out, [&](const std::string& path) { shell.write_results(path, true); }},
            {&specimens_out, [&](const std::string& path) { shell.write_specimens(path); }},
        };
        for (const auto& [path, write] : writes) {
            if (path->empty()) continue;
            if (StopSignals::received()) return stopped();
            try {
                write(*path);
            } catch (const QuillanError& e) {
                std::cerr << error_line(e.what()) << '\n';
                return kFailed;
            }
        }
        return kOk;
    };
    // A team's processes agree that every one of them got this far before
    // anything is written, and only the writer writes.
    const auto writer_goes_on = [&] {
        if (process.team && process.team->meet({}).over()) return false;
        return process.writes;
    };
    const auto not_writing = [&] { return stopped_by_team() ? kFailed : kOk; };
    const bool load_action = action == "Load" || action == "LoadGlist" || action == "LoadClist" || action == "Import";
    if (load_action) {
        if (!writer_goes_on()) return not_writing();
        std::cout << file_box_text(gui) << '\n' << std::flush;
        if (const int e = exports(); e != kOk) return e;
        return draw() ? kOk : kFailed;
    }
    if (action == "SaveOut" && out.empty()) {
        std::cerr << "quillan-batch: SaveOut needs --out FILE\n";
        return kUsage;
    }
    if (action == "SaveOut" && !writer_goes_on()) return not_writing();
    if (action == "SaveOut" && out == "-") return write_out(saved_text(gui));
    if (action == "SaveOut") {
        if (StopSignals::received()) return stopped();
        gui.queue_save_answer(split_path(out));
        Outcome o = shell.quillan_action("SaveOut");
        return o == Outcome::Done ? kOk : fail(o);
    }
    if (action == "ExportSpecimens") {
        if (!writer_goes_on()) return not_writing();
        if (StopSignals::received()) return stopped();
        gui.queue_save_answer(split_path(out));
        Outcome o = shell.quillan_action(action);
        if (o != Outcome::Done) return fail(o);
        return exports();
    }
    distributions.start(action);
    Outcome o = shell.quillan_action(action);
    if (bar) bar->erase();
    if (o != Outcome::Done && o != Outcome::Reported) return fail(o);
    if (StopSignals::received()) return stopped();  // nothing is written after a stop
    if (!writer_goes_on()) return not_writing();
    if (action == "Clear") {
        std::cout << file_box_text(gui) << '\n';
        return kOk;
    }
    if (o == Outcome::Reported) {  // console-only actions have nothing to write
        if (out == "-") {
            if (write_out(saved_text(gui)) != kOk) return kFailed;
        } else if (!out.empty()) {
            gui.queue_save_answer(split_path(out));
            Outcome s = shell.quillan_action("SaveOut");
            if (s != Outcome::Done) return fail(s);
        } else if (write_out(results_text(gui)) != kOk) {
            return kFailed;
        }
    }
    if (const int e = exports(); e != kOk) return e;
    // The pictures come last, so one that cannot be written costs no report.
    return draw() ? kOk : kFailed;
}
