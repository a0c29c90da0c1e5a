// The desktop window as its users meet it, on the real layout file with the
// Qt backend, the session that runs the actions and the dispatcher behind
// it, on Qt's offscreen platform.  Each class below is one view of it; all
// run in one program (give test function names to run only those).
#include "analyses/action_env.hpp"
#include "gui/console_key.hpp"
#include "gui/main_window.hpp"
#include "gui/models_panel.hpp"
#include "gui/option_binder.hpp"
#include "gui/plots_panel.hpp"
#include "gui/qt_gui.hpp"
#include "gui/session.hpp"
#include "gui/space_panel.hpp"
#include "gui/toolkit_panel.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"
#include "support/window_rig.hpp"
#include "window/program.hpp"
#include "window/shell.hpp"
#include "window/window_env.hpp"
#include "window/window_utils.hpp"
#include "window_model/memory_window.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QSvgRenderer>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <Eigen/Geometry>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace quillan;
using quillan::test::error_of;
using quillan::test::read_bytes;

// The desktop window as a user meets it: the real layout file, the Qt
// backend, the session that runs the actions, and the dispatcher behind it.
class MainWindowTest : public quillan::test::WindowRig {
    Q_OBJECT

private:
    QString box_text(const char* tag) { return QString::fromStdString(gui->get(gui->findobj_tag(tag).front(), "String").text()); }
    std::vector<std::string> console_lines() {
        std::vector<std::string> out;
        std::istringstream in(console->str());
        for (std::string l; std::getline(in, l);) out.push_back(l);
        console->str("");
        return out;
    }
    // A control on a tab page that is not in front is brought to the front.
    static void show_its_tab(QWidget* w) {
        for (QWidget* page = w; page && page->parentWidget(); page = page->parentWidget())
            if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget()))
                if (tabs->indexOf(page) >= 0) tabs->setCurrentWidget(page);
    }

private slots:
    void init() { open_window(); }
    void cleanup() { close_window(); }

    void everyActionControlSendsItsActionName() {
        std::vector<std::string> sent;
        gui->set_callback_handler([&](const QtGui::CallbackRequest& r) { sent.push_back(r.action); });
        std::multiset<std::string> declared;
        for (Handle h : gui->findall(fig)) {
            QWidget* w = gui->widget(h);
            const QString action = w ? w->property("action").toString() : QString();
            // Import and export controls are checked on their own below.
            if (action.isEmpty() || Shell::is_io_action(action.toStdString())) continue;
            declared.insert(action.toStdString());
            auto* b = qobject_cast<QAbstractButton*>(w);
            QVERIFY2(b, qPrintable(action));
            show_its_tab(b);
            QVERIFY2(b->isVisible() && b->isEnabled(), qPrintable(action));
            QVERIFY2(!b->text().isEmpty() && !b->toolTip().isEmpty(), qPrintable(action));
            sent.clear();
            QTest::mouseClick(b, Qt::LeftButton);
            QCOMPARE(sent, std::vector<std::string>{action.toStdString()});
        }
        std::multiset<std::string> names;
        for (const auto& name : action_names())
            if (!Shell::is_io_action(name)) names.insert(name);
        QCOMPARE(declared, names);
    }

    void importAndExportControlsSitBesideTheFileBox() {
        std::vector<std::string> sent;
        gui->set_callback_handler([&](const QtGui::CallbackRequest& r) { sent.push_back(r.action); });
        for (const char* action : {"Import", "ExportResults", "ExportSpecimens"}) {
            QAbstractButton* b = action_button(action);
            QVERIFY2(b && b->isVisible() && !b->toolTip().isEmpty(), action);
            sent.clear();
            QTest::mouseClick(b, Qt::LeftButton);
            QCOMPARE(sent, std::vector<std::string>{action});
        }
        auto* legend = qobject_cast<QPlainTextEdit*>(tagged("LegendBox"));
        QVERIFY(legend && legend->isReadOnly() && legend->isVisible());
        for (const char* tag : {"G1Choice", "G2Choice", "CovariateChoice"}) {
            auto* c = qobject_cast<QComboBox*>(tagged(tag));
            QVERIFY2(c && c->property("action").toString() == "ChooseGroups", tag);
        }
    }

    void windowHasTheBoxesTheActionsUse() {
        auto* perm = qobject_cast<QLineEdit*>(tagged(kPermBox));
        auto* cov = qobject_cast<QComboBox*>(tagged(kCovBox));
        auto* results = qobject_cast<QPlainTextEdit*>(tagged(kResultsBox));
        auto* files = qobject_cast<QPlainTextEdit*>(tagged(kFileBox));
        QVERIFY(perm && cov && results && files);
        QCOMPARE(perm->text(), QString(kDefaultPermutations));
        QCOMPARE(gui->get(gui->findobj_tag(kPermBox).front(), "String").text(), std::string(kDefaultPermutations));
        QCOMPARE(cov->count(), 5);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(cov->itemText(i).toStdString(), covariate_model_entries()[static_cast<std::size_t>(i)]);
        QVERIFY(results->isReadOnly());
        QVERIFY(results->textInteractionFlags() & Qt::TextSelectableByMouse);
        const QFontMetricsF metrics(results->font());
        QCOMPARE(metrics.horizontalAdvance(QChar('i')), metrics.horizontalAdvance(QChar('M')));
        QCOMPARE(results->lineWrapMode(), QPlainTextEdit::NoWrap);

        // The handles record kept on the window names every tagged control.
        const Value handles = guidata(*gui, Value(fig));
        QVERIFY(handles.is_record());
        for (const char* tag : {kFileBox, kPermBox, kCovBox, kResultsBox, "edit1", "edit2", "edit3", "listbox1"})
            QVERIFY2(handles.record().has(tag), tag);
        for (int i = 1; i <= 9; ++i) QVERIFY(handles.record().has("pushbutton" + std::to_string(i)));
        QCOMPARE(handles.record().find(kResultsBox)->scalar(), gui->findobj_tag(kResultsBox).front());
    }

    void spareControlsRunTheirCallbacks() {
        qobject_cast<QTabWidget*>(tagged("analysisTabs"))->setCurrentWidget(tagged("extrasPage"));
        for (int i = 1; i <= 9; ++i) {
            auto* b = qobject_cast<QAbstractButton*>(tagged(("pushbutton" + std::to_string(i)).c_str()));
            QVERIFY(b);
            QTest::mouseClick(b, Qt::LeftButton);
            QCOMPARE(console_lines(),
                     std::vector<std::string>{"pushbutton" + std::to_string(i) + " Callback not implemented yet."});
        }
        for (int i = 1; i <= 3; ++i) {
            auto* e = qobject_cast<QLineEdit*>(tagged(("edit" + std::to_string(i)).c_str()));
            QVERIFY(e);
            e->setFocus();
            QTest::keyClicks(e, "12");
            QTest::keyClick(e, Qt::Key_Return);
            QCOMPARE(console_lines(), std::vector<std::string>{"edit" + std::to_string(i) + " Callback not implemented yet."});
        }
        auto* list = qobject_cast<QListWidget*>(tagged("listbox1"));
        QVERIFY(list);
        list->addItems({"a", "b"});
        list->setCurrentRow(1);
        QCOMPARE(console_lines(), std::vector<std::string>{"listbox1 Callback not implemented yet."});
    }

    void loadingThroughTheDialogFillsTheFileBox() {
        press_with_file("Load", kLandmarks);
        QCOMPARE(box_text(kFileBox), QString("Data File: plethodon.lm.txt with 40 specimens, 12 LM\n"));
        QCOMPARE(program->shell().workspace().landmarks.rows(), 40);
        QVERIFY(gui->dialogs()[0].kind == QtGui::DialogKind::Open);
        // The file's folder became the current one.
        QCOMPARE(gui->pwd(), std::filesystem::canonical(kData).string() + "/");
    }

    void reportIsShownAsLinesAndSavedByteForByte() {
        const Handle results = gui->findobj_tag(kResultsBox).front();
        gui->set(results, "String", Value("A\nB\nC"));
        auto* box = qobject_cast<QPlainTextEdit*>(gui->widget(results));
        QCOMPARE(box->document()->blockCount(), 3);
        QCOMPARE(box->document()->findBlockByNumber(1).text(), QString("B"));
        QCOMPARE(string_lines(gui->get(results, "String")), (std::vector<std::string>{"A", "B", "C"}));

        QTemporaryDir dir;
        const std::string target = dir.path().toStdString() + "/report.txt";
        gui->set_dialog_hook([&](const QtGui::DialogRequest&) -> std::optional<std::string> { return target; });
        click("SaveOut");
        QCOMPARE(read_bytes(target), std::string("\n A\n B\n C"));
        QVERIFY(gui->dialogs().back().kind == QtGui::DialogKind::Save);

        // Text the widget cannot show as it is (a carriage return, a byte
        // that is not UTF-8, a tab, trailing blanks, percent signs and
        // backslashes) is still saved exactly as it was set.
        const std::string odd = "F=2.5  p<0.001\t \r\nn\xE9 100% \\n  \n\nlast   ";
        gui->set(results, "String", Value(odd));
        click("SaveOut");
        std::string expected;
        for (const auto& line : split_lines(odd)) expected += "\n " + line;
        QCOMPARE(read_bytes(target), expected);
    }

    void openingAgainReusesTheWindowAndBringsItBackOnScreen() {
        QCOMPARE(gui->load_count(), 1);
        const auto screen = elements(gui->get(kRoot, "screensize").matrix());
        const double sw = screen[2];
        auto outer = elements(gui->get(fig, "outerposition").matrix());
        const double w = outer[2];
        gui->set(fig, "outerposition", Value(matrix_from_rows({{sw - 50, outer[1], outer[2], outer[3]}})));
        QCoreApplication::processEvents();
        QCOMPARE(elements(gui->get(fig, "outerposition").matrix())[0], sw - 50);

        QCOMPARE(program->quillan({}, 1)[0].scalar(), fig);
        QCoreApplication::processEvents();
        QCOMPARE(gui->load_count(), 1);
        outer = elements(gui->get(fig, "outerposition").matrix());
        QVERIFY(outer[0] >= 0);
        QCOMPARE(outer[0], std::max(0.0, sw - w));
    }

    void layoutMustBeAFigFileThatExists() {
        gui->set_layout_dirs({"/nonexistent/a", "/nonexistent/b"});
        QCOMPARE(error_of([&] { openfig(*gui, "quillan", "new"); }),
                 std::string("Cannot find the layout file quillan.fig (looked in /nonexistent/a, /nonexistent/b)."));
        QTemporaryDir dir;
        const std::string bad = dir.path().toStdString() + "/broken.fig";
        std::ofstream(bad) << "<ui version=\"4.0\"><widget class=\"QWidget\"";
        QVERIFY(error_of([&] { openfig(*gui, bad); }).rfind("Cannot read the layout file " + bad, 0) == 0);
        QCOMPARE(gui->load_count(), 1);
        QCOMPARE(gui->windows().size(), std::size_t{1});
    }

    void propertiesMapOntoTheWidgets() {
        const Handle cov = gui->findobj_tag(kCovBox).front();
        auto* combo = qobject_cast<QComboBox*>(gui->widget(cov));
        QCOMPARE(gui->get(cov, "Value").scalar(), 1.0);
        combo->setCurrentIndex(4);
        QCOMPARE(gui->get(cov, "Value").scalar(), 5.0);
        gui->set(cov, "Value", Value(2.0));
        QCOMPARE(combo->currentIndex(), 1);
        for (double bad : {0.0, 6.0, 2.5})
            QCOMPARE(error_of([&] { gui->set(cov, "Value", Value(bad)); }),
                     std::string("The Value must be a whole number from 1 to 5."));
        QCOMPARE(gui->get(cov, "String").list().size(), std::size_t{5});

        QCOMPARE(gui->get(fig, "type").text(), std::string("figure"));
        QCOMPARE(gui->get(fig, "parent").scalar(), kRoot);
        QCOMPARE(gui->get(cov, "type").text(), std::string("uicontrol"));
        QCOMPARE(gui->get(cov, "style").text(), std::string("popupmenu"));
        const Handle load = *gui->handle_of(action_button("Load"));
        const Handle group = gui->findobj_tag("dataGroup").front();
        QCOMPARE(gui->get(group, "type").text(), std::string("uipanel"));
        QCOMPARE(gui->get(load, "parent").scalar(), group);
        QCOMPARE(*get_parent_fig(*gui, load), fig);

        // Positions are pixels from the lower-left corner of the holder.
        const auto bp = elements(gui->get(load, "position").matrix());
        QWidget* button = gui->widget(load);
        QCOMPARE(bp[0], static_cast<double>(button->mapTo(gui->widget(group), QPoint(0, 0)).x()));
        QCOMPARE(bp[1] + bp[3] + button->mapTo(gui->widget(group), QPoint(0, 0)).y(),
                 static_cast<double>(gui->widget(group)->height()));
        QCOMPARE(bp[2], static_cast<double>(button->width()));
        QCOMPARE(error_of([&] { gui->set(fig, "units", Value("normalized")); }),
                 std::string("The desktop window measures positions in pixels only."));
        QCOMPARE(error_of([&] { gui->set(kRoot, "screensize", Value(1.0)); }),
                 std::string("The screensize property is read-only."));

        gui->set(fig, "visible", Value("off"));
        QVERIFY(!gui->widget(fig)->isVisible());
        QCOMPARE(gui->get(fig, "visible").text(), std::string("off"));
        gui->figure(fig);
        QCOMPARE(gui->get(fig, "visible").text(), std::string("on"));
    }

    void pressesDuringAnActionAreIgnoredAndClosingStopsItFirst() {
        session->set_progress_delay(std::chrono::milliseconds(60000));  // no progress window in this test
        gui->set(gui->findobj_tag(kFileBox).front(), "String", Value("loaded"));
        QAbstractButton* clear = action_button("Clear");
        bool clicked = false;
        QTimer::singleShot(50, this, [&] {
            QTest::mouseClick(clear, Qt::LeftButton);
            clicked = true;
        });
        bool stopped = false;
        std::atomic<int> reports = 0;
        // The window is closed after the press, once the action has made some
        // progress, however busy the machine is: the close is seen mid-run.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, this, [&] {
            if (!clicked || reports.load() <= 10) return;
            closer.stop();
            gui->widget(fig)->close();
        });
        closer.start(10);
        const bool ran = session->run("Fake analysis", [&] {
            const auto& progress = program->shell().options().progress;
            QVERIFY(progress);
            for (long long i = 0; i < 5000; ++i, ++reports) {
                if (!progress(i, 5000)) {
                    stopped = true;
                    throw Cancelled();
                }
                QThread::msleep(1);
            }
        });
        QVERIFY(ran);
        QVERIFY(stopped);
        QVERIFY(reports.load() > 10);
        QCOMPARE(box_text(kFileBox), QString("loaded"));  // the press was ignored
        QVERIFY(!session->busy());
        QVERIFY(!program->shell().options().progress);
        QCOMPARE(console_lines(), std::vector<std::string>{"The action was cancelled."});
        // Once the action has stopped, the window closes as asked.
        QVERIFY(!gui->widget(fig) || !gui->widget(fig)->isVisible());
        QVERIFY(session->run("second", [] {}));
    }

    void pauseDoesNotWaitWithoutAConsole() {
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        int pumped = 0;
        QVERIFY(!wait_for_console_key(fds[0], [&] { ++pumped; }));
        QCOMPARE(pumped, 0);
        close(fds[0]);
        close(fds[1]);
        const int null_fd = open("/dev/null", O_RDONLY);
        QVERIFY(!wait_for_console_key(null_fd, [&] { ++pumped; }));
        close(null_fd);
    }
};

