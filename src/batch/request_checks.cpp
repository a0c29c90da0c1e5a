// The checks of a quillan-batch request made before any file is read.
#include "analyses/common.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "analyses/linear_models/size_correction.hpp"
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
#include "shell/action_options.hpp"
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

// --plot-size WIDTHxHEIGHT and --plot-dpi, read and checked before anything is.
std::optional<int> check_picture_size(BatchRequest& r, std::ostream& err) {
    PictureSize& size = r.plots.size;
    if (!r.plot_size.empty()) {
        const auto x = r.plot_size.find_first_of("xX");
        const char* s = r.plot_size.data();
        const char* end = s + r.plot_size.size();
        std::from_chars_result wide{}, high{};
        const bool read = x != std::string::npos && x > 0 && x + 1 < r.plot_size.size() &&
                          (wide = std::from_chars(s, s + x, size.width)).ptr == s + x &&
                          (high = std::from_chars(s + x + 1, end, size.height)).ptr == end;
        if (!read) {
            err << "quillan-batch: --plot-size is WIDTHxHEIGHT in pixels, such as 2000x1600, not \"" << r.plot_size << "\"\n";
            return kUsage;
        }
        // Digits past what an int holds: far beyond the largest picture.
        if (wide.ec == std::errc::result_out_of_range || high.ec == std::errc::result_out_of_range) {
            err << "quillan-batch: A picture must be from " << PictureSize::kMinPixels << " to " << PictureSize::kMaxPixels
                << " pixels wide and high, not " << r.plot_size << ".\n";
            return kUsage;
        }
    }
    try {
        size.check();
    } catch (const QuillanError& e) {
        err << "quillan-batch: " << e.what() << '\n';
        return kUsage;
    }
    if (size.crowded() && !r.plots.folder.empty() && !r.quiet) {
        // The pixels a side needs at this resolution.
        auto fitting = [&](int pixels, int layout) { return std::max(pixels, (layout * size.dpi + 95) / 96); };
        err << "quillan-batch: Warning: at " << size.dpi << " dpi, pictures of " << size.width << "x" << size.height
            << " pixels are too small for their text, which will be cut off or run together: give --plot-size "
            << fitting(size.width, PictureSize::kMinLayoutWidth) << "x" << fitting(size.height, PictureSize::kMinLayoutHeight)
            << " or more, or a smaller --plot-dpi\n";
    }
    return std::nullopt;
}

// What is answered before any action: the lists of actions, a missing
// action, a kernel this processor cannot run, too many factors and a
// picture size out of range.
std::optional<int> check_before_action(BatchRequest& r, const BatchProcess& process) {
    std::ostream& out = *process.out;
    std::ostream& err = *process.err;
    if (r.list) {
        out << actions_help();
        return kOk;
    }
    if (r.list_names) {
        for (const auto& row : action_table()) out << row.name << '\n';
        for (const auto& row : action_table()) out << row.alias << '\n';
        out << "convert\n";
        return kOk;
    }
    if (!r.list_values.empty()) {
        for (const DeclaredOption& d : declared_options()) {
            if (option_flag(*d.decl) != r.list_values) continue;
            for (const char* word : d.decl->choices) out << word << '\n';
            if (d.decl->kind == OptionKind::InputFile || d.decl->kind == OptionKind::OutputFile) out << "FILE\n";
        }
        return kOk;
    }
    if (r.action.empty()) {
        err << "quillan-batch: an action is required (see --help for the names)\n";
        return kUsage;
    }
    // A kernel forced by QUILLAN_KERNEL that this processor cannot run is
    // refused before any file is read.
    try {
        active_kernel();
    } catch (const QuillanError& e) {
        err << error_line(e.what()) << '\n';
        return kFailed;
    }

    if (r.import_options.factors.size() > 2) {
        err << "quillan-batch: --factor is given once for G1 and once more for G2, not more\n";
        return kUsage;
    }
    // The import steps act on an imported file only: without one they would
    // be silently left out.
    const io::ImportOptions& o = r.import_options;
    const bool steps = !o.estimate_missing.empty() || o.semilandmarks || !o.sliders_file.empty();
    if (steps && !r.imports() && r.convert_file.empty()) {
        err << "quillan-batch: --estimate-missing, --semilandmarks and --sliders act on an imported file: give it with "
               "--import FILE (or convert FILE)\n";
        return kUsage;
    }
    if (!r.tree_name.empty() && r.tree.empty()) {
        err << "quillan-batch: --tree-name chooses a tree of a NEXUS file; give the file with --tree FILE\n";
        return kUsage;
    }
    // An imported file says its own dimension (LM3=, [dimensions], z columns).
    if (r.dimensions_chosen && r.landmarks.empty() && !r.quiet)
        err << "quillan-batch: Warning: --dimensions says how --landmarks FILE is read; an imported or converted "
               "file says its own (LM3=, DIM=3, [dimensions], z columns), so it is ignored\n";
    if (r.slide_chosen && !o.semilandmarks && o.sliders_file.empty() && !r.quiet)
        err << "quillan-batch: Warning: --slide and --slide-iterations choose how semilandmarks slide; without "
               "--semilandmarks or --sliders nothing slides, so they are ignored\n";
    return check_picture_size(r, err);
}

