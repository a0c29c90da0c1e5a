// quillan-batch: the actions of the desktop program without a window, for
// scripts and pipelines.  The files named on the command line are loaded with
// the real load actions (their dialogs answered with the given paths), the
// permutation count and covariate model go into their boxes, the action runs
// through the same dispatcher, and the results box is written to standard
// output or saved with "SaveOut".  Message windows and the console trace go
// to standard error.
#include "platform/format.hpp"
#include "platform/memory_gui.hpp"
#include "shell/memory_window.hpp"
#include "shell/shell.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
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
    std::string seed_text;
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
    app.add_option("--seed,-s", seed_text,
                   "Seed of the random permutations, a whole number from 0 to 18446744073709551615 (a seeded run is "
                   "reproducible on any number of threads)");
    app.add_option("--threads,-t", threads, "Worker threads for the permutations (0: every core)")->capture_default_str()->check(CLI::NonNegativeNumber);
    app.add_option("--out,-o", out,
                   "Save the results box to this file instead of writing it to standard output; \"-\" writes the saved form to "
                   "standard output.  Only a regular file is replaced (a device, pipe or socket is refused), through a symbolic "
                   "link to its target");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : kUsage;
    }

    std::uint64_t seed = 0;
    if (!seed_text.empty() && !parse_seed(seed_text, seed)) {
        std::cerr << "quillan-batch: --seed must be a whole number from 0 to 18446744073709551615, not \"" << seed_text << "\"\n";
        return kUsage;
    }

    if (auto it = aliases().find(action); it != aliases().end()) action = it->second;
    const auto& names = action_names();
    if (std::find(names.begin(), names.end(), action) == names.end()) {
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
    if (!seed_text.empty()) shell.options().seed = seed;
    shell.options().threads = threads;

    auto fail = [&](Outcome o) {
        std::cerr << "quillan-batch: " << (shell.last_message().empty() ? "the action did not complete" : shell.last_message()) << '\n';
        return o == Outcome::Refused || o == Outcome::Cancelled ? kRefused : kFailed;
    };
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

    const bool load_action = action == "Load" || action == "LoadGlist" || action == "LoadClist";
    if (load_action) {
        std::cout << file_box_text(gui) << '\n';
        return kOk;
    }
    if (action == "SaveOut" && out.empty()) {
        std::cerr << "quillan-batch: SaveOut needs --out FILE\n";
        return kUsage;
    }
    if (action == "SaveOut" && out == "-") return write_out(saved_text(gui));
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
    if (o != Outcome::Reported) return kOk;  // console-only actions
    if (out == "-") return write_out(saved_text(gui));
    if (!out.empty()) {
        gui.queue_save_answer(split_path(out));
        Outcome s = shell.quillan_action("SaveOut");
        return s == Outcome::Done ? kOk : fail(s);
    }
    return write_out(results_text(gui));
}