// The window as a daily tool: the menu, the status line, the seed, dropped
// and recent files, remembered settings, closing during a run and the pause
// for a key in the terminal.  The real layout on Qt's offscreen platform.
class DailyUseTest : public quillan::test::MainWindowRig {
    Q_OBJECT

private:
    QString status() { return window->status_text(); }
    QAction* menu_action(const QString& data) {
        for (QAction* menu : window->menu_bar()->actions())
            for (QAction* a : menu->menu()->actions())
                if (a->data().toString() == data) return a;
        return nullptr;
    }

private slots:
    void init() { start_in_a_scratch_folder(); }
    void cleanup() { stop(); }

    void closingDuringALongTestStopsItAndThenCloses() {
        load_plethodon(kGroups, "100000000");
        session->set_progress_delay(std::chrono::milliseconds(0));
        // The window is closed once the run shows its progress window, however
        // long the machine takes to get there.
        bool closed = false, modal_free = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (closed || !session->progress_window()) return;
            // Nothing modal stands between the window's close button and the session.
            modal_free = QApplication::activeModalWidget() == nullptr;
            closed = true;
            gui->widget(fig)->close();
        });
        poll.start(10);
        click("RunOneWay");
        QVERIFY(closed);
        QVERIFY(modal_free);
        QCOMPARE(program->shell().last_outcome(), Outcome::Cancelled);
        QVERIFY(!gui->widget(fig) || !gui->widget(fig)->isVisible());
    }

    void returnPressesTheFocusedButton() {
        std::vector<std::string> sent;
        gui->set_callback_handler([&](const QtGui::CallbackRequest& r) { sent.push_back(r.action); });
        for (const char* action : {"Clear", "RunOneWay"}) {
            action_button(action)->setFocus();
            QTest::keyClick(action_button(action), Qt::Key_Return);
        }
        QCOMPARE(sent, (std::vector<std::string>{"Clear", "RunOneWay"}));
    }

    void messagesNameTheControlsOfEachFrontEnd() {
        click("RunOneWay");
        QCOMPARE(
            gui->messages().back().text,
            std::string("No landmark file is loaded: load one with the \"Load landmarks...\" button (or \"Import...\") first."));
        QCOMPARE(gui->messages().back().title, std::string("Error"));
        // Its window does not block: the next press is taken.
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible()) box = m;
        QVERIFY(box && box->text().contains("No landmark file is loaded") && !box->isModal());
        press_with_file("Load", kLandmarks);
        click("RunOneWay");
        QCOMPARE(gui->messages().back().text,
                 std::string("No group file is loaded: load one with the \"Load groups...\" button first."));
        const auto batch = test::run_batch({"one-way", "-l", kLandmarks});
        QVERIFY2(batch.err.find("load one with --groups (or --import with --factor) first.") != std::string::npos,
                 batch.err.c_str());
    }

    void menuOffersEveryTestWithShortcutsAndMnemonics() {
        QMenuBar* bar = window->menu_bar();
        QVERIFY(bar && bar->isVisible());
        QStringList titles;
        for (QAction* a : bar->actions()) titles << a->text();
        QCOMPARE(titles, (QStringList{"&File", "&Tests", "&Help"}));
        std::set<QString> keys;
        std::set<QChar> mnemonics;
        std::vector<std::string> sent;
        gui->set_callback_handler([&](const QtGui::CallbackRequest& r) { sent.push_back(r.action); });
        QMenu* tests = bar->actions()[1]->menu();
        // The tests of the Analyses, Models, Toolkit and Phylogeny pages, each with its keys.
        int buttons = 0;
        for (const char* page : {"analysesPage", "modelsPage", "toolkitPage", "phylogenyPage"})
            for (auto* b : tagged(page)->findChildren<QAbstractButton*>())
                if (const ActionRow* row = find_action(b->property("action").toString().toStdString()); row && row->analysis)
                    ++buttons;
        QList<QAction*> entries;
        for (QAction* a : tests->actions())
            if (!a->isSeparator()) entries << a;
        QCOMPARE(entries.size(), buttons);
        QCOMPARE(menu_action("RunModel")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
        QCOMPARE(menu_action("RunOutliers")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_1));
        QCOMPARE(menu_action("RunAllometry")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_0));
        QCOMPARE(menu_action("RunPhysignal")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_1));
        for (QAction* a : entries) {
            QVERIFY2(!a->shortcut().isEmpty() && keys.insert(a->shortcut().toString()).second, qPrintable(a->text()));
            const int amp = a->text().indexOf('&');
            QVERIFY2(amp < 0 || mnemonics.insert(a->text()[amp + 1].toLower()).second, qPrintable(a->text()));
            sent.clear();
            a->trigger();
            QCOMPARE(sent, std::vector<std::string>{a->data().toString().toStdString()});
        }
        for (const char* action : {"Load", "LoadGlist", "LoadClist", "Import", "SaveOut", "ExportResults"}) {
            QAction* a = menu_action(action);
            QVERIFY2(a && !a->shortcut().isEmpty() && keys.insert(a->shortcut().toString()).second, action);
        }

        // No two Alt letters of the window clash (menu titles, controls, tabs).
        QStringList texts;
        for (QAction* a : bar->actions()) texts << a->text();
        for (auto* b : gui->widget(fig)->findChildren<QAbstractButton*>()) texts << b->text();
        for (auto* l : gui->widget(fig)->findChildren<QLabel*>()) texts << l->text();
        for (auto* t : gui->widget(fig)->findChildren<QTabWidget*>())
            for (int i = 0; i < t->count(); ++i) texts << t->tabText(i);
        std::set<QChar> alt;
        for (const QString& t : texts)
            if (const int amp = t.indexOf('&'); amp >= 0 && amp + 1 < t.size())
                QVERIFY2(alt.insert(t[amp + 1].toLower()).second, qPrintable(t));
        QVERIFY(alt.size() >= 15);
    }

    void shownSeedRepeatsTheRunThroughTheBatchFrontEnd() {
        load_plethodon(kGroups, "199");
        QCOMPARE(status(), QString("No report yet."));
        auto* seed_box = qobject_cast<QLineEdit*>(tagged("SeedBox"));
        for (const QString& seed : {QString(), QString("18446744073709551615")}) {
            seed_box->setText(seed);
            click("RunOneWay");
            QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
            QVERIFY(window->shown_seed());
            const QString shown = QString::number(*window->shown_seed());
            if (!seed.isEmpty()) QCOMPARE(shown, seed);
            QVERIFY2(status().startsWith(
                         "Report: One-way test on plethodon.lm.txt, plethodon.species.groups.txt; 199 permutations; seed " +
                         shown + "; made "),
                     qPrintable(status()));
            QTest::mouseClick(qobject_cast<QAbstractButton*>(tagged("copySeedButton")), Qt::LeftButton);
            QCOMPARE(QGuiApplication::clipboard()->text(), shown);
            const auto batch =
                test::run_batch({"one-way", "-l", kLandmarks, "-g", kGroups, "-p", "199", "--seed", shown.toStdString()});
            QCOMPARE(batch.status, 0);
            QCOMPARE(batch.out, text_of(kResultsBox) + "\n");
        }
        // For the README: the window with a report and its status line.
        if (const char* shot = std::getenv("QUILLAN_WINDOW_SCREENSHOT")) {
            gui->widget(fig)->resize(1400, 860);
            QTest::qWait(200);
            gui->widget(fig)->grab().save(QString::fromLocal8Bit(shot), "PNG");
        }
    }

    void statusLineGoesOutOfDateOnALoadAndOnAFailedTest() {
        press_with_file("Load", kLandmarks);
        QCOMPARE(gui->widget(fig)->windowTitle(), QString("plethodon.lm.txt - quillan"));
        press_with_file("LoadGlist", kGroups);
        set_text(kPermBox, "19");
        click("RunOneWay");
        const std::string report = text_of(kResultsBox);
        QVERIFY(!status().contains("out of date"));
        press_with_file("LoadClist", kCovariate);
        QVERIFY2(status().endsWith("out of date: a file was loaded after it."), qPrintable(status()));
        click("RunOneWay");
        QVERIFY(!status().contains("out of date"));
        set_text(kPermBox, "many");
        click("RunOneWay");
        QVERIFY2(status().endsWith("out of date: a later test failed or was refused."), qPrintable(status()));
        // A seed that is no 64-bit number is refused before the test runs.
        set_text(kPermBox, "19");
        click("RunOneWay");
        qobject_cast<QLineEdit*>(tagged("SeedBox"))->setText("18446744073709551616");
        const std::string before = text_of(kResultsBox);
        click("RunOneWay");
        QVERIFY(gui->messages().back().text.find("Seed box holds \"18446744073709551616\"") != std::string::npos);
        QCOMPARE(text_of(kResultsBox), before);
        QVERIFY(status().contains("out of date"));
        QVERIFY(report != "");
        // A check that prints on the console only says so there.
        qobject_cast<QLineEdit*>(tagged("SeedBox"))->clear();
        click("TestCovariate");
        QVERIFY2(status().contains("Check slope models: its output went to the console"), qPrintable(status()));
        QCOMPARE(text_of(kResultsBox), before);
    }

    void settingsAndRecentFilesSurviveARestart() {
        set_text(kPermBox, "4999");
        gui->set(gui->findobj_tag(kCovBox).front(), "Value", Value(3.0));
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        press_with_file("LoadClist", kCovariate);
        gui->widget(fig)->resize(1010, 700);
        const QSize size = gui->widget(fig)->size();
        gui->widget(fig)->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        start();
        QCOMPARE(text_of(kPermBox), std::string("4999"));
        QCOMPARE(gui->get(gui->findobj_tag(kCovBox).front(), "Value").scalar(), 3.0);
        // The size comes back as far as the screen holds it.
        const QSize room = gui->widget(fig)->screen()->availableGeometry().size().expandedTo(gui->widget(fig)->minimumSize());
        QCOMPARE(gui->widget(fig)->size(), size.boundedTo(room));
        // The groups dialog opens where the last group file came from.
        std::filesystem::current_path("/");
        gui->set_dialog_hook([](const QtGui::DialogRequest&) -> std::optional<std::string> { return std::nullopt; });
        click("LoadGlist");
        QCOMPARE(QString::fromStdString(gui->dialogs().back().folder), QFileInfo(QString::fromStdString(kGroups)).absolutePath());
        // One step from the menu reloads all three files.
        QCOMPARE(window->recent_entries().size(), 1);
        QMenu* recent = window->menu_bar()->actions()[0]->menu()->findChild<QMenu*>();
        QVERIFY(recent && recent->actions().size() == 1);
        recent->actions()[0]->trigger();
        QTRY_COMPARE(program->shell().workspace().landmarks.rows(), 40);
        QCOMPARE(program->shell().workspace().groups.rows(), 40);
        QCOMPARE(program->shell().workspace().covariate.rows(), 40);
        // A file that has gone is said so and taken off the list.
        QTemporaryDir gone;
        const std::string copy = gone.path().toStdString() + "/a.lm.txt";
        std::filesystem::copy_file(kLandmarks, copy);
        press_with_file("Load", copy);
        QCOMPARE(window->recent_entries().size(), 2);
        std::filesystem::remove(copy);
        window->open_recent(0);
        QVERIFY(gui->messages().back().text.find(copy + " is no longer there") != std::string::npos);
        QCOMPARE(window->recent_entries().size(), 1);
    }

    void droppedFilesLoadAsChosen() {
        std::vector<std::string> guesses;
        window->set_drop_chooser([&](const QString&, const std::string& guess) -> std::optional<std::string> {
            guesses.push_back(guess);
            return guess;
        });
        // A real drop of two files on the file box.
        auto* mime = new QMimeData;
        mime->setUrls(
            {QUrl::fromLocalFile(QString::fromStdString(kLandmarks)), QUrl::fromLocalFile(QString::fromStdString(kGroups))});
        QWidget* files = tagged(kFileBox);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(files, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(files, &drop);
        QTRY_COMPARE(program->shell().workspace().groups.rows(), 40);
        QCOMPARE(guesses, (std::vector<std::string>{"Load", "LoadGlist"}));
        QCOMPARE(program->shell().workspace().landmarks.rows(), 40);
        delete mime;
        // An importable format goes to Import without asking.
        window->drop_files({QString::fromStdString(kData + "/plethodon.tps")});
        QCOMPARE(guesses.size(), std::size_t{2});
        QVERIFY(QString::fromStdString(text_of(kFileBox)).contains("plethodon.tps"));
        // A table of factors by ID joins those landmarks; it is not imported.
        QTemporaryDir factors_dir;
        const std::string factors = factors_dir.filePath("factors.csv").toStdString();
        {
            std::ifstream in(kData + "/plethodon.csv");
            std::ofstream out(factors);
            for (std::string line; std::getline(in, line);) out << line.substr(0, line.find(',', line.find(',') + 1)) << "\n";
        }
        window->drop_files({QString::fromStdString(factors)});
        QCOMPARE(program->shell().workspace().landmarks.rows(), 40);
        QCOMPARE(program->shell().legend().factors.size(), std::size_t{1});
        QCOMPARE(guesses.size(), std::size_t{2});
        // and comes back through Import from the recent files.
        click("Clear");
        window->open_recent(0);
        QVERIFY(QString::fromStdString(text_of(kFileBox)).contains("plethodon.tps"));
        // Unnamed files are judged by their first line.
        QTemporaryDir tmp;
        const auto write = [&](const char* name, const char* text) {
            std::ofstream(tmp.filePath(name).toStdString()) << text;
            return tmp.filePath(name);
        };
        QCOMPARE(MainWindow::guess_kind(write("a.txt", "\n1.52\n1.7\n")), std::string("LoadClist"));
        QCOMPARE(MainWindow::guess_kind(write("b.txt", "1 2\n2 1\n")), std::string("LoadGlist"));
        QCOMPARE(MainWindow::guess_kind(write("c.txt", "0 0 1 0 0.5 1 1\n")), std::string("Load"));
    }

    // A recent import comes back with the choices it was made with, not those
    // made since for other files; an entry from before the choices were kept
    // imports with the boxes as they are.
    void recentImportsKeepTheirChoices() {
        auto boxes =
            std::array{named<QComboBox>("NegativeChoice"), named<QComboBox>("GapsChoice"), named<QComboBox>("CurvesChoice")};
        const auto choose = [&](std::array<int, 3> entries) {
            for (int i = 0; i < 3; ++i) boxes[i]->setCurrentIndex(entries[i]);
        };
        const auto landmarks = [&] { return program->shell().workspace().landmarks.cols() / 2; };
        const QString curves = QString::fromStdString(kData + "/plethodon_curves.tps");
        choose({1, 1, 1});  // -1 -1 missing, estimated, curves slid
        window->drop_files({curves});
        QCOMPARE(landmarks(), 28);
        // Groups loaded afterwards keep the entry an import with its choices.
        press_with_file("LoadGlist", kGroups);
        choose({0, 0, 0});
        click("Clear");
        window->open_recent(0);
        QCOMPARE(landmarks(), 28);
        QCOMPARE(program->shell().workspace().groups.rows(), 40);
        for (auto* box : boxes) QCOMPARE(box->currentIndex(), 1);
        QVERIFY(window->menu_bar()->actions()[0]->menu()->findChild<QMenu*>()->actions()[0]->toolTip().contains(
            "Imported with Negatives: missing, Gaps: estimate tps, Curves: slide be"));
        // A refused import leaves the boxes as they were.
        choose({0, 2, 2});
        const QStringList kept = window->recent_entries();
        QSettings settings(settings_file(), QSettings::IniFormat);
        QStringList entry = kept.front().split('\t');
        entry[4] = "NegativeChoice=1,GapsChoice=0,CurvesChoice=3";  // gaps refused
        settings.setValue("recent/files", QStringList{entry.join('\t')});
        settings.sync();
        start();
        boxes = {named<QComboBox>("NegativeChoice"), named<QComboBox>("GapsChoice"), named<QComboBox>("CurvesChoice")};
        choose({0, 2, 2});
        window->open_recent(0);
        QVERIFY(gui->messages().back().text.find("could not be imported") != std::string::npos);
        QCOMPARE(boxes[1]->currentIndex(), 2);
        // An entry written before: the boxes as they are.
        entry.removeLast();
        settings.setValue("recent/files", QStringList{entry.join('\t')});
        settings.sync();
        start();
        boxes = {named<QComboBox>("NegativeChoice"), named<QComboBox>("GapsChoice"), named<QComboBox>("CurvesChoice")};
        choose({0, 1, 0});  // its NA estimated, -1 -1 a point, curves skipped
        window->open_recent(0);
        QCOMPARE(landmarks(), 12);
        QCOMPARE(boxes[1]->currentIndex(), 1);
    }

    void pauseSaysWhereToPressTheKey() {
        int master = -1, slave = -1;
        QCOMPARE(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const int saved_stdin = dup(STDIN_FILENO);
        QVERIFY(dup2(slave, STDIN_FILENO) == STDIN_FILENO);
        QString while_waiting;
        QTimer::singleShot(150, this, [&] {
            while_waiting = status();
            [[maybe_unused]] const auto n = write(master, "x", 1);
        });
        gui->pause();
        dup2(saved_stdin, STDIN_FILENO);
        close(saved_stdin);
        close(slave);
        close(master);
        QVERIFY2(while_waiting.startsWith("Waiting for a key press in the terminal"), qPrintable(while_waiting));
        QVERIFY(console->str().find("press a key in this terminal to go on") != std::string::npos);
        QCOMPARE(status(), QString("No report yet."));
    }
};

// The window as a demanding user finds it: it never grows past its screen,
// the files it names are the files the tests use, a refused choice does not
// stay on show, and notices do not cover the report.  The real layout on
// Qt's offscreen platform.
class DemandingUseTest : public quillan::test::MainWindowRig {
    Q_OBJECT

private:
    // A copy of a data file under a name of the given length.
    std::string copy_named(const std::string& from, const std::string& stem, std::size_t length) {
        std::string name = stem;
        name.resize(length, 'x');
        const std::string to = dir->filePath(QString::fromStdString(name + ".txt")).toStdString();
        std::filesystem::copy_file(from, to);
        return to;
    }
    QString file_box() { return QString::fromStdString(text_of(kFileBox)); }

    // What the message windows said since the count of messages was `before`.
    std::string said_since(std::size_t before) {
        std::string said;
        for (std::size_t i = before; i < gui->messages().size(); ++i) said += gui->messages()[i].text + "\n";
        return said;
    }
    static void choose(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

private slots:
    void init() {
        with_plots = true;
        start_in_a_scratch_folder();
    }
    void cleanup() { stop(); }

    void windowNeverGrowsPastItsScreen() {
        QWidget* w = gui->widget(fig);
        const int width = w->width();
        press_with_file("Load", copy_named(kLandmarks, "landmarks_of_the_plethodon_salamanders_", 120));
        press_with_file("LoadGlist", copy_named(kGroups, "species_of_the_plethodon_salamanders_", 120));
        set_text(kPermBox, "19");
        click("RunOneWay");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QApplication::processEvents();
        QCOMPARE(w->width(), width);
        QVERIFY(w->minimumSizeHint().width() <= width);
        // The line is shortened on screen and whole in its tooltip.
        auto* status = w->findChild<QLabel*>("StatusLine");
        QVERIFY2(window->shown_status().contains(QChar(0x2026)), qPrintable(window->shown_status()));
        QVERIFY(status->toolTip().startsWith(window->status_text()));
        QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) <= status->contentsRect().width());

        // For a look at the shortened line: QUILLAN_WINDOW_SCREENSHOT=FILE.
        if (const char* shot = std::getenv("QUILLAN_WINDOW_SCREENSHOT")) {
            QTest::qWait(200);
            w->grab().save(QString::fromLocal8Bit(shot), "PNG");
        }

        // A size past the screen is not what comes back after a restart.
        const QSize room = w->screen()->availableGeometry().size().expandedTo(w->minimumSize());
        w->resize(room.width() + 600, room.height() + 400);
        window->save_settings();
        start();
        QVERIFY2(gui->widget(fig)->width() <= room.width(), qPrintable(QString::number(gui->widget(fig)->width())));
        QVERIFY(gui->widget(fig)->height() <= room.height());
    }

    // Tables without IDs kept for new landmarks of the same count are said to
    // be paired by row, with a button that drops them.
    void tablesKeptByRowAloneAreOfferedForDropping() {
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        const std::size_t before = gui->messages().size();
        press_with_file("Load", copy_named(kLandmarks, "other", 5));
        QVERIFY2(said_since(before).find("was kept for the 40 specimens of other.txt and is paired with them by row") !=
                     std::string::npos,
                 said_since(before).c_str());
        QAbstractButton* drop = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == kKeptByRowTitle) drop = w->findChild<QAbstractButton*>("messageOffer");
        QVERIFY(drop);
        QCOMPARE(program->shell().workspace().groups.rows(), 40);
        drop->click();
        QCOMPARE(program->shell().workspace().groups.size(), 0);
        QVERIFY2(!file_box().contains("Group File"), qPrintable(file_box()));
    }

    void newDataKeepsOnlyTheTablesThatStillMatch() {
        const std::string larval = kData + "/larvalHead.lm.txt";
        press_with_file("Load", larval);
        press_with_file("LoadGlist", kData + "/larvalMorph.groups.txt");
        press_with_file("LoadClist", kData + "/larvalHead.cov.txt");
        // A group file loaded after the covariate leaves the covariate listed.
        press_with_file("LoadGlist", kData + "/larvalMorph.treatment.groups.txt");
        QVERIFY2(file_box().contains("Group File: larvalMorph.treatment.groups.txt"), qPrintable(file_box()));
        QVERIFY2(file_box().contains("Covariate File: larvalHead.cov.txt with 114 specimens"), qPrintable(file_box()));

        // 40 specimens: neither 114-row table goes with them any more.
        const std::size_t before = gui->messages().size();
        press_with_file("Import", kData + "/plethodon.tps");
        QCOMPARE(program->shell().workspace().landmarks.rows(), 40);
        QCOMPARE(program->shell().loaded_paths().groups, std::string());
        QCOMPARE(program->shell().loaded_paths().covariate, std::string());
        QCOMPARE(program->shell().workspace().covariate.size(), 0);
        QVERIFY(!file_box().contains("larval"));
        const std::string said = said_since(before);
        QVERIFY2(said.find("The group file larvalMorph.treatment.groups.txt has 114 specimens, but plethodon.tps has 40") !=
                     std::string::npos,
                 said.c_str());
        QVERIFY2(said.find("The covariate file larvalHead.cov.txt has 114 specimens") != std::string::npos, said.c_str());

        // Tables that match are kept, and the file box says so.
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        press_with_file("LoadClist", kCovariate);
        press_with_file("Import", kData + "/plethodon.tps");
        QCOMPARE(program->shell().loaded_paths().covariate, kCovariate);
        QVERIFY2(file_box().contains("Covariate File: plethodon.cov.txt with 40 specimens"), qPrintable(file_box()));
        QVERIFY2(file_box().contains("Kept from before"), qPrintable(file_box()));
        QVERIFY(text_of("LegendBox").find("40 specimen IDs: P01") != std::string::npos);
        press_with_file("Load", larval);
        QVERIFY(!file_box().contains("plethodon"));
        QCOMPARE(program->shell().workspace().groups.size(), 0);
        // The legend is of what is loaded now: the imported IDs are gone.
        QVERIFY2(text_of("LegendBox").find("specimen IDs") == std::string::npos, text_of("LegendBox").c_str());

        // A recent entry never pairs landmarks with a table of another count.
        press_with_file("Load", kLandmarks);
        press_with_file("LoadClist", kData + "/larvalHead.cov.txt");
        const QStringList entry = window->recent_entries().front().split('\t');
        QCOMPARE(entry.value(0), QString::fromStdString(kLandmarks));
        QCOMPARE(entry.value(2), QString());
    }

    void singleSpecimenGroupsAreToldOncePerDataSetOnTheStatusLine() {
        // The plethodon species with the last specimen in a group of its own.
        std::ifstream in(kGroups);
        std::string line, text;
        for (int i = 0; i < 39 && std::getline(in, line); ++i) text += line + "\n";
        const std::string groups = dir->filePath("single.groups.txt").toStdString();
        std::ofstream(groups) << text << "3\n";
        load_plethodon(groups, "19");
        auto single_windows = [] {
            int n = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                n += w->isVisible() && w->windowTitle() == "Single-specimen groups";
            return n;
        };
        click("RunOneWay");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QVERIFY2(window->status_text().contains("The group 3 has a single specimen"), qPrintable(window->status_text()));
        QCOMPARE(single_windows(), 0);
        // In a narrow window the note gives way, not the seed.
        gui->widget(fig)->resize(gui->widget(fig)->minimumSize());
        QApplication::processEvents();
        const QString shown = window->shown_status();
        QVERIFY2(window->status_text().size() > shown.size() && shown.contains(QString("seed %1").arg(*window->shown_seed())) &&
                     shown.contains("The group 3"),
                 qPrintable(shown));
        // The same data again: said already.
        click("RunOneWayF");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QVERIFY2(!window->status_text().contains("single specimen"), qPrintable(window->status_text()));
        QCOMPARE(single_windows(), 0);
        // Data loaded again: said again.
        press_with_file("LoadGlist", groups);
        click("RunOneWay");
        QVERIFY(window->status_text().contains("single specimen"));
        QCOMPARE(single_windows(), 0);
        // The error term of a two-way F test is said beside each of its reports.
        press_with_file("LoadGlist", kData + "/plethodon.groups.txt");
        for (const char* action : {"RunTwoWayF", "RunTwoWayF"}) {
            click(action);
            QVERIFY2(window->status_text().contains("the crossed design's error 720 df"), qPrintable(window->status_text()));
        }
    }

    void savesAndExportsGetTheirFiltersExtension() {
        load_plethodon(kGroups, "19");
        click("RunOneWay");
        const auto bare = [&](const char* name) { return dir->filePath(name).toStdString(); };
        press_with_file("ExportResults", bare("results"));
        press_with_file("ExportSpecimens", bare("specimens"));
        press_with_file("SaveOut", bare("report"));
        press_with_file("ExportResults", bare("table.csv"));
        for (const char* name : {"results.json", "specimens.csv", "report.txt", "table.csv"})
            QVERIFY2(QFileInfo::exists(dir->filePath(name)), name);
        for (const char* name : {"results", "specimens", "report"}) QVERIFY2(!QFileInfo::exists(dir->filePath(name)), name);
        // The JSON export is JSON, the table a table.
        std::ifstream json(bare("results.json"));
        QCOMPARE(json.get(), '{');
        QVERIFY(QString::fromStdString(gui->dialogs().back().filter).contains("(*.csv)"));
        // The three loads' dialogs say which file they want.
        std::set<std::string> titles;
        for (const char* action : {"Load", "LoadGlist", "LoadClist"}) {
            press_with_file(action, action == std::string("Load") ? kLandmarks : kGroups);
            QVERIFY(gui->dialogs().back().shown.rfind("Enter file to Load? \u2014 Load ", 0) == 0);
            titles.insert(gui->dialogs().back().shown);
        }
        QCOMPARE(titles.size(), std::size_t{3});
    }

    void choosingForG1TheFactorOfG2SwapsThem() {
        press_with_file("Import", kData + "/plethodon.csv");
        auto* g1 = qobject_cast<QComboBox*>(tagged("G1Choice"));
        auto* g2 = qobject_cast<QComboBox*>(tagged("G2Choice"));
        QVERIFY(g1 && g2);
        QCOMPARE(g1->itemText(1), QString("species"));
        QCOMPARE(g1->itemText(2), QString("site"));
        choose(g1, 1);
        choose(g2, 2);
        const Matrix before = program->shell().workspace().groups;
        QCOMPARE(before.cols(), 2);
        choose(g1, 2);
        QCOMPARE(program->shell().last_outcome(), Outcome::Done);
        QCOMPARE(g1->currentIndex(), 2);
        QCOMPARE(g2->currentIndex(), 1);
        const Matrix& after = program->shell().workspace().groups;
        QVERIFY(after.col(0) == before.col(1) && after.col(1) == before.col(0));
        // G2 taking G1's factor swaps them back.
        choose(g2, 2);
        QCOMPARE(g1->currentIndex(), 1);
        QCOMPARE(g2->currentIndex(), 2);
        QVERIFY(program->shell().workspace().groups == before);
        // A refused choice goes back to what is in use.
        choose(g1, 0);
        QCOMPARE(program->shell().last_outcome(), Outcome::Failed);
        QCOMPARE(gui->messages().back().text, std::string("Choose G1 before G2: a single grouping variable is always G1."));
        QCOMPARE(g1->currentIndex(), 1);
        QCOMPARE(g2->currentIndex(), 2);
    }

    void aCovariateFileLoadedAsGroupsIsPointedOutAtOnce() {
        press_with_file("Load", kLandmarks);
        const std::size_t before = gui->messages().size();
        press_with_file("LoadGlist", kCovariate);
        const std::string said = said_since(before);
        QVERIFY2(said.find("Line 1 of the group file " + kCovariate + " holds the code ") != std::string::npos, said.c_str());
        QVERIFY2(said.find("which is not a whole number") != std::string::npos, said.c_str());
        QVERIFY2(said.find("Each of the 40 specimens of the group file " + kCovariate + " is in a group of its own") !=
                     std::string::npos,
                 said.c_str());
        // A proper group file says nothing of the kind.
        const std::size_t proper = gui->messages().size();
        press_with_file("LoadGlist", kGroups);
        QCOMPARE(gui->messages().size(), proper);
    }

    void oneWayRefusalNamesTheControlsThatFixIt() {
        load_plethodon(kData + "/plethodon.groups.txt", "19");
        click("RunOneWay");
        QCOMPARE(program->shell().last_outcome(), Outcome::Refused);
        // The message stays word for word; its window adds the controls.
        QCOMPARE(gui->messages().back().text, std::string(kOneWayRefusal));
        // The text of the message window on show that begins with `refusal`.
        const auto shown = [](const char* refusal) {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w);
                    box && box->isVisible() && box->text().startsWith(QString::fromUtf8(refusal)))
                    return box->text();
            return QString();
        };
        QVERIFY(shown(kOneWayRefusal).contains("set G2 to (none), or load a one-column group file"));
        press_with_file("LoadGlist", kData + "/plethodon.species.groups.txt");
        click("RunTwoWay");
        QVERIFY(shown(kTwoWayRefusal).contains("choose the second factor in G2, or load a two-column group file"));
    }

    void theLastReportAndPicturesStayInReachDuringARun() {
        load_plethodon(kGroups, "19");
        click("RunOneWay");
        const std::string report = text_of(kResultsBox);
        QVERIFY(!report.empty());

        set_text(kPermBox, "100000000");
        session->set_progress_delay(std::chrono::milliseconds(0));
        auto* tabs = gui->widget(fig)->findChild<QTabWidget*>("resultTabs");
        auto* kind = gui->widget(fig)->findChild<QComboBox*>("plotKind");
        auto* canvas = gui->widget(fig)->findChild<PlotCanvas*>("plotCanvas");
        auto* exporter = gui->widget(fig)->findChild<QAbstractButton*>("plotExportButton");
        QVERIFY(tabs && kind && exporter);
        QString label, title;
        bool starters_off = false, others_on = false;
        QTimer::singleShot(600, this, [&] {
            // The user turns to the pictures of the last test, and picks another.
            QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(1).center());
            kind->setFocus();
            QTest::keyClick(kind, Qt::Key_Home);
            QApplication::processEvents();
            if (canvas && !canvas->scene().texts.empty()) title = canvas->scene().texts.front().text;
            starters_off = !action_button("RunOneWay")->isEnabled() && !action_button("Load")->isEnabled() &&
                           !tagged("G1Choice")->isEnabled() && !exporter->isEnabled();
            others_on = kind->isEnabled() && tagged(kResultsBox)->isEnabled() && tagged(kPermBox)->isEnabled();
            if (QProgressDialog* d = session->progress_window()) {
                label = d->labelText();
                QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
            }
        });
        click("RunOneWay");
        QCOMPARE(program->shell().last_outcome(), Outcome::Cancelled);
        QCOMPARE(tabs->currentIndex(), 1);
        QVERIFY2(title.startsWith("Superimposed specimens"), qPrintable(title));
        QVERIFY(starters_off);
        QVERIFY(others_on);
        QVERIFY2(label.contains(" of 100000000 done\n") && label.contains(" permutations per second, about ") &&
                     label.endsWith(" left"),
                 qPrintable(label));
        QVERIFY(!session->progress_window());
        // The report of the last test is still there, and everything works again.
        QCOMPARE(text_of(kResultsBox), report);
        QVERIFY2(window->status_text().contains(" was cancelled; the report shown is of the test before"),
                 qPrintable(window->status_text()));
        QVERIFY(action_button("RunOneWay")->isEnabled() && action_button("Load")->isEnabled() && exporter->isEnabled());
    }

    void picturesAreExportedAtTheChosenSizeIntoTheFolderLastUsed() {
        press_with_file("Load", kLandmarks);
        auto spin = [&](const char* name) { return gui->widget(fig)->findChild<QSpinBox*>(name); };
        QVERIFY(spin("plotExportWidth") && spin("plotExportHeight") && spin("plotExportDpi"));
        spin("plotExportWidth")->setValue(1200);
        spin("plotExportHeight")->setValue(900);
        spin("plotExportDpi")->setValue(300);
        QDir(dir->path()).mkdir("pictures");
        const QString png = dir->filePath("pictures/figure.png"), svg = dir->filePath("pictures/figure.svg");
        auto* exporter = gui->widget(fig)->findChild<QAbstractButton*>("plotExportButton");
        gui->set_dialog_hook([&](const QtGui::DialogRequest&) -> std::optional<std::string> { return png.toStdString(); });
        QTest::mouseClick(exporter, Qt::LeftButton);
        // Exactly the size chosen.
        const QImage image(png);
        QCOMPARE(image.size(), QSize(1200, 900));
        QVERIFY(std::abs(image.dotsPerMeterX() * 0.0254 - 300) < 0.5);
        // SVG stays lines and text, laid out as the PNG is.
        gui->set_dialog_hook([&](const QtGui::DialogRequest&) -> std::optional<std::string> { return svg.toStdString(); });
        QTest::mouseClick(exporter, Qt::LeftButton);
        QFile file(svg);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains("<text") && !bytes.contains("<image"));
        QCOMPARE(QSvgRenderer(bytes).viewBox().size(), image.size() * 96 / 300);

        // The next time, the picture dialog opens where the last picture went.
        start();
        press_with_file("Load", kLandmarks);
        std::string folder;
        gui->set_dialog_hook([&](const QtGui::DialogRequest& r) -> std::optional<std::string> {
            folder = r.folder;
            return std::nullopt;
        });
        QTest::mouseClick(gui->widget(fig)->findChild<QAbstractButton*>("plotExportButton"), Qt::LeftButton);
        QCOMPARE(QDir(QString::fromStdString(folder)).canonicalPath(), QDir(dir->filePath("pictures")).canonicalPath());
    }

    void tabGoesThroughTheLoadsPermutationsSeedAndModelToTheTests() {
        QWidget* model = tagged(kCovBox);
        QVERIFY(model);
        QCOMPARE(model->nextInFocusChain(), static_cast<QWidget*>(action_button("RunOneWay")));
        for (const char* tag : {kFileBox, "LegendBox"}) QVERIFY(!(tagged(tag)->focusPolicy() & Qt::TabFocus));
        // As the keyboard walks it.
        QWidget* w = gui->widget(fig);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        action_button("Load")->setFocus();
        QStringList walked;
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, QStringList({"DimensionsChoice", "loadGroupsButton", "loadCovariateButton", "importButton", "PermBox",
                                      "SeedBox", "CovBox", "oneWayButton", "oneWayFButton"}));
        // The import choices, then Clear all.
        QWidget* at = tagged("CovariateChoice");
        for (const char* next : {"NegativeChoice", "GapsChoice", "CurvesChoice", "LeaveOutMissingChoice", "clearButton"}) {
            at = at->nextInFocusChain();
            QCOMPARE(at->objectName(), QString(next));
        }
        // After a run the focus is back on the control that started it,
        // not on the Negatives box.
        load_plethodon(kGroups, "19");
        action_button("RunOneWay")->setFocus();
        QTest::keyClick(action_button("RunOneWay"), Qt::Key_Space);
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(action_button("RunOneWay")));
    }

    void theWindowFitsALaptopScreenWithAPanel() {
        QWidget* w = gui->widget(fig);
        // 1366 x 700 left by a panel, less a title bar.
        QVERIFY2(w->minimumSize().width() <= 1300 && w->minimumSize().height() <= 640,
                 qPrintable(QStringLiteral("%1 x %2").arg(w->minimumSize().width()).arg(w->minimumSize().height())));
        QVERIFY(w->minimumSizeHint().width() <= 1300 && w->minimumSizeHint().height() <= 640);
        w->resize(w->minimumSize());
        QTest::qWait(50);
        QCOMPARE(w->size(), w->minimumSize());
        // Every test stays within reach: the tests scroll.
        auto* scroll = w->findChild<QScrollArea*>("analysesScroll");
        QVERIFY(scroll);
        QAbstractButton* last = action_button("GoMan");
        scroll->ensureWidgetVisible(last);
        QTest::qWait(20);
        QVERIFY(!last->visibleRegion().isEmpty());
        // No choice is cut short.
        auto* negatives = qobject_cast<QComboBox*>(tagged("NegativeChoice"));
        QVERIFY(negatives->width() >= negatives->sizeHint().width());
        QVERIFY(action_button("Clear")->width() >= action_button("Clear")->sizeHint().width());
    }

    void aTwoColumnGroupFileOffersItsColumnsAsG1AndG2() {
        press_with_file("Load", kLandmarks);
        const std::string two = kData + "/plethodon.groups.txt";
        press_with_file("LoadGlist", two);
        auto* g1 = qobject_cast<QComboBox*>(tagged("G1Choice"));
        auto* g2 = qobject_cast<QComboBox*>(tagged("G2Choice"));
        QCOMPARE(g1->count(), 3);
        QCOMPARE(g1->itemText(2), QString("column 2"));
        QCOMPARE(g1->currentIndex(), 1);
        QCOMPARE(g2->currentIndex(), 2);
        const Matrix file = program->shell().workspace().groups;
        QCOMPARE(file.cols(), 2);
        // A one-way test of either column is one choice away.
        set_text(kPermBox, "19");
        choose(g2, 0);
        QCOMPARE(program->shell().last_outcome(), Outcome::Done);
        QVERIFY(program->shell().workspace().groups == file.leftCols(1));
        QVERIFY2(file_box().contains("plethodon.groups.txt with 40 specimens,  1 group variables"), qPrintable(file_box()));
        click("RunOneWay");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        choose(g1, 2);
        QVERIFY(program->shell().workspace().groups == file.rightCols(1));
        // Both again, the other way round.
        choose(g2, 1);
        QCOMPARE(program->shell().workspace().groups.cols(), 2);
        QVERIFY(program->shell().workspace().groups.col(0) == file.col(1));
        // A one-column file is shown as the G1 in use.
        press_with_file("LoadGlist", kGroups);
        QCOMPARE(g1->count(), 2);
        QCOMPARE(g1->currentIndex(), 1);
        QCOMPARE(program->shell().workspace().groups.cols(), 1);
    }
};

