// The window as a demanding user finds it: it never grows past its screen,
// the files it names are the files the tests use, a refused choice does not
// stay on show, and notices do not cover the report.  The real layout on
// Qt's offscreen platform.
#include "analyses/action_env.hpp"
#include "byname/program.hpp"
#include "gui/main_window.hpp"
#include "gui/plots_panel.hpp"
#include "gui/qt_gui.hpp"
#include "gui/session.hpp"
#include "shell/shell.hpp"
#include "shell/window_env.hpp"
#include "support/window_rig.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QSvgRenderer>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <set>
#include <string>

using namespace quillan;

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
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        press_with_file("Load", larval);
        QVERIFY(!file_box().contains("plethodon"));
        QCOMPARE(program->shell().workspace().groups.size(), 0);

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
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", groups);
        set_text(kPermBox, "19");
        auto single_windows = [] {
            int n = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                n += w->isVisible() && w->windowTitle() == "Single-specimen groups";
            return n;
        };
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        QTest::mouseClick(action_button("RunOneWayF"), Qt::LeftButton);
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QVERIFY2(!window->status_text().contains("single specimen"), qPrintable(window->status_text()));
        QCOMPARE(single_windows(), 0);
        // Data loaded again: said again.
        press_with_file("LoadGlist", groups);
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QVERIFY(window->status_text().contains("single specimen"));
        QCOMPARE(single_windows(), 0);
    }

    void savesAndExportsGetTheirFiltersExtension() {
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        set_text(kPermBox, "19");
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kData + "/plethodon.groups.txt");
        set_text(kPermBox, "19");
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QCOMPARE(program->shell().last_outcome(), Outcome::Refused);
        // The message stays word for word; its window adds the controls.
        QCOMPARE(gui->messages().back().text, std::string(kOneWayRefusal));
        QString shown;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) shown = box->text();
        QVERIFY2(shown.startsWith(QString::fromUtf8(kOneWayRefusal)), qPrintable(shown));
        QVERIFY2(shown.contains("set G2 to (none), or load a one-column group file"), qPrintable(shown));
    }

    void theLastReportAndPicturesStayInReachDuringARun() {
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        set_text(kPermBox, "19");
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
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
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, QStringList({"loadGroupsButton", "loadCovariateButton", "importButton", "PermBox", "SeedBox", "CovBox",
                                      "oneWayButton", "oneWayFButton"}));
        // The import choices, then Clear all.
        QWidget* at = tagged("CovariateChoice");
        for (const char* next : {"NegativeChoice", "GapsChoice", "CurvesChoice", "clearButton"}) {
            at = at->nextInFocusChain();
            QCOMPARE(at->objectName(), QString(next));
        }
        // After a run the focus is back on the control that started it,
        // not on the Negatives box.
        press_with_file("Load", kLandmarks);
        press_with_file("LoadGlist", kGroups);
        set_text(kPermBox, "19");
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
        QTest::mouseClick(action_button("RunOneWay"), Qt::LeftButton);
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        choose(g1, 2);
        QVERIFY(program->shell().workspace().groups == file.rightCols(1));
        // Both again, the other way round.
        choose(g2, 1);
        QCOMPARE(program->shell().workspace().groups.cols(), 2);
        QVERIFY(program->shell().workspace().groups.col(0) == file.col(1));
        // A one-column file has no columns to offer.
        press_with_file("LoadGlist", kGroups);
        QCOMPARE(g1->count(), 1);
        QCOMPARE(program->shell().workspace().groups.cols(), 1);
    }
};

QTEST_MAIN(DemandingUseTest)
#include "demanding_use_test.moc"
