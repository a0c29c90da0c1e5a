// quillan-batch: the actions of the desktop program without a window, for
// scripts and pipelines.  The command line becomes one typed request: the
// files to read (an imported file first, then the landmark, group and
// covariate tables), the action's parameters, the permutations and what is
// written.  The shell runs it as the window's buttons run theirs, and the
// report goes to standard output or to --out FILE, written as "SaveOut"
// writes it.  Standard error carries what a user must read (each message on
// one line) and, when asked for, the console trace and a progress bar; the
// exports (--json, --csv, --export-specimens) and pictures follow the report.
#include "batch/batch.hpp"
#include "batch/batch_steps.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

using namespace quillan::batch;

namespace {

// The trace is appended to the log as it goes; a write that failed (a full
// disk) shows only when the log is closed, and fails the run as a report
// that could not be written fails it.
int close_log(const BatchRequest& request, std::ostream& err_out, std::ofstream& log, int status) {
    if (!log.is_open()) return status;
    errno = 0;
    log.close();
    if (!log.fail()) return status;
    const int err = errno;
    err_out << error_line("Cannot write the log file " + request.log_file + ": " +
                          (err ? std::strerror(err) : "the trace could not be written") + ".")
            << '\n';
    return status == kOk ? kFailed : status;
}

}  // namespace

// The steps of a run: parse the command line, check it, load the files, run
// the action and write its results.
int quillan::run_batch(int argc, char** argv, const BatchProcess& process, SaveSet& files) {
    BatchRequest request;
    if (const auto status = parse_command_line(argc, argv, process, request)) return *status;
    // Before any check that may warn: the picture program checks again and
    // would say each warning twice.
    if (!request.plots.folder.empty() && process.hand_over_pictures) return process.hand_over_pictures(argv);
    return run_parsed(request, process, files);
}

int quillan::batch::run_parsed(BatchRequest& request, const BatchProcess& process, SaveSet& files, RunProducts* products) {
    if (const auto status = check_before_action(request, process)) return *status;
    if (const auto status = check_outputs(request, process)) return *status;
    if (request.action == kConvert) return run_convert(request, process, files);
    if (const auto status = check_action(request, process)) return *status;
    std::ofstream log;
    const PictureModule* pictures = nullptr;
    if (const auto status = open_picture_module(request, process, pictures)) return *status;
    if (const auto status = open_outputs(request, process, log)) return *status;
    return close_log(request, *process.err, log, run_checked(request, process, log, pictures, files, products));
}
