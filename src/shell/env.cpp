#include "shell/env.hpp"

namespace quillan {

Handle ActionEnv::control(const char* tag) {
    auto found = gui_.findobj_tag(tag);
    if (found.empty()) throw QuillanError(std::string("The window has no control tagged ") + tag + ".");
    return found.front();
}

std::string ActionEnv::perm_box_text() {
    Value v = gui_.get(control(kPermBox), "String");
    if (v.is_text()) return v.text();
    auto lines = string_lines(v);
    return lines.empty() ? std::string() : lines.front();
}

double ActionEnv::cov_box_value() {
    Value v = gui_.get(control(kCovBox), "Value");
    if (!v.is_matrix() || v.matrix().size() == 0) throw QuillanError("The covariate model box has no selection.");
    return v.matrix()(0, 0);
}

void ActionEnv::set_report(const std::string& text) {
    const Handle h = control(kResultsBox);
    console_.echo("h", h);
    gui_.set(h, "String", Value(text));
    reported_ = true;
}

void ActionEnv::require_one_way_list() {
    if (ws_.glist.cols() > 1) throw Refused(kOneWayRefusal);
}

void ActionEnv::require_two_way_list(const char* refusal) {
    if (ws_.glist.cols() < 2) throw Refused(refusal);
}

}  // namespace quillan
