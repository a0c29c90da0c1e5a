// The analyses' view of the window, implemented on the window-object model:
// the tagged controls are found afresh every time, so an action always sees
// the window as it is now.
#pragma once

#include "analyses/action_env.hpp"
#include "platform/gui.hpp"

#include <string>

namespace quillan {

// Tags of the four controls the actions address.
inline constexpr const char* kFileBox = "FileBox";
inline constexpr const char* kPermBox = "PermBox";
inline constexpr const char* kCovBox = "CovBox";
inline constexpr const char* kResultsBox = "ResultsBox";

// The first control tagged `tag`; fails with a message naming the tag when
// the window has none (a layout file without it).
Handle find_control(Gui& gui, const char* tag);

class WindowActionEnv final : public ActionEnv {
public:
    WindowActionEnv(const Workspace& ws, Gui& gui, Console& console, const RunOptions& options)
        : ws_(ws), gui_(gui), console_(console), options_(options) {
        options_.seeds = &record().run.seeds;
    }

    const Workspace& ws() const override { return ws_; }
    Console& console() override { return console_; }
    const RunOptions& options() const override { return options_; }

    std::string perm_box_text() override;
    double cov_box_value() override;
    void set_report(const std::string& text) override;
    using ActionEnv::message;
    void message(const std::string& text, const std::string& title) override { gui_.msgbox(text, title); }
    void pause() override { gui_.pause(); }

    // Whether the action set a report.
    bool reported() const { return reported_; }

private:
    const Workspace& ws_;
    Gui& gui_;
    Console& console_;
    RunOptions options_;  // the shell's, noting the seeds in this action's record
    bool reported_ = false;
};

}  // namespace quillan
