// What an action may see and do.  An analysis reads the workspace and the two
// parameter boxes, echoes to the console, shows message windows, may pause
// for a key and finally sets its report; it reaches the window only through
// this class, which finds the tagged controls afresh every time.
#pragma once

#include "io/record.hpp"
#include "platform/error.hpp"
#include "platform/gui.hpp"
#include "shell/console.hpp"
#include "shell/workspace.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quillan {

// A design refusal: the action shows the text in a message window without a
// title and ends; no report is produced and nothing else changes.
class Refused : public QuillanError {
public:
    explicit Refused(const std::string& text) : QuillanError(text) {}
};

struct RunOptions {
    // Seed of the random permutations; without one every run draws afresh.
    std::optional<std::uint64_t> seed;
    // Worker threads for the permutations; 0 uses every core.
    int threads = 0;
    // Called now and then on the action's own thread while permutations run,
    // with the permutations done and in all; returning false cancels the
    // action.  The desktop program keeps its window painting from here.
    std::function<bool(long long done, long long total)> progress;
};

// Tags of the four controls the actions address.
inline constexpr const char* kFileBox = "FileBox";
inline constexpr const char* kPermBox = "PermBox";
inline constexpr const char* kCovBox = "CovBox";
inline constexpr const char* kResultsBox = "ResultsBox";

// The refusal texts of the group-list rule.
inline constexpr const char* kOneWayRefusal =
    "You have loaded a group list with multiple columns but are carrying out a One-Way Test.  Please Reload the List and Try again";
inline constexpr const char* kTwoWayRefusal =
    "Sorry Group list has only one column, you have requested a 2-Way Manova.  Please check the file and reload";
inline constexpr const char* kRegressionRefusal =
    "Sorry Group list has only one column, you have requested a 2-Way Regression model.  Please check the file and reload";

class ActionEnv {
public:
    ActionEnv(const Workspace& ws, Gui& gui, Console& console, const RunOptions& options)
        : ws_(ws), gui_(gui), console_(console), options_(options) {}

    const Workspace& ws() const { return ws_; }
    Console& console() { return console_; }
    const RunOptions& options() const { return options_; }

    // Controls, found by Tag each time.
    Handle control(const char* tag);
    std::string perm_box_text();
    double cov_box_value();
    // Sets the report as the whole content of the results box.
    void set_report(const std::string& text);
    bool reported() const { return reported_; }
    // The numbers of the report, for export; filled beside the report.
    ResultRecord& record() { return record_; }

    void message(const std::string& text, const std::string& title = "") { gui_.msgbox(text, title); }
    void pause() { gui_.pause(); }

    // The group-list rule: a one-way design runs only with at most one
    // column, a two-way design only with at least two.
    void require_one_way_list();
    void require_two_way_list(const char* refusal = kTwoWayRefusal);

private:
    const Workspace& ws_;
    Gui& gui_;
    Console& console_;
    const RunOptions& options_;
    bool reported_ = false;
    ResultRecord record_;
};

}  // namespace quillan
