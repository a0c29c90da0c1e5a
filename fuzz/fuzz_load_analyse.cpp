// The whole path a user takes: three files loaded by the load actions and
// one analysis run on them, as the batch front end does it.  The input is
// an action byte, a covariate-model byte, then the landmark, group and
// covariate files separated by NUL bytes.  Whatever the files hold, the
// action must end in a report, a refusal or an error message; a crash, a
// sanitizer report or an exception of an unexpected kind is a finding.
#include "shell/action_table.hpp"
#include "window/shell.hpp"
#include "window/window_env.hpp"
#include "window_model/memory_gui.hpp"
#include "window_model/memory_window.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include <unistd.h>

using namespace quillan;

namespace {

const std::string& scratch_folder() {
    static const std::string folder = [] {
        char name[] = "/tmp/quillan-fuzz-load-XXXXXX";
        if (!::mkdtemp(name)) std::abort();
        return std::string(name) + "/";
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Every analysis of the action table, chosen by the first byte.
    static const std::vector<const ActionRow*> analyses = analysis_rows();
    const char* action = analyses[data[0] % analyses.size()]->name;
    const double model = 1 + data[1] % 5;
    std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string_view files[3];
    for (int i = 0; i < 3; ++i) {
        const auto nul = rest.find('\0');
        files[i] = rest.substr(0, nul);
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }

    MemoryGui gui;
    build_memory_window(gui);
    std::ostringstream trace;
    Console console(trace);
    Shell shell(gui, console);
    shell.options().seed = 1;
    shell.options().threads = 1;
    const char* const names[] = {"lm.txt", "groups.txt", "cov.txt"};
    const char* const loads[] = {"Load", "LoadGlist", "LoadClist"};
    for (int i = 0; i < 3; ++i) {
        if (files[i].empty()) continue;
        std::ofstream(scratch_folder() + names[i], std::ios::binary | std::ios::trunc) << files[i];
        gui.queue_open_answer(FileChoice{names[i], scratch_folder()});
        const Outcome o = shell.quillan_action(loads[i]);
        if (o != Outcome::Done && o != Outcome::Failed) std::abort();
    }
    gui.set(gui.findobj_tag(kPermBox).front(), "String", Value("5"));
    gui.set(gui.findobj_tag(kCovBox).front(), "Value", Value(model));
    const Outcome o = shell.quillan_action(action);
    // An unexpected exception is caught by the dispatcher too, but is a bug.
    if (shell.last_message().rfind("Unexpected error", 0) == 0) std::abort();
    if (o == Outcome::Unknown) std::abort();
    return 0;
}
