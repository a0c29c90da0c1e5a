// A quillan-batch run: the files read, the action run on a shell without a
// window, and what it writes.
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
#include <system_error>

namespace quillan::batch {

namespace {

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
    if (ws.tree) {
        for (const std::string& label : ws.tree->labels) add(label.data(), label.size() + 1);
        add(ws.tree->parent.data(), ws.tree->parent.size() * sizeof(int));
        add(ws.tree->length.data(), ws.tree->length.size() * sizeof(double));
    }
    return h;
}

// Where the console trace goes: where it was asked to, and nowhere by default.
std::streambuf* trace_buffer(bool to_stderr, std::ostream& err, std::ofstream& log, TeeBuf& both) {
    return to_stderr && log.is_open() ? static_cast<std::streambuf*>(&both)
           : to_stderr                ? err.rdbuf()
           : log.is_open()            ? log.rdbuf()
                                      : nullptr;
}

// The channel of a run without a window: messages on standard error, one
// line each as Unix tools write them (none with --quiet), and the report kept
// for the writes that follow.  Nobody is there to press a key.
class BatchChannel final : public RunChannel {
public:
    BatchChannel(bool quiet, std::optional<ProgressBar>& bar, std::ostream& err) : quiet_(quiet), bar_(bar), err_(err) {}
    void message(const std::string& text, const std::string& title) override {
        if (quiet_) return;
        if (bar_) bar_->erase();
        err_ << message_line(title, text) << '\n';
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
    std::ostream& err_;
    std::set<std::string> shown_;  // message texts already on standard error
    std::string report_;
};

// One run of a checked request: the files read, the action run, and what it
// writes.
class BatchRun {
public:
    BatchRun(const BatchRequest& request, const BatchProcess& process, std::ofstream& log, const PictureModule* pictures,
             SaveSet& files, RunProducts* products);

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
    void hand_over(const std::string& report);
    CovariateChoice covariate_model() const { return static_cast<CovariateChoice>(r_.model); }
    Alignment alignment() const { return r_.alignment(); }