// The Models page of the real window: it offers the loaded names, hands its
// choices to the linear model and shows the model's table and pairwise
// comparisons as the model recorded them.
class ModelsPanelTest : public quillan::test::WholeWindowRig {
    Q_OBJECT

private:
    ModelsPanel* panel = nullptr;
    QTableWidget* table() { return named<QTableWidget>("ModelTable"); }
    QStringList row_names(QTableWidget* t) {
        QStringList names;
        for (int r = 0; r < t->rowCount(); ++r) names << t->verticalHeaderItem(r)->text();
        return names;
    }
    // The recorded value of `key` in the model `name` of the last report.
    double recorded(const std::string& name, const char* key) {
        for (const auto& m : program->shell().last_record().models)
            if (m.name == name && m.value(key)) return *m.value(key);
        return -1;
    }
    void run_model(const char* formula) {
        named<QLineEdit>("ModelFormulaBox")->setText(QString::fromLatin1(formula));
        press("runModelButton");
    }

private slots:
    void init() {
        open_whole_window();
        answer_dialogs();
        panel = panels->models.get();
        QVERIFY(panel->attached());
        named<QLineEdit>("PermBox")->setText("99");
    }

    void cleanup() {
        panel = nullptr;
        close_whole_window();
    }

    void offersTheNamesOfWhatIsLoaded() {
        QVERIFY(panel->names().isEmpty());
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.groups.txt");
        QCOMPARE(panel->names(), (QStringList{"G1", "G2"}));
        load("loadCovariateButton", "plethodon.cov.txt");
        QCOMPARE(panel->names(), (QStringList{"G1", "G2", "cov"}));
        QVERIFY(named<QLabel>("ModelNames")->text().contains("G1, G2, cov"));
        auto* pairwise = named<QComboBox>("ModelPairwiseBox");
        // (none), G1, G2 and their cells: a covariate is no factor
        QCOMPARE(pairwise->count(), 4);
        QCOMPARE(pairwise->itemText(3), QStringLiteral("G1:G2"));
        // An import's own columns are names too.
        load("importButton", "plethodon.csv");
        QVERIFY2(panel->names().contains("species") && panel->names().contains("site"), qPrintable(panel->names().join(", ")));
        press("clearButton");
        QVERIFY(panel->names().isEmpty());
        QCOMPARE(pairwise->count(), 1);
    }

