#include "gui/window_panels.hpp"

#include "byname/program.hpp"
#include "gui/option_binder.hpp"
#include "gui/session.hpp"

#include <QPointer>

namespace quillan {

WindowPanels::WindowPanels(QtGui& gui, Program& program, Session& session, Handle fig, std::unique_ptr<QSettings> settings)
    : program(program) {
    QWidget* window = gui.widget(fig);
    plots = std::make_unique<PlotsPanel>(gui, program, session, window);
    models = std::make_unique<ModelsPanel>(program, session, window);
    toolkit = std::make_unique<ToolkitPanel>(window);
    space = std::make_unique<SpacePanel>(program, session, window, [this] { return plots->links(); });
    main_window = std::make_unique<MainWindow>(gui, program, session, window, std::move(settings));
    // Every action's own options come from the page of its button, read when
    // the action starts; a window closed before its shell has none to give.
    program.shell().set_option_source([page = QPointer<QWidget>(window)](const ActionRow& row) {
        return page ? read_page_options(page, row) : GivenOptions{};
    });
}

WindowPanels::~WindowPanels() { program.shell().set_option_source({}); }

}  // namespace quillan
