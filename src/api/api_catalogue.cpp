// What the library entry offers, from the tables: the actions with their
// own options, the options of a run, and the words of a command line made
// from a request's options.
#include "api/api_internal.hpp"
#include "batch/batch_steps.hpp"
#include "platform/version.hpp"
#include "shell/action_table.hpp"
#include "shell/run_option_table.hpp"

#include <algorithm>
#include <set>

namespace quillan::api {

namespace {

const char* kind_word(OptionKind kind) {
    switch (kind) {
        case OptionKind::Whole:
            return "whole";
        case OptionKind::Number:
            return "number";
        case OptionKind::Choice:
            return "choice";
        case OptionKind::Flag:
            return "flag";
        case OptionKind::InputFile:
            return "input";
        case OptionKind::OutputFile:
            return "output";
        case OptionKind::Text:
            break;
    }
    return "text";
}

const char* kind_word(ActionKind kind) {
    switch (kind) {
        case ActionKind::Load:
            return "load";
        case ActionKind::Import:
            return "import";
        case ActionKind::Save:
            return "save";
        case ActionKind::Export:
            return "export";
        case ActionKind::Clear:
            return "clear";
        case ActionKind::ConsoleOnly:
            return "console";
        case ActionKind::Analysis:
            break;
    }
    return "analysis";
}

OptionInfo info_of(const OptionDecl& decl) {
    OptionInfo info{decl.name, kind_word(decl.kind), decl.help, decl.fallback, {}, false};
    info.choices.assign(decl.choices.begin(), decl.choices.end());
    return info;
}

// The run options a caller of the library has no use for: the lists and
// the progress bar answer a terminal, the trace and log are in the result,
// the pictures need the picture module of a program, and the conversion's
// prefix belongs to convert, which is no action.
bool offered(RunOption id) {
    static const std::set<RunOption> left_out = {
        RunOption::Action,     RunOption::File,     RunOption::List,       RunOption::ListNames,    RunOption::ListOptions,
        RunOption::ListValues, RunOption::Progress, RunOption::NoProgress, RunOption::Quiet,        RunOption::Trace,
        RunOption::Log,        RunOption::Plots,    RunOption::Links,      RunOption::PlotsGroupBy, RunOption::PlotSize,
        RunOption::PlotDpi,    RunOption::OutPrefix};
    return left_out.count(id) == 0;
}

bool imports(RunOption id) { return id >= RunOption::Factor && id <= RunOption::SlideStrict; }

OptionInfo info_of(const RunOptionDecl& decl, const std::map<std::string, std::string>& defaults) {
    const std::string name = run_flag(decl.id).substr(2);
    OptionInfo info{name, kind_word(decl.kind), decl.help, {}, {}, decl.repeated};
    if (const auto it = defaults.find(name); it != defaults.end()) info.fallback = it->second;
    info.choices.assign(decl.choices.begin(), decl.choices.end());
    return info;
}

}  // namespace

std::vector<ActionInfo> actions() {
    std::vector<ActionInfo> list;
    for (const ActionRow& row : action_table()) {
        ActionInfo info{row.name, row.alias, row.description, kind_word(row.kind), describe_needs(row.needs), {}};
        for (const OptionDecl& decl : row.options) info.options.push_back(info_of(decl));
        list.push_back(std::move(info));
    }
    return list;
}

std::vector<OptionInfo> run_options() {
    const auto defaults = batch::run_option_defaults();
    std::vector<OptionInfo> list;
    for (const RunOptionDecl& decl : run_option_table())
        if (offered(decl.id)) list.push_back(info_of(decl, defaults));
    return list;
}

std::vector<OptionInfo> import_options() {
    const auto defaults = batch::run_option_defaults();
    std::vector<OptionInfo> list;
    for (const RunOptionDecl& decl : run_option_table())
        if (imports(decl.id)) list.push_back(info_of(decl, defaults));
    for (const DeclaredOption& d : declared_options())
        if (d.decl->for_imports) list.push_back(info_of(*d.decl));
    return list;
}

std::vector<OptionInfo> run_and_action_options() {
    std::vector<OptionInfo> list = run_options();
    for (const DeclaredOption& d : declared_options()) list.push_back(info_of(*d.decl));
    return list;
}

std::string version() { return version_text(); }

CommandLine::CommandLine(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string& word : words_) pointers_.push_back(word.data());
}

std::vector<std::string> command_words(const std::string& action, const std::vector<Option>& options,
                                       const std::vector<OptionInfo>& allowed) {
    std::vector<std::string> words = {"quillan-batch"};
    if (!action.empty()) {
        // A word that looks like an option would be read as one.
        if (action[0] == '-') throw Error(Error::Usage, "unknown action \"" + action + "\"; see actions() for the names");
        words.push_back(action);
    }
    for (const Option& option : options) {
        const auto known =
            std::find_if(allowed.begin(), allowed.end(), [&](const OptionInfo& o) { return o.name == option.name; });
        if (known == allowed.end())
            throw Error(Error::Usage,
                        "--" + option.name + " is not an option of " + (action.empty() ? "reading a file" : "a run"));
        if (known->kind != "flag") {
            words.push_back("--" + option.name + "=" + option.value);
            continue;
        }
        if (option.value == "true" || option.value.empty()) words.push_back("--" + option.name);
        else if (option.value != "false")
            throw Error(Error::Usage, "--" + option.name + " is a flag: true or false, not \"" + option.value + "\"");
    }
    return words;
}

}  // namespace quillan::api