    void theTableIsTheModelsAsChosenOnThePage() {
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.groups.txt");
        run_model("G1 * G2");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QCOMPARE(row_names(table()), (QStringList{"G1", "G2", "G1:G2", "Residuals", "Total"}));
        // Return in the formula box runs it too.
        named<QLineEdit>("ModelFormulaBox")->setText("G1");
        QTest::keyClick(named<QLineEdit>("ModelFormulaBox"), Qt::Key_Return);
        QCOMPARE(row_names(table()), (QStringList{"G1", "Residuals", "Total"}));
        // Return on a completion takes the name and runs nothing; the next runs it.
        auto* formula = named<QLineEdit>("ModelFormulaBox");
        formula->clear();
        formula->setFocus();
        QTest::keyClicks(formula, "G2 + G");
        QAbstractItemView* list = formula->findChild<QCompleter*>()->popup();
        QTRY_VERIFY(list->isVisible());
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(formula->text(), QStringLiteral("G2 + G1"));
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);  // "G2 + G" was not run
        QCOMPARE(row_names(table()), (QStringList{"G1", "Residuals", "Total"}));
        formula->setText("G2");
        QTest::keyClick(formula, Qt::Key_Return);
        QCOMPARE(row_names(table()), (QStringList{"G2", "Residuals", "Total"}));
        run_model("G1 * G2");
        QCOMPARE(table()->item(3, 0)->text(), QStringLiteral("36"));
        QCOMPARE(table()->item(1, 4)->text(), QString::number(recorded("G2", "F"), 'g', 6));
        const double sequential = recorded("G1", "ss");
        // Type III sums of squares chosen on the page reach the model: G1
        // after G2 and the interaction is not G1 first.
        named<QComboBox>("ModelSsBox")->setCurrentIndex(2);
        run_model("G1 * G2");
        QVERIFY(std::abs(recorded("G1", "ss") - sequential) > 1e-6);
        QCOMPARE(table()->item(0, 1)->text(), QString::number(recorded("G1", "ss"), 'g', 6));
        QVERIFY(named<QPlainTextEdit>("ResultsBox")->toPlainText().contains("III"));
        // Another test's report replaces the model's: its table goes too.
        click("RunTwoWayF");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QCOMPARE(table()->rowCount(), 0);
        QCOMPARE(table()->columnCount(), 0);  // no headers numbered 1, 2, ... left standing
    }

    void pairwiseComparisonsFollowTheTable() {
        load("importButton", "plethodon.csv");
        auto* pairwise = named<QComboBox>("ModelPairwiseBox");
        const int species = pairwise->findText("species");
        QVERIFY(species > 0);
        pairwise->setCurrentIndex(species);
        run_model("species * site");
        auto* pairs = named<QTableWidget>("ModelPairsTable");
        QCOMPARE(pairs->rowCount(), 1);  // Jord - Teyah
        QCOMPARE(pairs->horizontalHeaderItem(0)->text(), QStringLiteral("d"));
        QVERIFY(pairs->item(0, 0)->text().toDouble() > 0);
        // Plain means, chosen on the page, are the species' own averages.
        named<QComboBox>("ModelMeansBox")->setCurrentIndex(1);
        run_model("species * site");
        QVERIFY(named<QPlainTextEdit>("ResultsBox")->toPlainText().contains("plain means of species"));
        QCOMPARE(pairs->rowCount(), 1);
        // The cells of two factors: four, in six pairs.
        pairwise->setCurrentIndex(pairwise->findText("species:site"));
        QVERIFY(pairwise->currentIndex() > 0);
        run_model("species * site");
        QCOMPARE(pairs->rowCount(), 6);
    }

    void aRefusedFormulaKeepsTheLastTable() {
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.groups.txt");
        run_model("G1");
        QCOMPARE(table()->rowCount(), 3);
        run_model("G1 * nosuch");
        QVERIFY(program->shell().last_outcome() != Outcome::Reported);
        QCOMPARE(row_names(table()), (QStringList{"G1", "Residuals", "Total"}));
        QCOMPARE(program->shell().workspace().landmarks.rows(), Eigen::Index(40));
    }
};