// Outputs onto the inputs or onto each other, refused before anything is
// read: the files the run reads, then those it writes.
std::optional<int> check_outputs(const BatchRequest& r, const BatchProcess& process) {
    std::vector<NamedFile> in, out;
    const io::ImportOptions& o = r.import_options;
    const std::pair<const char*, const std::string*> inputs[] = {{"-l", &r.landmarks},           {"-g", &r.groups},
                                                                 {"-c", &r.covariate},           {"--tree", &r.tree},
                                                                 {"--import", &r.import_file},   {"--factors", &o.factor_table},
                                                                 {"--sliders", &o.sliders_file}, {"--links", &r.plots.links_file},
                                                                 {kConvert, &r.convert_file}};
    for (const auto& [option, path] : inputs)
        if (!path->empty()) in.push_back({option, *path});
    // The files the actions' own options name (a partition, a second block,
    // land pairs): every input a row declares is guarded alike.
    for (const DeclaredOption& d : declared_options())
        if (d.decl->kind == OptionKind::InputFile && r.given_option(d.decl->name))
            in.push_back({option_flag(*d.decl), r.given.at(d.decl->name)});
    if (r.action == kConvert) {
        for (const char* member : {".lm.txt", ".groups.txt", ".cov.txt", ".legend.csv"})
            if (!r.out_prefix.empty()) out.push_back({"--out-prefix", r.out_prefix + member});
    } else {
        out.push_back(r.out.empty() ? NamedFile{"the report", "-"} : NamedFile{"--out", r.out});
    }
    const std::pair<const char*, const std::string*> outputs[] = {{"--json", &r.json_out},
                                                                  {"--csv", &r.csv_out},
                                                                  {"--export-specimens", &r.specimens_out},
                                                                  {"--log", &r.log_file},
                                                                  {"--plots", &r.plots.folder}};
    for (const auto& [option, path] : outputs)
        if (!path->empty()) out.push_back({option, *path});
    const std::string clash = output_clash(in, out);
    if (clash.empty()) return std::nullopt;
    *process.err << "quillan-batch: " << clash << '\n';
    return kUsage;
}

// The options an action owns (its row declares them), refused on any other
// action with the names of the actions that take them.  An option the
// specimens' export reads too (--alignment) is taken by any run exporting them.
std::optional<int> check_owned_options(const BatchRequest& r, const ActionRow& row, bool exports_specimens, std::ostream& err) {
    for (const DeclaredOption& d : declared_options()) {
        const std::string name = d.decl->name;
        if (!r.given_option(name) || row.takes_option(name)) continue;
        if (d.decl->for_exports && exports_specimens) continue;
        if (d.decl->for_imports && (r.imports() || !r.convert_file.empty())) continue;
        std::string names;
        for (std::size_t i = 0; i < d.takers.size(); ++i)
            names += (i == 0 ? "" : i + 1 == d.takers.size() ? " and " : ", ") + d.takers[i];
        err << "quillan-batch: " << option_flag(*d.decl) << " belongs to "
            << (d.takers.size() == 1 ? "the action " : "the actions ") << names << ", not to " << row.alias << "\n";
        return kUsage;
    }
    return std::nullopt;
}

