// quillan-batch: the actions of the desktop program without a window, for
// scripts and pipelines.  The files named on the command line are loaded with
// the real load actions (their dialogs answered with the given paths), the
// permutation count and covariate model go into their boxes, the action runs
// through the same dispatcher, and the results box is written to standard
// output or saved with "SaveOut".  Message windows and the console trace go
// to standard error.
#include "io/import.hpp"
#include "io/output.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/memory_gui.hpp"
#include "shell/memory_window.hpp"
#include "shell/shell.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>

using namespace quillan;

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;   // the action failed (bad input file, inconsistent data, ...)
constexpr int kRefused = 2;  // the design was refused or a parameter was invalid
constexpr int kUsage = 64;   // the command line itself was wrong

const std::map<std::string, std::string>& aliases() {
    static const std::map<std::string, std::string> a = {
        {"load", "Load"},
        {"load-groups", "LoadGlist"},
        {"load-covariate", "LoadClist"},
        {"one-way", "RunOneWay"},
        {"one-way-f", "RunOneWayF"},
        {"two-way", "RunTwoWay"},
        {"two-way-f", "RunTwoWayF"},
        {"nested", "RunTwoWayNest"},
        {"one-way-stand", "RunOneStand"},
        {"two-way-stand", "RunTwoStand"},
        {"one-way-stand-f", "RunOneStandF"},
        {"two-way-stand-f", "RunTwoStandF"},
        {"one-way-cov", "RunOneCov"},
        {"two-way-cov", "RunTwoCov"},
        {"test-covariate", "TestCovariate"},
        {"diagnostic", "GoMan"},
        {"save", "SaveOut"},
        {"clear", "Clear"},
    };
    return a;
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

std::string file_box_text(Gui& gui) {
    Value v = gui.get(gui.findobj_tag(kFileBox).front(), "String");
    return v.is_text() ? v.text() : describe(v);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"quillan-batch: landmark shape statistics without a window.\n\n"
                 "Runs one action of the desktop program on the files given.  The report goes to\n"
                 "standard output (or to --out FILE, written as \"SaveOut\" writes it); for the load\n"
                 "actions and Clear the file box is written instead.  Message windows and the console\n"
                 "trace go to standard error.\n\n"
                 "Exit status: 0 done, 1 the action failed, 2 refused (design or parameter), 64 usage.",
                 "quillan-batch"};
    std::string action, landmarks, groups, covariate, perm = kDefaultPermutations, out;
    int model = 1;
    long long seed = -1;
    int threads = 0;
    std::string action_help = "Action name (Load, LoadGlist, LoadClist, RunOneWay, RunOneWayF, RunTwoWay, RunTwoWayF,\n"
                              "RunTwoWayNest, RunOneStand, RunTwoStand, TestCovariate, RunTwoCov, RunOneCov, GoMan,\n"
                              "RunOneStandF, RunTwoStandF, SaveOut, Clear) or an alias:";
    for (const auto& [alias, name] : aliases()) action_help += " " + alias;
    app.add_option("action", action, action_help)->required();
    app.add_option("--landmarks,-l", landmarks, "Landmark file: one specimen per line, x1 y1 ... xk yk and one more value");
    app.add_option("--groups,-g", groups, "Group file: one or two columns of group codes");
    app.add_option("--covariate,-c", covariate, "Covariate file: one value per specimen");
    app.add_option("--perm,-p", perm, "Number of permutations (the text of the permutation box)")->capture_default_str();
    app.add_option("--model,-m", model, "Covariate model 1-5: 1 none, 2 one slope for all, 3 within G1, 4 within G2, 5 within G1 x G2 cells")->capture_default_str()
        ->check(CLI::Range(1, 5));
    app.add_option("--seed,-s", seed, "Seed of the random permutations (a seeded run is reproducible on any number of threads)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--threads,-t", threads, "Worker threads for the permutations (0: every core)")->capture_default_str()->check(CLI::NonNegativeNumber);
    app.add_option("--out,-o", out, "Save the results box to this file instead of writing it to standard output");
    // Import of other formats and export of the numbers (see README, "Import" and "Export").
    std::string import_file, convert_file, out_prefix, json_out, csv_out, specimens_out;
    io::ImportOptions import_options;
    app.add_option("file", convert_file, "For convert: the file to convert");
    app.add_option("--import,-i", import_file,
                   "Import landmarks (and factors, covariate) from a TPS, NTS, CSV/TSV or plain x/y file before the loads");
    app.add_option("--factor", import_options.factors, "Column of the imported file that is G1 (given again: G2)")->expected(1)->take_all();
    app.add_option("--covariate-column", import_options.covariate_column, "Numeric column of the imported file that is the covariate");
    app.add_option("--id-column", import_options.id_column, "Column of the imported file (and of --factors) that holds the specimen IDs");
    app.add_option("--factors", import_options.factor_table, "Table (CSV or TSV with a header) of factors and covariates keyed by specimen ID");
    app.add_option("--out-prefix", out_prefix, "For convert: write PREFIX.lm.txt, PREFIX.groups.txt, PREFIX.cov.txt and PREFIX.legend.csv");
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
        try {
            const io::ImportedData d = io::import_file(file, import_options);
            for (const auto& n : d.notices) std::cerr << n << '\n';
            for (const auto& w : d.warnings) std::cerr << "[Possible error] " << w << '\n';
            for (const auto& path : io::write_converted(d, out_prefix)) std::cout << path << '\n';
        } catch (const QuillanError& e) {
            std::cerr << "quillan-batch: " << e.what() << '\n';
            return kFailed;
        }
        return kOk;
    }
    if (!convert_file.empty()) {
        std::cerr << "quillan-batch: only convert takes a file after the action; use --landmarks or --import\n";
        return kUsage;
    }
    if (action == "import") action = "Import";
    if (action == "Import" && import_file.empty()) {
        std::cerr << "quillan-batch: import needs --import FILE\n";
        return kUsage;
    }
    if (auto it = aliases().find(action); it != aliases().end()) action = it->second;
    const auto& names = action_names();
    if (std::find(names.begin(), names.end(), action) == names.end() && action != "Import") {
        std::cerr << "quillan-batch: unknown action \"" << action << "\" (see --help for the names)\n";
        return kUsage;
    }

    MemoryGui gui;
    build_memory_window(gui);
    gui.on_message([](const MemoryGui::Message& m) {
        std::cerr << (m.title.empty() ? std::string("[message] ") : "[" + m.title + "] ") << m.text << '\n';
    });
    Console console(std::cerr);
    Shell shell(gui, console);
    if (seed >= 0) shell.options().seed = static_cast<std::uint64_t>(seed);
    shell.options().threads = threads;

    auto fail = [&](Outcome o) {
        std::cerr << "quillan-batch: " << (shell.last_message().empty() ? "the action did not complete" : shell.last_message()) << '\n';
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
    gui.set(gui.findobj_tag(kPermBox).front(), "String", Value(perm));
    gui.set(gui.findobj_tag(kCovBox).front(), "Value", Value(static_cast<double>(model)));

    // The exports that follow the action; a failed one fails the run.
    auto exports = [&]() {
        try {
            if (!json_out.empty()) shell.write_results(json_out, false);
            if (!csv_out.empty()) shell.write_results(csv_out, true);
            if (!specimens_out.empty()) shell.write_specimens(specimens_out);
        } catch (const QuillanError& e) {
            std::cerr << "quillan-batch: " << e.what() << '\n';
            return kFailed;
        }
        return kOk;
    };
    const bool load_action = action == "Load" || action == "LoadGlist" || action == "LoadClist" || action == "Import";
    if (load_action) {
        std::cout << file_box_text(gui) << '\n';
        return exports();
    }
    if (action == "SaveOut" && out.empty()) {
        std::cerr << "quillan-batch: SaveOut needs --out FILE\n";
        return kUsage;
    }
    if (action == "SaveOut") {
        gui.queue_save_answer(split_path(out));
        Outcome o = shell.quillan_action("SaveOut");
        return o == Outcome::Done ? kOk : fail(o);
    }
    Outcome o = shell.quillan_action(action);
    if (o != Outcome::Done && o != Outcome::Reported) return fail(o);
    if (action == "Clear") {
        std::cout << file_box_text(gui) << '\n';
        return kOk;
    }
    if (o != Outcome::Reported) return exports();  // console-only actions
    if (!out.empty()) {
        gui.queue_save_answer(split_path(out));
        Outcome s = shell.quillan_action("SaveOut");
        if (s != Outcome::Done) return fail(s);
        return exports();
    }
    std::cout << results_text(gui);
    return exports();
}
