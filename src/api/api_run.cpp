// The library entry's runs: a request becomes the words of quillan-batch's
// command line, read and checked by the batch front end itself, and run by
// its runner with what it writes kept as text.  Nothing here knows an action
// or an option by name: the options the entry leaves out are named by their
// kind of place in the run option table.
#include "api/api_internal.hpp"
#include "batch/batch.hpp"
#include "batch/batch_steps.hpp"
#include "io/import.hpp"
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"
#include "platform/stop_request.hpp"
#include "shell/action_table.hpp"
#include "shell/run_option_table.hpp"

#include <atomic>
#include <csignal>
#include <mutex>
#include <sstream>

namespace quillan::api {

namespace {

// One run at a time: the stop source and the options of the permutation
// engine are the process's own.
std::mutex g_run;
// The run's keep_going, asked by whichever thread reaches a stop point; a
// thread that finds another asking goes on with the answer so far.
const std::function<bool()>* g_keep_going = nullptr;
std::atomic<int> g_stopped{0};
std::mutex g_asking;

int asked_stop() {
    if (const int cause = g_stopped.load()) return cause;
    const std::unique_lock<std::mutex> lock(g_asking, std::try_to_lock);
    if (!lock.owns_lock() || g_keep_going == nullptr || !*g_keep_going) return g_stopped.load();
    bool go = true;
    try {
        go = (*g_keep_going)();
    } catch (...) {
        go = false;  // a caller that cannot answer wants no more of the run
    }
    if (!go) g_stopped.store(SIGINT);
    return g_stopped.load();
}

// The lines the run wrote to standard error, without the program's name in
// front of each; CLI11's pointer to --help says nothing to a library's caller.
std::vector<std::string> error_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    const std::string prefix = "quillan-batch: ";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
        if (line.empty() || line == "Run with --help for more information.") continue;
        lines.push_back(line);
    }
    return lines;
}

Error::Kind kind_of_status(int status) {
    switch (status) {
        case batch::kUsage:
            return Error::Usage;
        case batch::kRefused:
            return Error::Refused;
        default:
            return status > 128 ? Error::Cancelled : Error::Failed;
    }
}

// The refusal in the program's own words when the action gave one, else
// what the run wrote to standard error.
std::string error_text(const std::string& message, const std::vector<std::string>& lines) {
    if (!message.empty()) return message;
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text.empty() ? "the action did not complete" : text;
}

}  // namespace

Result run(const Request& request, const std::function<bool()>& keep_going) {
    const std::lock_guard<std::mutex> one_run(g_run);
    CommandLine line(command_words(request.action, request.options, run_and_action_options()));
    std::ostringstream out, err, trace;
    BatchProcess process;
    process.out = &out;
    process.err = &err;
    process.trace = &trace;
    process.own_signals = false;
    batch::BatchRequest r;
    if (const auto status = batch::parse_command_line(line.argc(), line.argv(), process, r))
        throw Error(Error::Usage, error_text("", error_lines(err.str())));
    io::SpecimenTable table;
    if (request.data) {
        if (!r.import_file.empty()) throw Error(Error::Usage, "give the data or --import FILE, not both");
        table = specimen_table(*request.data);
        r.table = &table;
    }
    r.progress_off = true;
    SaveSet files;
    RunProducts products;
    g_stopped.store(0);
    g_keep_going = &keep_going;
    int status = batch::kFailed;
    {
        const StopSource source(&asked_stop);
        try {
            status = batch::run_parsed(r, process, files, &products);
        } catch (const std::exception& e) {
            products.message = e.what();
        }
    }
    g_keep_going = nullptr;
    Result result;
    result.messages = error_lines(err.str());
    if (g_stopped.load() != 0) throw Error(Error::Cancelled, "stopped");
    if (status != batch::kOk) throw Error(kind_of_status(status), error_text(products.message, result.messages));
    try {
        files.commit([&](const std::string& w) { result.messages.push_back("Warning: " + w); });
    } catch (const QuillanError& e) {
        throw Error(Error::Failed, e.what());
    }
    result.report = std::move(products.report);
    result.record_json = std::move(products.record_json);
    result.trace = trace.str();
    const ActionRow* row = find_action_or_alias(r.action);
    if (result.report.empty() && row && row->trace_is_result) result.report = result.trace;
    return result;
}

}  // namespace quillan::api
