// The desktop window as a user meets it: the real layout file, the Qt
// backend, the session that runs the actions, and the dispatcher behind it.
#include "byname/program.hpp"
#include "gui/console_key.hpp"
#include "gui/qt_gui.hpp"
#include "gui/session.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "shell/memory_window.hpp"
#include "shell/shell.hpp"
#include "shell/window_env.hpp"
#include "shell/window_utils.hpp"
#include "support/fixtures.hpp"
#include "support/text.hpp"
#include "support/window_rig.hpp"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

using namespace quillan;
using quillan::test::error_of;
using quillan::test::read_bytes;

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
        QTest::mouseClick(action_button("SaveOut"), Qt::LeftButton);
        QCOMPARE(read_bytes(target), std::string("\n A\n B\n C"));
        QVERIFY(gui->dialogs().back().kind == QtGui::DialogKind::Save);

        // Text the widget cannot show as it is (a carriage return, a byte
        // that is not UTF-8, a tab, trailing blanks, percent signs and
        // backslashes) is still saved exactly as it was set.
        const std::string odd = "F=2.5  p<0.001\t \r\nn\xE9 100% \\n  \n\nlast   ";
        gui->set(results, "String", Value(odd));
        QTest::mouseClick(action_button("SaveOut"), Qt::LeftButton);
        std::string expected;
        for (const auto& line : split_lines(odd)) expected += "\n " + line;
        QCOMPARE(read_bytes(target), expected);
    }

    void failingAnalysesSayWhyWithoutWaiting() {
        // Nothing is loaded: the analysis ends with its message in a window that does not block.
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QCOMPARE(gui->messages().size(), std::size_t{1});
        QVERIFY(gui->messages()[0].text.find("No landmark file is loaded") != std::string::npos);
        QCOMPARE(gui->messages()[0].title, std::string("Error"));
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible()) box = m;
        QVERIFY(box);
        QVERIFY(box->text().contains("No landmark file is loaded"));
        QVERIFY(!box->isModal());
        // The window still takes presses: a two-way design is refused, its message without a title.
        QTest::mouseClick(action_button("RunTwoWay"), Qt::LeftButton);
        QCOMPARE(gui->messages().size(), std::size_t{2});
        QCOMPARE(gui->messages()[1].title, std::string());
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
        QTimer::singleShot(50, this, [&] { QTest::mouseClick(clear, Qt::LeftButton); });
        QTimer::singleShot(150, this, [&] { gui->widget(fig)->close(); });
        bool stopped = false;
        int reports = 0;
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
        QVERIFY(reports > 10);
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
