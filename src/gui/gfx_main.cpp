#include "gui/gfx_main.hpp"

#include "gui/main_window.hpp"
#include "gui/qt_gui.hpp"
#include "gui/session.hpp"
#include "gui/window_panels.hpp"
#include "platform/atomic_file.hpp"
#include "platform/error.hpp"
#include "platform/version.hpp"
#include "window/program.hpp"

#include <QApplication>
#include <QBuffer>
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
    "  --version           show the version\n"
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
    // The picture is made in memory and saved like every other file the
    // program writes, so a failed save leaves an existing file as it was.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!w->grab().save(&buffer, "PNG")) {
        std::cerr << "quillan: cannot make a picture for " << file << '\n';
        return false;
    }
    try {
        write_file_atomically(file, std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
    } catch (const QuillanError& e) {
        std::cerr << "quillan: " << e.what() << '\n';
        return false;
    }
    return true;
}

// Qt's own command-line options that take a value: skipped when looking for
// --help and --version before the application object exists.
bool qt_option_with_value(const std::string& a) {
    static const char* const names[] = {
        "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-qwindowtitle", "-qwindowicon",
        "-display",  "-geometry",           "-title",         "-name",   "-style",           "-stylesheet",   "-session"};
    for (const char* n : names)
        if (a == n || a == std::string("-") + n) return true;
    return false;
}

// --help and --version are answered before the application object is made,
// because making it needs a display: both must work on a machine without
// one (a server, a build that makes the man page).  Returns the exit status
// when one of them was asked for.
std::optional<int> answer_without_display(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--version") {
            std::cout << "quillan " << version_text() << '\n';
            return 0;
        }
        if (a == "--screenshot" || qt_option_with_value(a)) {
            ++i;
            continue;
        }
        if (a.empty() || a[0] != '-') break;  // an operation: its texts are its own
    }
    return std::nullopt;
}

}  // namespace

int gfx_main(int& argc, char** argv) {
    if (auto status = answer_without_display(argc, argv)) return *status;
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
    // An operation called from the command line may end the program before
    // any message window it opens is seen: its messages go to standard
    // output as well.
    if (!texts.empty())
        gui.set_message_observer(
            [&program](const QtGui::Message& m) { program.console().line(m.title.empty() ? m.text : m.title + ": " + m.text); });

    try {
        program.quillan(texts, 0);
    } catch (const std::exception& e) {
        // Without its window the program has nothing to do.
        program.console().line(e.what());
        return 1;
    }
    // The panels of the main window, if its layout opened one; a picture
    // for the documentation shows the window as it first opens.
    std::unique_ptr<WindowPanels> panels;
    if (auto fig = gui.gcf())
        panels = std::make_unique<WindowPanels>(gui, program, session, *fig, screenshot ? nullptr : open_settings());
    if (screenshot) return save_screenshot(gui, *screenshot) ? 0 : 1;
    if (gui.windows().empty()) return 0;  // a called operation opened no window
    return QApplication::exec();
}

int quillan_mainhg(int argc, char** argv) { return gfx_main(argc, argv); }

}  // namespace quillan
