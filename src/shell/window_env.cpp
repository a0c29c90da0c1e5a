#include "shell/window_env.hpp"

namespace quillan {

Handle find_control(Gui& gui, const char* tag) {
    auto found = gui.findobj_tag(tag);
    if (found.empty()) throw QuillanError(std::string("The window has no control tagged ") + tag + ".");
    return found.front();
}

std::string WindowActionEnv::perm_box_text() {
    Value v = gui_.get(find_control(gui_, kPermBox), "String");
    if (v.is_text()) return v.text();
    auto lines = string_lines(v);
    return lines.empty() ? std::string() : lines.front();
}

double WindowActionEnv::cov_box_value() {
    Value v = gui_.get(find_control(gui_, kCovBox), "Value");
    if (!v.is_matrix() || v.matrix().size() == 0) throw QuillanError("The covariate model box has no selection.");
    return v.matrix()(0, 0);
}

void WindowActionEnv::set_report(const std::string& text) {
    const Handle h = find_control(gui_, kResultsBox);
    console_.echo("h", h);
    gui_.set(h, "String", Value(text));
    reported_ = true;
}

}  // namespace quillan
