#include "window/program.hpp"

#include "platform/error.hpp"
#include "window/operations.hpp"
#include "window/window_utils.hpp"

#include <new>

namespace quillan {

const std::vector<std::pair<std::string, std::string>>& main_window_callbacks() {
    static const std::vector<std::pair<std::string, std::string>> table = {
        {"edit1_Callback", "edit1 Callback not implemented yet."},
        {"pushbutton1_Callback", "pushbutton1 Callback not implemented yet."},
        {"edit2_Callback", "edit2 Callback not implemented yet."},
        {"pushbutton2_Callback", "pushbutton2 Callback not implemented yet."},
        {"pushbutton3_Callback", "pushbutton3 Callback not implemented yet."},
        {"pushbutton4_Callback", "pushbutton4 Callback not implemented yet."},
        {"pushbutton5_Callback", "pushbutton5 Callback not implemented yet."},
        {"pushbutton6_Callback", "pushbutton6 Callback not implemented yet."},
        {"pushbutton7_Callback", "pushbutton7 Callback not implemented yet."},
        {"pushbutton8_Callback", "pushbutton8 Callback not implemented yet."},
        {"pushbutton9_Callback", "pushbutton9 Callback not implemented yet."},
        {"listbox1_Callback", "listbox1 Callback not implemented yet."},
        {"edit3_Callback", "edit3 Callback not implemented yet."},
    };
    return table;
}

Program::Program(Gui& gui, std::ostream& console_out) : gui_(gui), console_(console_out), shell_(gui, console_) {
    // Each callback takes the control, the event data and the handles record
    // (and anything after them) and only says that it has nothing to do yet.
    for (const auto& [name, line] : main_window_callbacks()) {
        callbacks_.add(Operation{name, kAny, kAny, 1, [this, text = line](const std::vector<Value>&, int) -> std::vector<Value> {
                                     console_.line(text);
                                     return {};
                                 }});
    }
    ops_ = build_op_table(shell_, [this](const std::vector<Value>& args, int nargout) { return quillan(args, nargout); });
}

Handle Program::open_main_window() {
    const Handle fig = openfig(gui_, kMainLayout, "reuse");
    gui_.set(fig, "Color", gui_.get(kRoot, "defaultUicontrolBackgroundColor"));
    const Record handles = guihandles(gui_, Value(fig));
    guidata(gui_, Value(fig), Value(handles));
    return fig;
}

std::vector<Value> Program::quillan(const std::vector<Value>& args, int nargout) {
    if (args.empty()) {
        const Handle fig = open_main_window();
        if (nargout > 0) return {Value(fig)};
        return {};
    }
    if (!args.front().is_text()) return {};
    const std::string& name = args.front().text();
    const std::vector<Value> rest(args.begin() + 1, args.end());
    try {
        // The window's own callbacks come first, then every operation of
        // the program.
        if (callbacks_.find(name)) return callbacks_.call(name, rest, nargout);
        return ops_.call(name, rest, nargout);
    } catch (const std::bad_alloc&) {
        console_.line("Not enough memory to complete \"" + name + "\".");
    } catch (const std::exception& e) {
        console_.line(e.what());
    }
    return {};
}

}  // namespace quillan
