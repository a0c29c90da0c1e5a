// The window as a daily tool: the menu, the status line, the seed, dropped
// and recent files, remembered settings, closing during a run and the pause
// for a key in the terminal.  The real layout on Qt's offscreen platform.
#include "byname/program.hpp"
#include "gui/main_window.hpp"
#include "gui/qt_gui.hpp"
#include "gui/session.hpp"
#include "shell/shell.hpp"
#include "shell/window_env.hpp"
#include "support/batch_runner.hpp"
#include "support/window_rig.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include <pty.h>
#include <unistd.h>

using namespace quillan;

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
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        set_text(kPermBox, "100000000");
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
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QCOMPARE(
            gui->messages().back().text,
            std::string("No landmark file is loaded: load one with the \"Load landmarks...\" button (or \"Import...\") first."));
        press_with_file("Load", kLandmarks);
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        int buttons = 0;
        for (auto* b : tagged("analysesPage")->findChildren<QAbstractButton*>())
            if (!b->property("action").toString().isEmpty()) ++buttons;
        QCOMPARE(tests->actions().size(), buttons);
        for (QAction* a : tests->actions()) {
            QVERIFY2(!a->shortcut().isEmpty() && keys.insert(a->shortcut().toString()).second, qPrintable(a->text()));
            const int amp = a->text().indexOf('&');
            QVERIFY2(amp >= 0 && mnemonics.insert(a->text()[amp + 1].toLower()).second, qPrintable(a->text()));
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
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        set_text(kPermBox, "199");
        QCOMPARE(status(), QString("No report yet."));
        auto* seed_box = qobject_cast<QLineEdit*>(tagged("SeedBox"));
        for (const QString& seed : {QString(), QString("18446744073709551615")}) {
            seed_box->setText(seed);
            QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        const std::string report = text_of(kResultsBox);
        QVERIFY(!status().contains("out of date"));
        press_with_file("LoadClist", kCovariate);
        QVERIFY2(status().endsWith("out of date: a file was loaded after it."), qPrintable(status()));
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QVERIFY(!status().contains("out of date"));
        set_text(kPermBox, "many");
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QVERIFY2(status().endsWith("out of date: a later test failed or was refused."), qPrintable(status()));
        // A seed that is no 64-bit number is refused before the test runs.
        set_text(kPermBox, "19");
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        qobject_cast<QLineEdit*>(tagged("SeedBox"))->setText("18446744073709551616");
        const std::string before = text_of(kResultsBox);
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QVERIFY(gui->messages().back().text.find("Seed box holds \"18446744073709551616\"") != std::string::npos);
        QCOMPARE(text_of(kResultsBox), before);
        QVERIFY(status().contains("out of date"));
        QVERIFY(report != "");
        // A check that prints on the console only says so there.
        qobject_cast<QLineEdit*>(tagged("SeedBox"))->clear();
        QTest::mouseClick(action_button("TestCovariate"), Qt::LeftButton);
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
        QTest::mouseClick(action_button("LoadGlist"), Qt::LeftButton);
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
        // and comes back through Import from the recent files.
        QTest::mouseClick(action_button("Clear"), Qt::LeftButton);
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
        QTest::mouseClick(action_button("Clear"), Qt::LeftButton);
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

QTEST_MAIN(DailyUseTest)
#include "daily_use_test.moc"
