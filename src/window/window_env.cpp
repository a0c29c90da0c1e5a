#include "window/window_env.hpp"

namespace quillan {

Handle find_control(Gui& gui, const char* tag) {
    auto found = gui.findobj_tag(tag);
    if (found.empty()) throw QuillanError(std::string("The window has no control tagged ") + tag + ".");
    return found.front();
}

std::string window_permutation_text(Gui& gui) {
    Value v = gui.get(find_control(gui, kPermBox), "String");
    if (v.is_text()) return v.text();
    auto lines = string_lines(v);
    return lines.empty() ? std::string() : lines.front();
}

double window_covariate_entry(Gui& gui) {
    Value v = gui.get(find_control(gui, kCovBox), "Value");
    if (!v.is_matrix() || v.matrix().size() == 0) throw QuillanError("The covariate model box has no selection.");
    return v.matrix()(0, 0);
}

void WindowChannel::show_report(const std::string& text) {
    const Handle h = find_control(gui_, kResultsBox);
    console_.echo("h", h);
    gui_.set(h, "String", Value(text));
}

}  // namespace quillan
