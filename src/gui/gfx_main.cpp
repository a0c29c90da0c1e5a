#include "gui/gfx_main.hpp"

#include "gui/plots_panel.hpp"
#include "gui/qt_gui.hpp"
#include "gui/session.hpp"
#include "shell/program.hpp"

#include <QApplication>
#include <QPixmap>
#include <QThread>

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillan {

namespace {

constexpr const char* kUsage =
    "Usage: quillan [--screenshot FILE] [OPERATION [TEXT...]]\n"
    "\n"
    "Opens the quillan window (landmark shape statistics).  The layout file quillan.fig\n"
    "is read from the folder of the program, else from ../share/quillan beside it.\n"
    "\n"
    "  --screenshot FILE   open the window, save a picture of it as PNG and end\n"
    "  OPERATION TEXT...   instead of opening the window, call a named operation or\n"
    "                      window callback with the texts given, for example\n"
    "                      quillan edit1_Callback\n"
    "  --help              show this text\n"
    "\n"
    "Status lines, echoed values and error texts are printed on standard output.\n";

// Saves a picture of the main window once it has been laid out and painted.
bool save_screenshot(QtGui& gui, const std::string& file) {
    const auto fig = gui.gcf();
    QWidget* w = fig ? gui.widget(*fig) : nullptr;
    if (!w) {
        std::cerr << "quillan: there is no window to take a picture of\n";
        return false;
    }
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    if (!w->grab().save(QString::fromStdString(file), "PNG")) {
        std::cerr << "quillan: cannot write " << file << '\n';
        return false;
    }
    return true;
}

}  // namespace

int gfx_main(int& argc, char** argv) {
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("quillan"));

    std::optional<std::string> screenshot;
    std::vector<Value> texts;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (texts.empty() && (a == "--help" || a == "-h")) {
            std::cout << kUsage;
            return 0;
        }
        if (texts.empty() && a == "--screenshot") {
            if (i + 1 >= argc) {
                std::cerr << "quillan: --screenshot needs a file name\n" << kUsage;
                return 64;
            }
            screenshot = argv[++i];
            continue;
        }
        texts.emplace_back(a);
    }

    // The modules, in the order of the operation table; they are released
    // in the opposite order when this routine returns.
    QtGui gui;
    Program program(gui, std::cout);
    Session session(gui, program);

    try {
        program.quillan(texts, 0);
    } catch (const std::exception& e) {
        // Without its window the program has nothing to do.
        program.console().line(e.what());
        return 1;
    }
    // The Plots area of the main window, if its layout has one.
    std::unique_ptr<PlotsPanel> plots;
    if (auto fig = gui.gcf()) plots = std::make_unique<PlotsPanel>(gui, program, session, gui.widget(*fig));
    if (screenshot) return save_screenshot(gui, *screenshot) ? 0 : 1;
    if (gui.windows().empty()) return 0;  // a called operation opened no window
    return QApplication::exec();
}

int quillan_mainhg(int argc, char** argv) { return gfx_main(argc, argv); }

}  // namespace quillan
