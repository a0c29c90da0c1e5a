// The one table of actions.  Each row is one action of the window and of
// quillan-batch: its name for the dispatcher, its batch alias, what runs it,
// what it does in a line, what it needs loaded and whether it writes a
// report.  The dispatcher, the batch aliases and the batch help all read this
// table, so adding an action means adding its row (in action_table.cpp) and
// its own file.
#pragma once

#include "analyses/action_env.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace quillan {

class Shell;

// What must be loaded before an action can do its work (the action itself
// checks and says what is missing; this is for help texts and front ends).
enum Needs : unsigned {
    kNeedsNothing = 0,
    kNeedsLandmarks = 1u << 0,
    kNeedsGroups = 1u << 1,
    kNeedsCovariate = 1u << 2,
};

// An analysis reads the workspace through an ActionEnv; a shell step
// (loading, saving, clearing) changes the shell's own state.
using AnalysisFn = void (*)(ActionEnv&);
using ShellStep = void (*)(Shell&);

struct ActionRow {
    const char* name;      // what the window's control hands the dispatcher; compared exactly
    const char* alias;     // the lower-case name quillan-batch also accepts
    ShellStep shell_step;  // exactly one of shell_step and analysis is set
    AnalysisFn analysis;
    const char* description;  // one line, for help texts
    unsigned needs;           // Needs flags
    bool writes_report;       // sets the results box
};

// Every action, in the order the dispatcher compares their names.
const std::vector<ActionRow>& action_table();

// The row named `name` exactly, or nullptr.
const ActionRow* find_action(std::string_view name);
// The row whose name or alias is `word`, or nullptr.
const ActionRow* find_action_or_alias(std::string_view word);

// The action names, in table order.
const std::vector<std::string>& action_names();

// "landmarks, groups" and the like; "nothing" for an empty set.
std::string describe_needs(unsigned needs);

}  // namespace quillan
