// The library entry of quillan: read a landmark file, run any action of the
// program on it and get back its report and the numbers of its record, as
// quillan-batch would give them.  This header names standard C++ types only,
// so that a binding compiled apart from the program (the Python module, an
// R package) needs nothing else of ours: include it and link
// libquillan_api.so.
//
// A run goes through quillan-batch's own steps: its options are read from
// the action table as its command line reads them, checked as it checks
// them, and run on a shell without a window; nothing here knows an action
// or an option by name.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// What the library exports; everything else in it stays inside.
#if defined(__GNUC__)
#define QUILLAN_API __attribute__((visibility("default")))
#else
#define QUILLAN_API
#endif

namespace quillan::api {

// A column of a file besides the coordinates, one cell per specimen: words
// (a factor) or numbers (a covariate candidate; NaN where a cell is empty).
struct Column {
    std::string name;
    bool numeric = false;
    std::vector<std::string> text;  // when !numeric; "" where a cell is empty
    std::vector<double> numbers;    // when numeric
};

// Landmark data: what read() gives and what a run may take instead of a file.
struct Data {
    int specimens = 0, landmarks = 0, dimensions = 2;
    std::vector<double> coords;  // specimens x landmarks x dimensions, the last index fastest
    // The coordinates read where the caller holds them, in place of
    // `coords`, so that a binding passes NumPy's or R's memory without a
    // copy: coordinate c of landmark l of specimen s is
    // data[s * strides[0] + l * strides[1] + c * strides[2]].  The memory
    // must stay unchanged until the run that reads it returns.
    struct View {
        const double* data = nullptr;
        long long strides[3] = {0, 0, 0};
    } view;
    std::vector<std::string> ids;  // one per specimen, or empty
    std::vector<Column> columns;   // the factors and columns of numbers of the file
    std::string source;            // the file read; "" for data made in memory
    // What reading the file said (read() only): its warnings (a suspect
    // value, a kept line) and its notices (what was estimated or slid).
    std::vector<std::string> warnings, notices;
};

// An option as quillan-batch's command line names it, without "--":
// {"perm", "99"}, {"formula", "species * site"}; a flag is given "true"
// (or "false", the same as not giving it).  An option given twice (factor:
// G1, then G2) is two entries.
struct Option {
    std::string name, value;
};

struct Request {
    std::string action;           // a name or alias of the action table ("RunModel" or "model")
    const Data* data = nullptr;   // imported as --import would import a file; or nullptr
    std::vector<Option> options;  // the action's own and the run's (perm, seed, threads, import's choices, ...)
};

struct Result {
    std::string report;                 // the report (a load's or Clear's: the file box), as quillan-batch prints it
    std::string record_json;            // the numbers of the report, as --json writes them; "" when no report
    std::vector<std::string> messages;  // what quillan-batch writes to standard error: warnings and notes, one a line
    std::string trace;                  // the console trace of the run
};

// Why a run did not complete.  The message is the program's own text.
class QUILLAN_API Error : public std::runtime_error {
public:
    enum Kind {
        Usage,      // the request itself is wrong: an unknown action or option, a value of the wrong kind
        Refused,    // the design or a parameter was refused
        Failed,     // the action failed: an unreadable file, inconsistent data
        Cancelled,  // keep_going answered false
    };
    Error(Kind kind, const std::string& message) : std::runtime_error(message), kind(kind) {}
    Kind kind;
};

// Reads a landmark file with the import's choices (factor, covariate-column,
// id-column, factors, estimate-missing, semilandmarks, ...).  Throws Error.
QUILLAN_API Data read(const std::string& path, const std::vector<Option>& import_options = {});

// Runs one action.  `keep_going` is asked, from any thread, wherever
// quillan-batch looks for Ctrl-C; once it answers false the run stops and
// throws Error{Cancelled}.  Runs are taken one at a time.  Throws Error.
QUILLAN_API Result run(const Request& request, const std::function<bool()>& keep_going = {});

// An option's declaration.  kind: "whole", "number", "choice", "text",
// "flag", "input" (a file read) or "output" (a file written).
struct OptionInfo {
    std::string name, kind, help, fallback;  // fallback: the default as text, "" for none
    std::vector<std::string> choices;        // a choice's words
    bool repeated = false;                   // may be given more than once
};

struct ActionInfo {
    std::string name, alias, description;
    std::string kind;                 // "load", "import", "save", "export", "clear", "analysis" or "console"
    std::string needs;                // what it needs loaded: "landmarks, groups", "nothing", ...
    std::vector<OptionInfo> options;  // its own options, from its row
};

// Every action of the table, in its order.
QUILLAN_API std::vector<ActionInfo> actions();
// The options every run takes besides an action's own: the files to read,
// perm, model, seed, threads, the import's choices, the exports.
QUILLAN_API std::vector<OptionInfo> run_options();
// The import's choices among them, which read() takes.
QUILLAN_API std::vector<OptionInfo> import_options();
// The program's version, as quillan-batch --version gives it.
QUILLAN_API std::string version();

}  // namespace quillan::api
