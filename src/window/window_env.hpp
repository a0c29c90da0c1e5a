// The analyses' view of the window, implemented on the window-object model:
// the tagged controls are found afresh every time, so an action always sees
// the window as it is now.
#pragma once

#include "analyses/action_env.hpp"
#include "window/gui.hpp"

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

// The text of the permutation box (its first line when it holds several).
std::string window_permutation_text(Gui& gui);
// The selected entry of the covariate model box, 1 for the first.
double window_covariate_entry(Gui& gui);

// An action's messages as message windows, its pauses as the window's, and
// its report as the whole content of the results box.
class WindowChannel final : public RunChannel {
public:
    WindowChannel(Gui& gui, Console& console) : gui_(gui), console_(console) {}
    void message(const std::string& text, const std::string& title) override { gui_.msgbox(text, title); }
    void pause() override { gui_.pause(); }
    void show_report(const std::string& text) override;

private:
    Gui& gui_;
    Console& console_;
};

}  // namespace quillan
