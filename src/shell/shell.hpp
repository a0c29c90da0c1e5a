// The dispatcher and its workspace.  Every control of the window hands an
// action name to `quillan_action`; it compares the name with its table in
// order, runs the first match and otherwise shows "Fell through case".
#pragma once

#include "platform/gui.hpp"
#include "shell/console.hpp"
#include "shell/env.hpp"
#include "shell/workspace.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

// How an action ended, for front ends that need to know (the batch exit
// status); the window itself shows everything through its boxes and
// message windows.
enum class Outcome {
    Done,       // finished without a report (loads, saving, clearing, console-only actions)
    Reported,   // an analysis set its report
    Refused,    // a design refusal or invalid parameter: message window, nothing changed
    Failed,     // an error: console and message window, nothing changed
    Cancelled,  // the user cancelled a long action: nothing changed
    Unknown,    // the name is not an action ("Fell through case")
};

// The 18 action names, in the order they are compared.
const std::vector<std::string>& action_names();

class Shell {
public:
    Shell(Gui& gui, Console& console) : gui_(gui), console_(console) {}

    Outcome quillan_action(const std::string& action);

    Workspace& workspace() { return ws_; }
    const Workspace& workspace() const { return ws_; }
    RunOptions& options() { return options_; }
    Gui& gui() { return gui_; }
    Console& console() { return console_; }
    // Text of the last error or refusal, for front ends.
    const std::string& last_message() const { return last_message_; }

    // Import and export, beside the 18 actions (io_actions.cpp).  The window
    // runs them as the actions "Import", "ChooseGroups", "ExportResults" and
    // "ExportSpecimens"; the batch front end also calls the writers directly.
    static bool is_io_action(const std::string& action);
    io::ImportOptions& import_options() { return import_options_; }
    // The numbers of the last report; empty until an analysis reports.
    const ResultRecord& last_record() const { return last_record_; }
    void write_results(const std::string& path, bool csv);  // tidy CSV or JSON
    void write_specimens(const std::string& path);

private:
    void load();
    void load_glist();
    void load_clist();
    void save_out();
    void clear();
    Handle control(const char* tag);
    void set_file_box(const std::string& text);
    void io_action(const std::string& action);
    void import_data();
    void apply_import(const io::ImportedData& d);
    void choose_groups();
    void show_legend();
    void keep_record(ActionEnv& env, const std::string& action);

    Gui& gui_;
    Console& console_;
    Workspace ws_;
    RunOptions options_;
    std::string last_message_;
    io::ImportOptions import_options_;
    ResultRecord last_record_;
};

// What a load reads: the table and, when the file went on after the table
// ended, how many lines were left out and where the table ended.
struct LoadedTable {
    Matrix x;
    int ignored_lines = 0;  // non-blank lines after the end of the table
    int end_line = 0;       // 1-based number of the line that ended the table
};

// Reads a text file of numbers into a table (one specimen per line).  Fails
// with a message naming the file and the line when a line cannot be stored.
LoadedTable dload_file(const std::string& path);
// The same for a caller by name: just the table.
Matrix dload(const std::string& path);

// Asks for a file and reads it; std::nullopt when the dialog is cancelled.
// The chosen folder becomes the current directory.
struct MfloadResult {
    LoadedTable table;
    std::string fn;  // file name without its folder
    std::string path;
};
std::optional<MfloadResult> mfload(Gui& gui);

// Writes the lines of the results box the way "SaveOut" does: each line
// preceded by a line feed and a blank.  The file is written beside the target
// and renamed over it, so a failed save leaves an existing file whole.
void write_report_file(const std::string& path, const std::vector<std::string>& lines);

}  // namespace quillan
