// The main window as the program puts it together: the Plots area, the
// Models and Toolkit pages, the 3-D view, the menu, status line and
// remembered settings, and the one binder that reads an action's options
// from the page of its button.  The program and the whole-window tests build
// it the same way.
#pragma once

#include "gui/main_window.hpp"
#include "gui/models_panel.hpp"
#include "gui/plots_panel.hpp"
#include "gui/qt_gui.hpp"
#include "gui/space_panel.hpp"
#include "gui/toolkit_panel.hpp"

#include <QSettings>

#include <memory>

namespace quillan {

class Program;
class Session;

struct WindowPanels {
    // `settings` may be null (a picture of the window as it first opens).
    WindowPanels(QtGui& gui, Program& program, Session& session, Handle fig, std::unique_ptr<QSettings> settings);
    ~WindowPanels();
    WindowPanels(const WindowPanels&) = delete;
    WindowPanels& operator=(const WindowPanels&) = delete;

    Program& program;
    std::unique_ptr<PlotsPanel> plots;
    std::unique_ptr<ModelsPanel> models;
    std::unique_ptr<ToolkitPanel> toolkit;
    std::unique_ptr<SpacePanel> space;
    std::unique_ptr<MainWindow> main_window;
};

}  // namespace quillan
