// The Plots area of the real window: it follows what is loaded and the last
// test, names the specimen under the mouse and exports what it shows.
#include "gui/plots_panel.hpp"
#include "support/window_rig.hpp"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

using namespace quillan;

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
        program->shell().model_request().formula = "cov + G1";  // as the Models page hands it over
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
        QCOMPARE(wires(), 3 * 10);  // in each of the three views
        QTemporaryDir dir;
        const std::string links = (dir.path() + "/links.txt").toStdString();
        std::ofstream(links) << "1 2\n2 3\n";
        answer = links;
        press("plotLinksButton");
        QCOMPARE(wires(), 3 * 2);
        const std::string bad = (dir.path() + "/bad.txt").toStdString();
        std::ofstream(bad) << "[individuals]\n1\n[landmarks]\n2\n[rawpoints]\n0 0 0\n1 1 1\n[wireframe]\n1 3\n";
        const Matrix before = program->shell().workspace().landmarks;
        const auto told = gui->messages().size();
        answer = bad;
        press("importButton");
        QCOMPARE(gui->messages().size(), told + 1);
        QVERIFY(gui->messages().back().text.find("line 9, [wireframe] names landmark 3") != std::string::npos);
        QVERIFY(program->shell().workspace().landmarks == before);
        QCOMPARE(wires(), 3 * 2);
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

QTEST_MAIN(PlotsPanelTest)
#include "plots_panel_test.moc"
