// What every window test starts from: the real layout, the Qt backend, the
// program and the session behind the main window, with the console captured,
// and the lookups the tests share.  A test class derives from WindowRig
// (and declares Q_OBJECT itself).
#pragma once

#include "gui/main_window.hpp"
#include "gui/plots_panel.hpp"
#include "gui/qt_gui.hpp"
#include "gui/session.hpp"
#include "gui/window_panels.hpp"
#include "window/program.hpp"

#include <QAbstractButton>
#include <QObject>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

namespace quillan::test {

class WindowRig : public QObject {
protected:
    static inline const std::string kData = QUILLAN_DATA_DIR;
    static inline const std::string kLandmarks = kData + "/plethodon.lm.txt";
    static inline const std::string kGroups = kData + "/plethodon.species.groups.txt";
    static inline const std::string kCovariate = kData + "/plethodon.cov.txt";

    std::unique_ptr<QtGui> gui;
    std::unique_ptr<std::ostringstream> console;
    std::unique_ptr<Program> program;
    std::unique_ptr<Session> session;
    Handle fig = 0;
    std::filesystem::path start_dir = std::filesystem::current_path();

    // A fresh program with its main window shown.
    void open_window() {
        gui = std::make_unique<QtGui>();
        gui->set_layout_dirs({QUILLAN_LAYOUT_DIR});
        console = std::make_unique<std::ostringstream>();
        program = std::make_unique<Program>(*gui, *console);
        session = std::make_unique<Session>(*gui, *program);
        fig = program->open_main_window();
        QVERIFY(QTest::qWaitForWindowExposed(gui->widget(fig)));
    }
    // Releases them in the opposite order and goes back to the folder the
    // test started in (a load may change it).
    void close_window() {
        session.reset();
        program.reset();
        gui.reset();
        std::filesystem::current_path(start_dir);
    }

    QWidget* tagged(const char* tag) {
        const auto found = gui->findobj_tag(tag);
        return found.empty() ? nullptr : gui->widget(found.front());
    }
    // The button that sends an action.
    QAbstractButton* action_button(const std::string& action) {
        for (auto* b : gui->widget(fig)->findChildren<QAbstractButton*>())
            if (b->property("action").toString().toStdString() == action) return b;
        return nullptr;
    }
    // A control of the main window by its object name.
    template <class T = QWidget>
    T* named(const char* name) {
        return gui->widget(fig)->findChild<T*>(QString::fromLatin1(name));
    }
    void press(const char* button) { QTest::mouseClick(named<QPushButton>(button), Qt::LeftButton); }
    // File dialogs answer with `answer` once answer_dialogs() is called;
    // load() sets it to a bundled example file and presses the button.
    std::string answer;
    void answer_dialogs() {
        gui->set_dialog_hook([this](const QtGui::DialogRequest&) -> std::optional<std::string> { return answer; });
    }
    void load(const char* button, const std::string& file) {
        answer = std::string(QUILLAN_DATA_DIR) + "/" + file;
        press(button);
    }
    // Presses the button of an action with the file dialog answered by `path`.
    void press_with_file(const std::string& action, const std::string& path) {
        gui->set_dialog_hook([path](const QtGui::DialogRequest&) -> std::optional<std::string> { return path; });
        QTest::mouseClick(action_button(action), Qt::LeftButton);
        gui->set_dialog_hook({});
    }
    // The plethodon landmarks and `groups` loaded through the dialogs, with
    // `perms` permutations set.
    void load_plethodon(const std::string& groups, const char* perms) {
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", groups);
        set_text(kPermBox, perms);
    }
    void click(const std::string& action) { QTest::mouseClick(action_button(action), Qt::LeftButton); }
    std::string text_of(const char* tag) { return gui->get(gui->findobj_tag(tag).front(), "String").text(); }
    void set_text(const char* tag, const std::string& text) { gui->set(gui->findobj_tag(tag).front(), "String", Value(text)); }
};

// The window with its menu, status line and remembered settings (in a
// settings file of a scratch folder), and the Plots area when asked for.
class MainWindowRig : public WindowRig {
protected:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<PlotsPanel> plots;
    std::unique_ptr<MainWindow> window;
    bool with_plots = false;

    QString settings_file() const { return dir->filePath("quillan.ini"); }
    // A fresh program, as after a restart, on the same settings file.
    void start() {
        window.reset();
        plots.reset();
        close_window();
        open_window();
        if (with_plots) plots = std::make_unique<PlotsPanel>(*gui, *program, *session, gui->widget(fig));
        window = std::make_unique<MainWindow>(*gui, *program, *session, gui->widget(fig),
                                              std::make_unique<QSettings>(settings_file(), QSettings::IniFormat));
    }
    void start_in_a_scratch_folder() {
        dir = std::make_unique<QTemporaryDir>();
        start();
    }
    void stop() {
        window.reset();
        plots.reset();
        close_window();
    }
};

// The whole window as the program builds it: every panel, the menu and the
// binder that reads each action's options from the page of its button, on a
// settings file of a scratch folder.
class WholeWindowRig : public WindowRig {
protected:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<WindowPanels> panels;

    void open_whole_window() {
        open_window();
        dir = std::make_unique<QTemporaryDir>();
        panels = std::make_unique<WindowPanels>(*gui, *program, *session, fig,
                                                std::make_unique<QSettings>(dir->filePath("quillan.ini"), QSettings::IniFormat));
    }
    void close_whole_window() {
        panels.reset();
        close_window();
    }
};

}  // namespace quillan::test