// Landmarks in space in the real window: the 3-D choice beside Load and the
// view that turns them with the mouse.
class SpacePanelTest : public quillan::test::WindowRig {
    Q_OBJECT

private:
    std::unique_ptr<SpacePanel> panel;

    std::size_t marks() {
        std::size_t n = 0;
        for (const auto& d : panel->canvas()->scene().dots) n += d.specimens.size();
        return n;
    }
    // A drag with the left button held, from `from` by `by`.
    void drag(QPoint from, QPoint by) {
        QWidget* c = panel->canvas();
        QTest::mousePress(c, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(from + by), c->mapToGlobal(QPointF(from + by)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(c, &move);
        QTest::mouseRelease(c, Qt::LeftButton, {}, from + by);
    }

private slots:
    void init() {
        open_window();
        answer_dialogs();
        panel = std::make_unique<SpacePanel>(*program, *session, gui->widget(fig));
        QVERIFY(panel->canvas());
        named<QTabWidget>("resultTabs")->setCurrentWidget(named("spacePage"));
    }

    void cleanup() {
        panel.reset();
        close_window();
    }

    void theChoiceBesideLoadReadsSpaceAndTheViewTurnsIt() {
        QVERIFY(panel->canvas()->scene().size.isEmpty());
        auto* choice = named<QCheckBox>("DimensionsChoice");
        QVERIFY(choice && !choice->isChecked());
        choice->setChecked(true);
        QCOMPARE(program->shell().landmark_dimensions(), 3);
        load("loadLandmarksButton", "macaques.lm.txt");
        load("loadGroupsButton", "macaques.groups.txt");
        QCOMPARE(program->shell().workspace().dimensions, 3);
        QCOMPARE(marks(), std::size_t(18 * 7));
        QCOMPARE(panel->canvas()->scene().legend.size(), std::size_t(2));
        // A drag across turns about the screen's vertical axis, by its length.
        const Eigen::Matrix3d before = panel->canvas()->turn();
        drag(QPoint(100, 100), QPoint(50, 0));
        const Eigen::Matrix3d expected = Eigen::AngleAxisd(0.5, Eigen::Vector3d::UnitY()).toRotationMatrix() * before;
        QVERIFY((panel->canvas()->turn() - expected).norm() < 1e-12);
        // + and - zoom a step each, within limits; Home (as a double click)
        // turns it back and unzooms it.
        QTest::keyClick(panel->canvas(), Qt::Key_Plus);
        QCOMPARE(panel->canvas()->zoom(), TurningCanvas::kZoomStep);
        for (int i = 0; i < 40; ++i) QTest::keyClick(panel->canvas(), Qt::Key_Minus);
        QCOMPARE(panel->canvas()->zoom(), TurningCanvas::kMinZoom);
        for (int i = 0; i < 40; ++i) QTest::keyClick(panel->canvas(), Qt::Key_Plus);
        QCOMPARE(panel->canvas()->zoom(), TurningCanvas::kMaxZoom);
        QTest::keyClick(panel->canvas(), Qt::Key_Home);
        QVERIFY((panel->canvas()->turn() - before).norm() < 1e-12);
        QCOMPARE(panel->canvas()->zoom(), 1.0);
        QTest::keyClick(panel->canvas(), Qt::Key_Up);
        QVERIFY((panel->canvas()->turn() - before).norm() > 0.1);
        // Landmarks in the plane leave the view with its reason.
        choice->setChecked(false);
        QCOMPARE(program->shell().landmark_dimensions(), 2);
        load("loadLandmarksButton", "plethodon.lm.txt");
        QVERIFY(panel->canvas()->scene().size.isEmpty());
        QVERIFY(named<QLabel>("spaceStatus")->text().contains("3-D"));
    }
};

// The Plots area of the real window: it follows what is loaded and the last
// test, names the specimen under the mouse and exports what it shows.
class PlotsPanelTest : public quillan::test::WindowRig {
    Q_OBJECT

private:
    std::unique_ptr<PlotsPanel> panel;

    QString status() { return named<QLabel>("plotStatus")->text(); }

private slots:
    void init() {
        open_window();
        answer_dialogs();
        panel = std::make_unique<PlotsPanel>(*gui, *program, *session, gui->widget(fig));
        QVERIFY(panel->attached());
        named<QTabWidget>("resultTabs")->setCurrentWidget(named("plotsPage"));
    }

    void cleanup() {
        panel.reset();
        close_window();
    }

    void followsTheLoadedSpecimensAndNamesThePointedOne() {
        QVERIFY(panel->canvas()->scene().size.isEmpty());
        QVERIFY(status().contains("Load a landmark file"));
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.species.groups.txt");
        const Scene& s = panel->canvas()->scene();
        QVERIFY(!s.size.isEmpty());
        std::size_t marks = 0;
        for (const auto& d : s.dots) marks += d.specimens.size();
        QCOMPARE(marks, std::size_t(40 * 12));
        QCOMPARE(s.legend.size(), std::size_t(2));
        // Pointing at the first mark of a specimen names it by its line.
        const SceneDots& batch = s.dots[1];
        const QPointF at = batch.points[0];
        QTest::mouseMove(panel->canvas(), at.toPoint());
        QTest::mouseClick(panel->canvas(), Qt::LeftButton, {}, at.toPoint());
        QVERIFY2(status().startsWith(QStringLiteral("Specimen ")) && status().contains("(line "), qPrintable(status()));
        QVERIFY(status().contains("Group 2"));
        // Every picture of the loaded data draws.
        auto* kind = named<QComboBox>("plotKind");
        for (int k = 0; k < 4; ++k) {
            kind->setCurrentIndex(k);
            QVERIFY2(!panel->canvas()->scene().size.isEmpty(), qPrintable(status()));
        }
        // A grouping the group file lacks: the shapes are drawn ungrouped and the status says why.
        kind->setCurrentIndex(0);
        named<QComboBox>("plotGroupBy")->setCurrentIndex(2);
        QVERIFY(!panel->canvas()->scene().size.isEmpty());
        QVERIFY(panel->canvas()->scene().legend.empty());
        QVERIFY2(status().contains("needs two") && status().contains("without grouping"), qPrintable(status()));
        // Clearing the workspace clears the pictures.
        press("clearButton");
        QVERIFY(panel->canvas()->scene().size.isEmpty());
    }

    void groupsOfAnImportAreNamedByTheirLevels() {
        load("importButton", "plethodon.csv");
        QStringList names;
        for (const auto& entry : panel->canvas()->scene().legend) names << entry.name;
        QVERIFY2(names.contains("Jord") && names.contains("Teyah"), qPrintable(names.join(", ")));
        // Pointing at a specimen names its ID in the file.
        const QPointF at = panel->canvas()->scene().dots[0].points[0];
        QTest::mouseMove(panel->canvas(), at.toPoint());
        QTest::mouseClick(panel->canvas(), Qt::LeftButton, {}, at.toPoint());
        QVERIFY2(status().contains(QStringLiteral(", ID P")), qPrintable(status()));
        // Colour by names the factors.
        auto* by = named<QComboBox>("plotGroupBy");
        QCOMPARE(by->itemText(1), QStringLiteral("species (G1)"));
        QCOMPARE(by->itemText(3), QStringLiteral("Cells of species x site"));
        // A group file of codes alone keeps the codes.
        load("loadGroupsButton", "plethodon.species.groups.txt");
        QCOMPARE(by->itemText(1), QStringLiteral("Grouping 1"));
        names.clear();
        for (const auto& entry : panel->canvas()->scene().legend) names << entry.name;
        QVERIFY2(names.contains("Group 1"), qPrintable(names.join(", ")));
    }

    void onlyTheChoicesOfThePictureShownCanBeChanged() {
        load("loadLandmarksButton", "plethodon.lm.txt");
        auto* kind = named<QComboBox>("plotKind");
        const char* controls[] = {"plotGroupBy", "plotPcX", "plotOutline", "plotTarget", "plotMagnification", "plotStatistic"};
        // Which of them each picture uses: superimposition, components, scree, shape change, distribution.
        const bool uses[5][6] = {{true, false, false, false, false, false},
                                 {true, true, true, false, false, false},
                                 {false, false, false, false, false, false},
                                 {false, false, false, true, true, false},
                                 {false, false, false, false, false, true}};
        for (int k = 0; k < 5; ++k) {
            kind->setCurrentIndex(k);
            for (int c = 0; c < 6; ++c) QVERIFY2(named(controls[c])->isEnabled() == uses[k][c], controls[c]);
        }
    }

    void showsTheLastTestsDistributionAndKeepsItWhenATestIsRefused() {
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.species.groups.txt");
        named<QLineEdit>("PermBox")->setText("99");
        press("oneWayFButton");
        QCOMPARE(panel->distributions().distributions().size(), std::size_t(1));
        QCOMPARE(panel->distributions().distributions()[0].permutations, 99LL);
        QCOMPARE(named<QComboBox>("plotKind")->currentIndex(), 4);
        QCOMPARE(named<QComboBox>("plotStatistic")->count(), 1);
        // Each histogram is titled by what its statistic is, not by its place.
        QCOMPARE(named<QComboBox>("plotStatistic")->itemText(0), QStringLiteral("One-way F test: F ratio of G1"));
        QVERIFY(!panel->canvas()->scene().boxes.empty());
        // A refused design changes nothing: the last test's histogram stays.
        press("twoWayButton");
        QCOMPARE(panel->distributions().action(), std::string("RunOneWayF"));
        QCOMPARE(panel->distributions().distributions().size(), std::size_t(1));
        QVERIFY(program->shell().options().recorder == nullptr);
    }

    // A model with a covariate offers its regression scores after its
    // histograms; the next test without one takes the offer away.
    void aModelWithACovariateOffersItsRegressionScores() {
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.species.groups.txt");
        load("loadCovariateButton", "plethodon.cov.txt");
        named<QLineEdit>("PermBox")->setText("9");
        program->shell().given_options()["formula"] = "cov + G1";  // as the Models page hands it over
        press("runModelButton");
        auto* statistic = named<QComboBox>("plotStatistic");
        QCOMPARE(statistic->count(), 3);
        QCOMPARE(statistic->itemText(2), QStringLiteral("Regression score on cov"));
        statistic->setCurrentIndex(2);
        const Scene& s = panel->canvas()->scene();
        QVERIFY(std::any_of(s.texts.begin(), s.texts.end(),
                            [](const SceneText& t) { return t.text == QStringLiteral("Regression score of shape on cov"); }));
        std::size_t marks = 0;
        for (const auto& d : s.dots) marks += d.specimens.size();
        QCOMPARE(marks, std::size_t(40));
        press("oneWayFButton");
        QCOMPARE(statistic->count(), 1);
        QVERIFY(!panel->distributions().regression_scores().has_value());
    }

    // A shape analysis lists its own pictures after its histograms, even
    // one without permutations; the next test replaces them.
    void aShapeAnalysisOffersItsPictures() {
        load("importButton", "plethodon.csv");
        named<QLineEdit>("PermBox")->setText("9");
        press("outliersButton");
        auto* statistic = named<QComboBox>("plotStatistic");
        QCOMPARE(named<QComboBox>("plotKind")->currentIndex(), 4);
        QCOMPARE(statistic->count(), 2);
        QCOMPARE(statistic->itemText(0), QStringLiteral("Outliers: Procrustes distance from the mean"));
        QVERIFY(statistic->itemText(1).startsWith(QStringLiteral("Outliers: P14, the farthest specimen")));
        for (int i = 0; i < 2; ++i) {
            statistic->setCurrentIndex(i);
            QVERIFY2(!panel->canvas()->scene().size.isEmpty(), qPrintable(status()));
            QVERIFY(!named("plotMagnification")->isEnabled());
        }
        press("disparityButton");
        QCOMPARE(statistic->count(), 2);  // the difference's histogram, then the bars
        QCOMPARE(statistic->itemText(1), QStringLiteral("Disparity: Procrustes variance of each group of species"));
        // A shape change takes the magnification chosen, and says it.
        press("cvaButton");
        statistic->setCurrentIndex(statistic->count() - 1);
        QVERIFY(named("plotMagnification")->isEnabled());
        named<QDoubleSpinBox>("plotMagnification")->setValue(3);
        QVERIFY(std::any_of(panel->canvas()->scene().texts.begin(), panel->canvas()->scene().texts.end(),
                            [](const SceneText& t) { return t.text.contains(QStringLiteral("magnified 3 times")); }));
    }

    // An imported file's own wireframe is drawn until a links file is chosen;
    // a refused import leaves both the landmarks and the links shown.
    void anImportedWireframeGivesWayToALinksFileChosenAfterIt() {
        const auto wires = [&] {
            int n = 0;
            for (const auto& p : panel->canvas()->scene().paths) n += p.width == 1.2 * kPoint ? 1 : 0;
            return n;
        };
        load("importButton", "macaques.morphologika.txt");
        QCOMPARE(panel->links().size(), std::size_t(10));
        QCOMPARE(wires(), 4 * 10);  // in each of the three views and the perspective
        QTemporaryDir dir;
        const std::string links = (dir.path() + "/links.txt").toStdString();
        std::ofstream(links) << "1 2\n2 3\n";
        answer = links;
        press("plotLinksButton");
        QCOMPARE(wires(), 4 * 2);
        const std::string bad = (dir.path() + "/bad.txt").toStdString();
        std::ofstream(bad) << "[individuals]\n1\n[landmarks]\n2\n[rawpoints]\n0 0 0\n1 1 1\n[wireframe]\n1 3\n";
        const Matrix before = program->shell().workspace().landmarks;
        const auto told = gui->messages().size();
        answer = bad;
        press("importButton");
        QCOMPARE(gui->messages().size(), told + 1);
        QVERIFY(gui->messages().back().text.find("line 9, [wireframe] names landmark 3") != std::string::npos);
        QVERIFY(program->shell().workspace().landmarks == before);
        QCOMPARE(wires(), 4 * 2);
    }

    void exportsThePictureAndRefusesABadLinksFile() {
        QTemporaryDir dir;
        load("loadLandmarksButton", "plethodon.lm.txt");
        answer = (dir.path() + "/superimposition.svg").toStdString();
        press("plotExportButton");
        QVERIFY(std::filesystem::file_size(answer) > 1000);
        const std::string links = (dir.path() + "/links.txt").toStdString();
        std::ofstream(links) << "1 2\n3 x\n";
        answer = links;
        const auto before = gui->messages().size();
        press("plotLinksButton");
        QCOMPARE(gui->messages().size(), before + 1);
        QVERIFY(gui->messages().back().text.find("line 2: \"x\" is not a landmark number") != std::string::npos);
        std::ofstream(links) << "1 2\n2 3\n";
        const auto paths = panel->canvas()->scene().paths.size();
        press("plotLinksButton");
        QCOMPARE(panel->canvas()->scene().paths.size(), paths + 2);
        // Landmarks of another count drop the wireframe, though its links
        // would still name landmarks they have.
        const auto told = gui->messages().size();
        load("loadLandmarksButton", "mosquito.lm.txt");
        QCOMPARE(gui->messages().size(), told + 1);
        QVERIFY(gui->messages().back().text.find("was read for 12 landmarks, and the landmarks now loaded have 18") !=
                std::string::npos);
        const auto bare = panel->canvas()->scene().paths.size();
        answer = links;
        press("plotLinksButton");  // the same links again add their lines: none were left
        QCOMPARE(panel->canvas()->scene().paths.size(), bare + 2);
        // For the README: a picture of the Plots area with a test's data.
        if (const char* shot = std::getenv("QUILLAN_PLOTS_SCREENSHOT")) {
            load("loadGroupsButton", "plethodon.species.groups.txt");
            named<QComboBox>("plotKind")->setCurrentIndex(1);
            gui->widget(fig)->resize(1400, 860);
            QTest::qWait(200);
            gui->widget(fig)->grab().save(QString::fromLocal8Bit(shot), "PNG");
        }
    }
};

// The Toolkit page of the real window: its choices reach the shape
// analyses its buttons run, and the Models page's choices do not.
// The whole window as the program builds it (every panel, the real layout):
// a setting made in an action's own control reaches that action's report,
// and no page's settings reach another page's actions.
class WholeWindowTest : public quillan::test::WholeWindowRig {
    Q_OBJECT

private:
    QString report() { return named<QPlainTextEdit>("ResultsBox")->toPlainText(); }
    // Presses `button`; true when the action reported.
    bool reported(const char* button) {
        press(button);
        return program->shell().last_outcome() == Outcome::Reported;
    }
    void set_box(const char* name, const std::string& text) { named<QLineEdit>(name)->setText(QString::fromStdString(text)); }
    QString partition() { return QString::fromStdString(test::data_file("plethodon.partition.txt")); }

private slots:
    void init() {
        open_whole_window();
        answer_dialogs();
        named<QLineEdit>("PermBox")->setText("19");
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.groups.txt");
    }
    void cleanup() { close_whole_window(); }

    // Every option of an action with a button has its control on the page
    // of that button, and every control there names an option of the page.
    void everyOptionOfAButtonHasItsControl() {
        QWidget* window = gui->widget(fig);
        for (const ActionRow& row : action_table()) {
            QWidget* page = page_of_action(window, row.name);
            if (!page) continue;
            std::set<std::string> bound;
            for (QWidget* c : option_controls(page)) bound.insert(c->property("option").toString().toStdString());
            for (QWidget* c : option_controls(window))
                if (c->property("optionEveryPage").toBool()) bound.insert(c->property("option").toString().toStdString());
            for (const OptionDecl& o : row.options)
                QVERIFY2(bound.count(o.name), qPrintable(QString("%1: no control for --%2").arg(row.name, o.name)));
        }
        for (QWidget* c : option_controls(window)) {
            const std::string name = c->property("option").toString().toStdString();
            bool declared = false;
            for (const DeclaredOption& d : declared_options()) declared = declared || name == d.decl->name;
            QVERIFY2(declared, qPrintable(c->objectName() + ": no action has the option " + QString::fromStdString(name)));
        }
    }

    // The Phylogeny page: the tree's line beside the file box's, a NEXUS
    // file's tree chosen by the name box (one it lacks refused, the tree
    // before kept), and its analyses reading its own boxes.
    void thePhylogenyPageLoadsTheNamedTreeAndRunsOnIt() {
        const auto tree_line = [this] { return named<QLabel>("TreeInfo")->text(); };
        const auto said = [this] { return QString::fromStdString(program->shell().last_message()); };
        QCOMPARE(tree_line(), QString("No tree loaded."));
        load("loadTreeButton", "phylo1000/phylo1000.tre");
        const QString line("Tree File: phylo1000.tre with 1000 tips, not ultrametric, 1 polytomy, branches 0.0001309 to 0.9984");
        QVERIFY2(named<QPlainTextEdit>("FileBox")->toPlainText().endsWith(line),
                 qPrintable(named<QPlainTextEdit>("FileBox")->toPlainText()));
        QCOMPARE(tree_line(), line);
        QTemporaryDir scratch;
        answer = scratch.filePath("two.nex").toStdString();
        std::ofstream(answer) << "#NEXUS\nbegin trees; tree a = (P01:1,P02:1); tree b = ((P01:1,P02:1):1,P03:2); end;\n";
        set_box("TreeNameBox", "c");
        press("loadTreeButton");
        QVERIFY2(said().contains("no tree named \"c\""), qPrintable(said()));
        QCOMPARE(tree_line(), line);
        set_box("TreeNameBox", " b ");
        press("loadTreeButton");
        QVERIFY2(tree_line().startsWith("Tree File: two.nex with 3 tips, ultrametric, no polytomies"), qPrintable(tree_line()));
        load("importButton", "plethspecies/plethspecies.tps");
        set_box("TreeNameBox", "");
        load("loadTreeButton", "plethspecies/plethspecies.tre");
        named<QComboBox>("PhyloAlignBox")->setCurrentIndex(1);
        QVERIFY2(reported("physignalButton"), qPrintable(said()));
        QVERIFY2(report().contains("partial Procrustes") && report().contains("9 tips matched"), qPrintable(report()));
        named<QComboBox>("PhyloComponentsBox")->setCurrentIndex(2);
        QVERIFY2(reported("phyloPcaButton"), qPrintable(said()));
        QVERIFY2(report().contains("phylogenetically aligned components"), qPrintable(report()));
        press("clearButton");
        QCOMPARE(tree_line(), QString("No tree loaded."));
    }

    void integrationAndModularityReadThePartitionBox() {
        QVERIFY(!reported("integrationButton"));
        named<QLineEdit>("ToolkitPartitionBox")->setText(partition());
        QVERIFY2(reported("integrationButton"), qPrintable(QString::fromStdString(program->shell().last_message())));
        QVERIFY(report().contains("plethodon.partition.txt"));
        named<QCheckBox>("ToolkitRotationBox")->setChecked(false);
        QVERIFY2(reported("modularityButton"), qPrintable(QString::fromStdString(program->shell().last_message())));
        QVERIFY2(report().contains("no rotation search"), qPrintable(report()));
    }

    void disparityReadsTheToolkitsModelAndAlignmentNotTheModelsPage() {
        // The Models page holds another alignment and a formula disparity cannot fit.
        named<QComboBox>("ModelAlignBox")->setCurrentIndex(1);
        set_box("ModelFormulaBox", "G1 * G2");
        set_box("ToolkitFormulaBox", "~ 1");
        QVERIFY2(reported("disparityButton"), qPrintable(QString::fromStdString(program->shell().last_message())));
        QVERIFY2(report().contains("full Procrustes") && !report().contains("~ G1"), qPrintable(report()));
        set_box("ToolkitFormulaBox", "~ G1");
        named<QComboBox>("ToolkitAlignBox")->setCurrentIndex(1);
        QVERIFY(reported("disparityButton"));
        QVERIFY2(report().contains("partial Procrustes") && report().contains("~ G1"), qPrintable(report()));
    }

    void outliersFollowTheToolkitsAlignmentAndGroups() {
        named<QComboBox>("ModelAlignBox")->setCurrentIndex(1);
        QVERIFY(reported("outliersButton"));
        QVERIFY2(report().contains("full Procrustes") && report().contains("mean of all specimens"), qPrintable(report()));
        named<QCheckBox>("ToolkitWithinBox")->setChecked(true);
        QVERIFY(reported("outliersButton"));
        QVERIFY2(report().contains("own group of G1"), qPrintable(report()));
        QVERIFY2(report().contains("iterated to its optimum"), qPrintable(report()));
        named<QComboBox>("ToolkitGpaStepsBox")->setCurrentIndex(1);
        QVERIFY(reported("outliersButton"));
        QVERIFY2(report().contains("consensus's own steps"), qPrintable(report()));
    }

    // One tick, beside the exports, size-corrects the analyses of both pages
    // and the specimens' table, for the size model of the allometry boxes.
    void theSizeCorrectionTickReachesEveryPageAndTheExport() {
        const auto header = [&](const char* name) {
            press_with_file("ExportSpecimens", dir->filePath(name).toStdString());
            std::ifstream in(dir->filePath(name).toStdString());
            std::string first, second;
            std::getline(in, first);
            std::getline(in, second);
            return std::make_pair(first, second);
        };
        QVERIFY(header("plain.csv").first.find(",sc_x1") == std::string::npos);
        named<QCheckBox>("SizeCorrectedBox")->setChecked(true);
        const auto pooled = header("pooled.csv");
        QVERIFY2(pooled.first.find(",sc_x1,sc_y1") != std::string::npos, pooled.first.c_str());
        set_box("ToolkitSizeGroupBox", "G1");
        const auto within = header("within.csv");
        QVERIFY2(within.second != pooled.second, within.second.c_str());
        for (const char* button : {"runModelButton", "outliersButton"}) {
            QVERIFY2(reported(button), button);
            QVERIFY2(report().contains("Size-corrected: the residuals of shape ~ log(C_size) * G1 plus the mean shape"),
                     qPrintable(report()));
        }
        named<QComboBox>("ToolkitLogSizeBox")->setCurrentIndex(1);
        QVERIFY(reported("runModelButton"));
        QVERIFY2(report().contains("shape ~ C_size * G1 plus"), qPrintable(report()));
        named<QCheckBox>("SizeCorrectedBox")->setChecked(false);
        QVERIFY(reported("runModelButton"));
        QVERIFY2(!report().contains("Size-corrected"), qPrintable(report()));
    }

    void canonicalVariatesLeaveOutOnlyWhenTicked() {
        QVERIFY(reported("cvaButton"));
        QVERIFY(report().contains("Cross-validated classification"));
        named<QCheckBox>("ToolkitCrossValidateBox")->setChecked(false);
        QVERIFY(reported("cvaButton"));
        QVERIFY2(!report().contains("Cross-validated classification"), qPrintable(report()));
    }

    void plsReadsTheSecondBlockBox() {
        QVERIFY(!reported("plsButton"));
        set_box("ToolkitBlock2Box", test::data_file("plethodon.cov.txt"));
        QVERIFY2(reported("plsButton"), qPrintable(QString::fromStdString(program->shell().last_message())));
        QVERIFY(report().contains("plethodon.cov.txt"));
    }

    void symmetryReadsItsBoxes() {
        QVERIFY(reported("symmetryButton"));
        QVERIFY2(report().contains("Matching symmetry: individuals from G1"), qPrintable(report()));
        set_box("ToolkitMirrorBox", "7");
        QVERIFY(!reported("symmetryButton"));
        set_box("ToolkitMirrorBox", "");
        QTemporaryDir scratch;
        const std::string pairs = scratch.filePath("pairs.txt").toStdString();
        std::ofstream(pairs) << "1 5\n2 4\n";
        set_box("ToolkitLandPairsBox", pairs);
        QVERIFY2(reported("symmetryButton"), qPrintable(QString::fromStdString(program->shell().last_message())));
        QVERIFY2(report().contains("Object symmetry") && report().contains("the 2 land pairs"), qPrintable(report()));
    }

    void theModelReadsItsPageAndNotTheToolkits() {
        named<QComboBox>("ToolkitAlignBox")->setCurrentIndex(1);
        set_box("ToolkitFormulaBox", "~ G1");
        set_box("ModelFormulaBox", "G1 * G2");
        QVERIFY(reported("runModelButton"));
        QVERIFY2(!report().contains("partial Procrustes"), qPrintable(report()));
        // Beside the report, why its Total SS is not the classic tests'.
        QVERIFY2(panels->main_window->status_text().contains("tangent space"), qPrintable(panels->main_window->status_text()));
        const QString sequential = report();
        named<QComboBox>("ModelSsBox")->setCurrentIndex(2);
        named<QComboBox>("ModelPermuteBox")->setCurrentIndex(1);
        named<QComboBox>("ModelAlignBox")->setCurrentIndex(1);
        set_box("ModelErrorBox", "Residuals,Residuals,Residuals");
        QVERIFY2(reported("runModelButton"), qPrintable(QString::fromStdString(program->shell().last_message())));
        QVERIFY2(report().contains("III") && report().contains("partial"), qPrintable(report()));
        QVERIFY(report() != sequential);
    }

    // A factor table with a value missing serves the analyses of its other
    // columns; the factor without it is refused as G1, naming the specimen,
    // until "Leave out missing" leaves that specimen out of every table.
    void aFactorWithoutAValueIsLeftOutOnlyWhenTicked() {
        load("importButton", "plethodon.csv");
        QTemporaryDir scratch;
        answer = scratch.filePath("habitats.csv").toStdString();
        {
            std::ofstream out(answer);
            out << "ID,habitat,sex\n";
            for (int i = 1; i <= 40; ++i)
                out << (i < 10 ? "P0" : "P") << i << ","
                    << (i == 3  ? "NA"
                        : i % 2 ? "wet"
                                : "dry")
                    << ","
                    << "fm"[i % 3 == 0] << "\n";
        }
        press("loadGroupsButton");
        const auto said = [this] { return QString::fromStdString(program->shell().last_message()); };
        QVERIFY2(program->shell().last_outcome() == Outcome::Done, qPrintable(said()));
        const auto grouped_by = [this] { return program->shell().last_record().run.groups.at(0).name; };
        QVERIFY(reported("oneWayButton"));
        QCOMPARE(grouped_by(), std::string("sex"));
        auto* g1 = named<QComboBox>("G1Choice");
        const int habitat = g1->findText("habitat");
        QVERIFY(habitat > 0);
        const auto choose = [g1](int index) {
            g1->setCurrentIndex(index);
            emit g1->activated(index);
        };
        choose(habitat);
        QCOMPARE(program->shell().last_outcome(), Outcome::Failed);
        QVERIFY2(said().contains("\"habitat\" of habitats.csv (1 specimen: P03)") && said().contains("Leave out missing"),
                 qPrintable(said()));
        QCOMPARE(g1->currentText(), QString("sex"));
        QCOMPARE(program->shell().workspace().landmarks.rows(), 40);
        named<QCheckBox>("LeaveOutMissingChoice")->setChecked(true);
        choose(habitat);
        QVERIFY2(program->shell().last_outcome() == Outcome::Done, qPrintable(said()));
        QCOMPARE(program->shell().workspace().groups.rows(), 39);
        QVERIFY(named<QPlainTextEdit>("FileBox")->toPlainText().contains("1 of 40 specimens left out, having no value of"));
        QVERIFY(reported("oneWayButton"));
        QCOMPARE(grouped_by(), std::string("habitat"));
        QCOMPARE(program->shell().last_record().run.left_out, std::vector<std::string>{"P03"});
    }

    void saveReportWaitsForAReport() {
        auto* save = named<QPushButton>("saveButton");
        QVERIFY(!save->isEnabled());
        QVERIFY(reported("twoWayButton"));
        QVERIFY(save->isEnabled());
        QVERIFY(!panels->main_window->status_text().contains("tangent space"));
    }

    // A test of groups takes no option: nothing on either page changes it.
    void theClassicTestsIgnoreBothPages() {
        const auto sums = [this] { return report().split('\n').filter(QStringLiteral("SS")); };
        load("loadGroupsButton", "plethodon.species.groups.txt");
        QVERIFY(reported("oneWayButton"));
        const QStringList before = sums();
        QVERIFY(!before.isEmpty());
        named<QComboBox>("ToolkitAlignBox")->setCurrentIndex(1);
        named<QComboBox>("ModelAlignBox")->setCurrentIndex(1);
        set_box("ModelFormulaBox", "nosuch");
        QVERIFY(reported("oneWayButton"));
        QCOMPARE(sums(), before);
    }
};

// Runs every class, or with test function names given, the classes that
// have them (options such as -v2 go to each).
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    const auto runs = [&](QObject& t) {
        for (int i = 1; i < argc; ++i)
            if (argv[i][0] != '-' && t.metaObject()->indexOfMethod((QByteArray(argv[i]) + "()").constData()) < 0) return false;
        return true;
    };
    int failed = 0;
    const auto run = [&](QObject&& t) {
        if (runs(t)) failed += QTest::qExec(&t, argc, argv) != 0;
    };
    run(MainWindowTest());
    run(DailyUseTest());
    run(DemandingUseTest());
    run(ModelsPanelTest());
    run(SpacePanelTest());
    run(PlotsPanelTest());
    run(WholeWindowTest());
    return failed == 0 ? 0 : 1;
}

#include "window_test.moc"
