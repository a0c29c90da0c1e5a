// The program as a whole, whatever draws its window: the console, the
// dispatcher with its workspace, the table of operations callable by name,
// and the main window operation `quillan`.  The desktop program runs it on
// the Qt backend; the tests run it on the in-memory one.
#pragma once

#include "platform/console.hpp"
#include "window/gui.hpp"
#include "window/optable.hpp"
#include "window/shell.hpp"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

// The base name of the main window's layout file (quillan.fig).
inline constexpr const char* kMainLayout = "quillan";

// The main window's own callback operations and the line each prints.
const std::vector<std::pair<std::string, std::string>>& main_window_callbacks();

class Program {
public:
    // Builds the modules in the order of the operation table; the console
    // writes to `console_out`.
    Program(Gui& gui, std::ostream& console_out);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The main window operation.  With no input it opens the main window
    // (reusing an open one) and, when a result is asked for, returns its
    // handle.  With a text first input it calls the callback or operation of
    // that name with the other inputs, printing the error text on the console
    // instead of failing.  Any other first input does nothing.
    std::vector<Value> quillan(const std::vector<Value>& args, int nargout = 0);
    // `quillan` with no input, returning the window.
    Handle open_main_window();

    Gui& gui() { return gui_; }
    Console& console() { return console_; }
    Shell& shell() { return shell_; }
    const OpTable& operations() const { return ops_; }
    const OpTable& callbacks() const { return callbacks_; }

private:
    Gui& gui_;
    Console console_;
    Shell shell_;
    OpTable callbacks_;
    OpTable ops_;
};

}  // namespace quillan
