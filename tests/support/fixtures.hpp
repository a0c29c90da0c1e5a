// Shared pieces of the tests: a scratch folder, and a shell wired to an
// in-memory window whose dialogs the test answers.
#pragma once

// Whether AddressSanitizer is built in: g++ defines __SANITIZE_ADDRESS__,
// clang answers __has_feature(address_sanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define QUILLAN_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLAN_TEST_UNDER_ASAN 1
#endif
#endif
#ifndef QUILLAN_TEST_UNDER_ASAN
#define QUILLAN_TEST_UNDER_ASAN 0
#endif

#include "window/shell.hpp"
#include "window/window_env.hpp"
#include "window_model/memory_gui.hpp"
#include "window_model/memory_window.hpp"

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace quillan::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string folder() const { return path_.string() + "/"; }  // with its separator, as dialogs return it
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // How many entries the folder holds (a temporary file left behind shows).
    int entries() const;
    // Writes the bytes given to a file of this folder and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path path_;
};

std::string read_bytes(const std::string& path);
std::string data_file(const std::string& name);  // a file of the bundled example data

// A shell driving an in-memory main window.
struct Harness {
    MemoryGui gui;
    std::ostringstream console_text;
    Console console{console_text};
    Shell shell{gui, console};
    Handle window;

    Harness();
    // Runs an action with the open-file dialog answered by a path.
    Outcome load(const std::string& action, const std::string& path);
    // Runs "SaveOut" with the save dialog answered by a path.
    Outcome save(const std::string& path);
    Outcome run(const std::string& action) { return shell.quillan_action(action); }

    std::string box(const char* tag);  // "String" of a tagged control, as text
    void set_box(const char* tag, const Value& v);
    std::string last_message() const;
};

// The text of the results box: the report of the last analysis.
std::string report_of(Harness& h);

// Bundled example files for a harness to load, named as in data/, and the
// seed and permutation count to run with.  Written with the names, as in
// Loaded h({.groups = "plethodon.groups.txt", .seed = 7}).
struct Example {
    std::string landmarks = "plethodon.lm.txt";
    std::string groups;
    std::string covariate;  // none when empty
    std::uint64_t seed = 2024;
    std::string perms = "999";
    int dimensions = 2;  // coordinates per landmark of the landmark file
};

// The bundled plethodon table with the first landmark of each of `ids`
// moved `by` units, written into `dir` (as misplaced.csv).
std::string misplaced_plethodon(const TempDir& dir, const std::vector<std::string>& ids, double by = 4);

// A harness that has loaded an example through the window's own load
// actions and set its seed and permutation count.
struct Loaded : Harness {
    explicit Loaded(const Example& example);
};

}  // namespace quillan::test

namespace quillan::test {

// Compares a whole report with the reviewed text in tests/expected/NAME.
// With QUILLAN_UPDATE_EXPECTED=1 in the environment the file is written
// instead (review the difference before committing it).
void expect_report(const std::string& name, const std::string& report);

// The rows of a CSV file of tests/expected (PATH below that folder), its
// header first, each cell as text.
std::vector<std::vector<std::string>> expected_csv(const std::string& path);
// The same of a file of numbers, its header left out.
std::vector<std::vector<double>> expected_numbers(const std::string& path);

// Puts tables straight into the workspace with file descriptions as the
// loads would write them.
void put_tables(Shell& shell, const Matrix& data, const Matrix& glist, const Matrix& clist = Matrix());

}  // namespace quillan::test
