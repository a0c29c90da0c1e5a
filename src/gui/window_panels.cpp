#include "gui/window_panels.hpp"

#include "gui/option_binder.hpp"
#include "gui/session.hpp"
#include "window/program.hpp"

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QPointer>

namespace quillan {

namespace {

// Save report writes the report box as it is: with nothing in it (only its
// guide, a placeholder) there is nothing to save.
void offer_saving_only_a_report(QWidget* window) {
    auto* box = window ? window->findChild<QPlainTextEdit*>(QStringLiteral("ResultsBox")) : nullptr;
    if (!box) return;
    for (auto* button : window->findChildren<QAbstractButton*>()) {
        if (button->property("action").toString() != QStringLiteral("SaveOut")) continue;
        button->setEnabled(!box->document()->isEmpty());
        QObject::connect(box, &QPlainTextEdit::textChanged, button,
                         [box, button] { button->setEnabled(!box->document()->isEmpty()); });
    }
}

}  // namespace

WindowPanels::WindowPanels(QtGui& gui, Program& program, Session& session, Handle fig, std::unique_ptr<QSettings> settings)
    : program(program) {
    QWidget* window = gui.widget(fig);
    plots = std::make_unique<PlotsPanel>(gui, program, session, window);
    models = std::make_unique<ModelsPanel>(program, session, window);
    toolkit = std::make_unique<ToolkitPanel>(window);
    space = std::make_unique<SpacePanel>(program, session, window, [this] { return plots->links(); });
    main_window = std::make_unique<MainWindow>(gui, program, session, window, std::move(settings));
    describe_run_option_controls(window);
    offer_saving_only_a_report(window);
    // Every action's own options come from the page of its button, read when
    // the action starts; a window closed before its shell has none to give.
    program.shell().set_option_source([page = QPointer<QWidget>(window)](const ActionRow& row) {
        return page ? read_page_options(page, row) : GivenOptions{};
    });
}

WindowPanels::~WindowPanels() { program.shell().set_option_source({}); }

}  // namespace quillan