    const BatchRequest& r_;
    const BatchProcess& process_;
    const PictureModule* pictures_;  // when --plots is given
    SaveSet& files_;                 // what the run writes, committed by the caller
    RunProducts* products_;          // what a host program is handed, when one asks
    std::ostream& out_;
    std::ostream& err_;
    TeeBuf both_;
    std::ostream trace_stream_;
    std::optional<ProgressBar> bar_;
    BatchChannel channel_;
    Console console_;
    Runner runner_;
    RunOptions options_;
    DistributionLog distributions_;
    std::optional<StopSignals> stop_signals_;
};

BatchRun::BatchRun(const BatchRequest& request, const BatchProcess& process, std::ofstream& log, const PictureModule* pictures,
                   SaveSet& files, RunProducts* products)
    : r_(request),
      process_(process),
      pictures_(pictures),
      files_(files),
      products_(products),
      out_(*process.out),
      err_(*process.err),
      both_(process.err->rdbuf(), log.rdbuf()),
      trace_stream_(process.trace
                        ? process.trace->rdbuf()
                        : trace_buffer(request.trace || find_action(request.action)->trace_is_result, err_, log, both_)),
      channel_(request.quiet, bar_, err_),
      console_(trace_stream_),
      runner_(console_) {
    if (process.own_signals) stop_signals_.emplace();
    if (process.writes && !r_.progress_off && (r_.progress_on || isatty(STDERR_FILENO))) bar_.emplace(err_, r_.action);
    // Messages about what is missing name this program's options.
    runner_.control_words() = {"--landmarks (or --import)", "--groups (or --import with --factor)",
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
    err_ << "quillan-batch: stopped\n";
    return StopSignals::exit_status(StopSignals::received());
}

// A run ended because another process of the team failed says nothing of its
// own (that process says why); one ended because another was stopped says so.
int BatchRun::fail(Outcome o) {
    if (StopSignals::received()) return stopped();
    if (stopped_by_team()) {
        if (process_.team->meet({}).status != 0) return kFailed;
        if (bar_) bar_->erase();
        err_ << "quillan-batch: stopped (another process was stopped)\n";
        return StopSignals::exit_status(SIGTERM);
    }
    if (bar_) bar_->erase();
    const std::string& text = runner_.last_message();
    if (products_) products_->message = text;
    // A refusal or error shown as a message is on standard error already
    // (unless --quiet held it back); anything else is said here.
    if (text.empty()) err_ << "quillan-batch: the action did not complete\n";
    else if (!channel_.shown(text)) err_ << message_line("", text) << '\n';
    return o == Outcome::Refused || o == Outcome::Cancelled ? kRefused : kFailed;
}

bool BatchRun::draw() {
    if (r_.plots.folder.empty() || !pictures_) return true;
    BatchPlotRequest request = r_.plots;
    request.stop_cause = &stop_cause;
    request.save = [this](const std::string& path, std::string_view bytes) { files_.write(path, bytes); };
    request.level_names = runner_.legend().level_names(runner_.workspace().groups);
    request.factor_names = runner_.legend().factor_names(runner_.workspace().groups);
    request.marks = landmark_marks(runner_);
    request.wireframe = imported_wireframe(runner_);
    std::string error;
    // Made here, so that the folder joins the run's set of files and goes
    // again if the run ends with nothing in it; a folder that cannot be made
    // is the module's to report.
    make_folders_for_saves(request.folder, error, &files_);
    error.clear();
    if (pictures_->write_plots(runner_.workspace(), distributions_, request, r_.quiet ? trace_stream_ : err_, trace_stream_,
                               error) >= 0)
        return true;
    err_ << error_line(error) << '\n';
    return false;
}

// The exports that follow the action; a failed one fails the run, and none is
// written after a stop.
int BatchRun::exports() {
    // "-" is standard output, as for --out.
    const std::pair<const std::string*, std::function<std::string()>> writes[] = {
        {&r_.json_out, [&] { return runner_.results_export(false); }},
        {&r_.csv_out, [&] { return runner_.results_export(true); }},
        {&r_.specimens_out, [&] { return runner_.specimens_export(covariate_model(), alignment(), r_.size_correction()); }},
    };
    for (const auto& [path, text] : writes) {
        if (path->empty()) continue;
        if (StopSignals::received()) return stopped();
        try {
            if (*path != "-") files_.write(*path, text());
            else if (write_out(process_, text()) != kOk) return kFailed;
        } catch (const QuillanError& e) {
            err_ << error_line(e.what()) << '\n';
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
    // An imported file first, so that --groups and --covariate can replace its tables.
    RunRequest read;
    read.inputs = {r_.import_file, r_.import_options,    r_.landmarks, r_.groups,    r_.covariate,
                   r_.dimensions,  r_.dimensions_chosen, r_.tree,      r_.tree_name, r_.table};
    const RunResult result = runner_.run(read, channel_);
    if (result.outcome != Outcome::Done) return fail(result.outcome);
    return check_same_data();
}

// The processes of a team must have read the same data: a machine with an
// older copy of a file would mix two data sets into one report.
std::optional<int> BatchRun::check_same_data() {
    if (!process_.team) return std::nullopt;
    TeamWord word;
    word.data = data_fingerprint(runner_.workspace());
    const TeamAnswer answer = process_.team->meet(word);
    if (answer.over()) return kFailed;
    if (!answer.same_data) {
        err_ << "quillan-batch: the processes did not read the same data (a file differs from one machine to "
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

// What a host program is handed: the report as printed, and the numbers
// behind it when the action made a record.
void BatchRun::hand_over(const std::string& report) {
    if (!products_) return;
    products_->report = report;
    if (!runner_.last_record().empty()) products_->record_json = runner_.results_export(false);
}

// A load action's result is the file box.
int BatchRun::write_loaded() {
    if (!writer_goes_on()) return not_writing();
    hand_over(runner_.file_box_text() + '\n');
    out_ << runner_.file_box_text() << '\n' << std::flush;
    if (const int e = exports(); e != kOk) return e;
    return draw() ? kOk : kFailed;
}

// Saving the report of a run that made none: what the empty results box saves.
int BatchRun::save_out() {
    if (r_.out.empty()) {
        err_ << "quillan-batch: SaveOut needs --out FILE\n";
        return kUsage;
    }
    if (!writer_goes_on()) return not_writing();
    return write_report();
}

int BatchRun::export_specimens() {
    if (!writer_goes_on()) return not_writing();
    if (StopSignals::received()) return stopped();
    try {
        files_.write(r_.out, runner_.specimens_export(covariate_model(), alignment(), r_.size_correction()));
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
    request.params.permutations = permutation_count(r_.perm, runner_.control_words());
    request.params.covariate = covariate_choice(static_cast<double>(r_.model));
    request.params.options = OptionValues::read(row.options, r_.given);
    request.params.words = runner_.control_words();
    request.run = options_;
    request.alignment = alignment();
    if (!r_.plots.folder.empty()) request.links_file = r_.plots.links_file;
    const RunResult result = runner_.run(request, channel_);
    if (bar_) bar_->erase();
    if (result.outcome != Outcome::Done && result.outcome != Outcome::Reported) return fail(result.outcome);
    if (StopSignals::received()) return stopped();  // nothing is written after a stop
    if (!writer_goes_on()) return not_writing();
    if (row.kind == ActionKind::Clear) {
        hand_over(runner_.file_box_text() + '\n');
        out_ << runner_.file_box_text() << '\n';
        return kOk;
    }
    if (result.outcome == Outcome::Reported) {
        std::string text;
        for (const auto& line : channel_.report_lines()) text += line + "\n";
        hand_over(text);  // console-only actions have nothing to write
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
    if (r_.out == "-") return write_out(process_, report_file_text(lines));
    if (r_.out.empty()) {
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        return write_out(process_, text);
    }
    if (StopSignals::received()) return stopped();
    try {
        files_.write(r_.out, report_file_text(lines));
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
    if (!channel_.shown(text)) err_ << message_line("", text) << '\n';
    return kFailed;
}

}  // namespace

// convert FILE: an imported file written as quillan's tables.
int run_convert(const BatchRequest& r, const BatchProcess& process, SaveSet& files) {
    const std::string file = r.convert_file.empty() ? r.import_file : r.convert_file;
    if (file.empty() || r.out_prefix.empty()) {
        *process.err << "quillan-batch: convert needs a FILE and --out-prefix NAME\n";
        return kUsage;
    }
    std::optional<StopSignals> stop_signals;
    if (process.own_signals) stop_signals.emplace();
    try {
        const io::ImportedData d = io::import_naming_choices(file, r.import_options);
        if (r.trace)
            for (const auto& n : d.notices) *process.err << n << '\n';
        if (!r.quiet && !r.trace)
            for (const auto& n : d.legend.steps.notes) *process.err << "quillan-batch: " << n << '\n';
        if (!r.quiet)
            for (const auto& w : d.warnings) *process.err << message_line("Possible error", w) << '\n';
        if (StopSignals::received()) {  // nothing is written after a stop
            *process.err << "quillan-batch: stopped\n";
            return StopSignals::exit_status(StopSignals::received());
        }
        if (process.writes)
            for (const auto& path : io::write_converted(d, r.out_prefix, files)) *process.out << path << '\n';
        if (process.writes && !r.quiet && d.dimensions == 3)
            *process.err << "quillan-batch: " << r.out_prefix << ".lm.txt holds " << (d.landmarks.cols() - 1) / 3
                         << " landmarks in space (x, y and z of each); " << r.out_prefix
                         << ".legend.csv says so, and -l and the window's Load read it in space by it\n";
    } catch (const Cancelled&) {
        *process.err << "quillan-batch: stopped\n";
        return StopSignals::exit_status(StopSignals::received());
    } catch (const QuillanError& e) {
        *process.err << error_line(e.what()) << '\n';
        return kFailed;
    }
    return kOk;
}

int run_checked(const BatchRequest& r, const BatchProcess& process, std::ofstream& log, const PictureModule* pictures,
                SaveSet& files, RunProducts* products) {
    BatchRun run(r, process, log, pictures, files, products);
    if (const auto status = run.load()) return *status;
    return run.run_and_write();
}

}  // namespace quillan::batch
