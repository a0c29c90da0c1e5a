// The Toolkit page of the real window: its choices reach the shape
// analyses its buttons run, and the Models page's choices do not.
#include "gui/toolkit_panel.hpp"
#include "support/fixtures.hpp"
#include "support/window_rig.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace quillan;

class ToolkitPanelTest : public quillan::test::WindowRig {
    Q_OBJECT

private:
    std::unique_ptr<ToolkitPanel> panel;
    QString report() { return named<QPlainTextEdit>("ResultsBox")->toPlainText(); }

private slots:
    void init() {
        open_window();
        answer_dialogs();
        panel = std::make_unique<ToolkitPanel>(*program, *session, gui->widget(fig));
        QVERIFY(panel->attached());
        named<QLineEdit>("PermBox")->setText("99");
        load("loadLandmarksButton", "plethodon.lm.txt");
        load("loadGroupsButton", "plethodon.groups.txt");
    }

    void cleanup() {
        panel.reset();
        close_window();
    }

    void thePagesChoicesReachItsAnalyses() {
        press("modularityButton");
        QVERIFY(program->shell().last_outcome() != Outcome::Reported);
        named<QLineEdit>("ToolkitPartitionBox")->setText(QString::fromStdString(test::data_file("plethodon.partition.txt")));
        named<QComboBox>("ToolkitAlignBox")->setCurrentIndex(1);
        named<QCheckBox>("ToolkitRotationBox")->setChecked(false);
        press("modularityButton");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QVERIFY2(report().contains("partial Procrustes"), qPrintable(report()));
        QVERIFY(!program->shell().model_request().shape.rotation_search);
        // The disparity model typed on the page, with or without its tilde.
        named<QLineEdit>("ToolkitFormulaBox")->setText("~ G1");
        press("disparityButton");
        QVERIFY2(report().contains("~ G1"), qPrintable(report()));
        named<QCheckBox>("ToolkitWithinBox")->setChecked(true);
        press("outliersButton");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QVERIFY(program->shell().model_request().shape.within_groups);
    }

    void theSymmetryBoxesChooseItsKind() {
        // G1 and G2 as individual and side: matching symmetry.
        press("symmetryButton");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QVERIFY2(report().contains("Matching symmetry: individuals from G1"), qPrintable(report()));
        named<QLineEdit>("ToolkitMirrorBox")->setText("7");
        press("symmetryButton");
        QVERIFY(program->shell().last_outcome() != Outcome::Reported);
        named<QLineEdit>("ToolkitMirrorBox")->clear();
        const QString pairs = QDir::temp().filePath("quillan_toolkit_pairs.txt");
        QFile file(pairs);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1 5\n2 4\n");
        file.close();
        named<QLineEdit>("ToolkitLandPairsBox")->setText(pairs);
        press("symmetryButton");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QVERIFY2(report().contains("Object symmetry") && report().contains("the 2 land pairs"), qPrintable(report()));
        QFile::remove(pairs);
    }

    void theModelsPageKeepsItsOwnAlignment() {
        named<QComboBox>("ToolkitAlignBox")->setCurrentIndex(1);
        press("cvaButton");
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        // A button elsewhere is not the Toolkit page's: its request is left alone.
        program->shell().model_request().alignment = Alignment::Full;
        press("oneWayButton");
        QCOMPARE(program->shell().model_request().alignment, Alignment::Full);
    }
};

QTEST_MAIN(ToolkitPanelTest)
#include "toolkit_panel_test.moc"