// The seed, the action's name (an alias becomes the name) and the options
// an action needs or cannot take.
std::optional<int> check_action(BatchRequest& r, const BatchProcess& process) {
    std::ostream& err = *process.err;
    const std::optional<std::uint64_t> seed = parse_seed_text(r.seed_text);
    if (!r.seed_text.empty() && !seed) {
        err << "quillan-batch: --seed must be a whole number from 0 to 18446744073709551615, not \"" << r.seed_text << "\"\n";
        return kUsage;
    }
    if (seed) r.seed = *seed;

    const ActionRow* row = find_action_or_alias(r.action);
    if (!row) {
        const std::string near = nearest_action(r.action);
        err << "quillan-batch: unknown action \"" << r.action << "\""
            << (near.empty() ? std::string() : " (did you mean " + near + "?)") << "; see --list for the names\n";
        return kUsage;
    }
    r.action = row->name;
    if (!r.convert_file.empty()) {
        err << "quillan-batch: only convert takes a file after the action; use --landmarks or --import\n";
        return kUsage;
    }
    if (row->batch_refusal) {
        err << "quillan-batch: " << row->batch_refusal << "\n";
        return kUsage;
    }
    if (row->kind == ActionKind::Import && !r.imports()) {
        err << "quillan-batch: " << row->alias << " needs " << row->file_option << " FILE\n";
        return kUsage;
    }
    const bool exports_specimens = !r.specimens_out.empty() || row->kind == ActionKind::Export;
    if (const std::optional<int> rc = check_owned_options(r, *row, exports_specimens, err)) return rc;
    // --size, --logsz and --size-group describe the model of --size-corrected
    // (allometry's own --size and --logsz aside): alone they would be dropped.
    if (!r.given_option("size-corrected"))
        for (const char* name : {"size", "logsz", "size-group"})
            if (r.given_option(name) && (row->takes_option("size-corrected") || !row->takes_option(name))) {
                err << "quillan-batch: --" << name << " chooses the model of --size-corrected; give --size-corrected too\n";
                return kUsage;
            }
    if (r.given_option("pairwise-means") && !r.given_option("pairwise")) {
        err << "quillan-batch: --pairwise-means chooses the means --pairwise compares; give --pairwise FACTOR too\n";
        return kUsage;
    }
    if (row->kind == ActionKind::Export && (r.out.empty() || r.out == "-")) {
        err << "quillan-batch: " << row->alias << " needs --out FILE (or give --export-specimens FILE with another action)\n";
        return kUsage;
    }
    return std::nullopt;
}

// Opens the log file the console trace is appended to.
std::optional<int> open_outputs(const BatchRequest& r, const BatchProcess& process, std::ofstream& log) {
    std::ostream& err = *process.err;
    if (!r.log_file.empty() && process.writes) {
        log.open(r.log_file, std::ios::app);
        if (!log) {
            err << "quillan-batch: cannot open the log file " << r.log_file << '\n';
            return kUsage;
        }
    }
    return std::nullopt;
}

// The picture module, opened only when --plots asks for pictures: every
// other run starts without Qt.  A missing module refuses the run before
// anything is read or written.
std::optional<int> open_picture_module(const BatchRequest& r, const BatchProcess& process, const PictureModule*& module) {
    std::ostream& err = *process.err;
    if (r.plots.folder.empty()) return std::nullopt;
    if (!process.open_pictures) {
        err << "quillan-batch: this build draws no pictures (it was built without Qt), so --plots is not available\n";
        return kUsage;
    }
    std::string problem;
    module = process.open_pictures(problem);
    if (module) return std::nullopt;
    err << "quillan-batch: " << problem << "; --plots is not available\n";
    return kUsage;
}

}  // namespace quillan::batch

namespace quillan::batch {

GpaSteps BatchRequest::gpa_steps() const {
    const auto it = given.find("gpa-steps");
    return it != given.end() && it->second == "gpagen" ? GpaSteps::Gpagen : GpaSteps::Converged;
}

std::optional<SizeModel> BatchRequest::size_correction() const {
    return size_correction_asked(OptionValues::read(with_size_correction({}), given));
}

Alignment BatchRequest::alignment() const {
    const auto it = given.find("alignment");
    return it != given.end() && it->second == "partial" ? Alignment::Partial : Alignment::Full;
}

}  // namespace quillan::batch
