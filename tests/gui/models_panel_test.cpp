// The Models page of the real window: it offers the loaded names, hands its
// choices to the linear model and shows the model's table and pairwise
// comparisons as the model recorded them.
#include "gui/models_panel.hpp"
#include "support/window_rig.hpp"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <memory>

using namespace quillan;

class ModelsPanelTest : public quillan::test::WindowRig {
    Q_OBJECT

private:
    std::unique_ptr<ModelsPanel> panel;
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
        open_window();
        answer_dialogs();
        panel = std::make_unique<ModelsPanel>(*program, *session, gui->widget(fig));
        QVERIFY(panel->attached());
        named<QLineEdit>("PermBox")->setText("99");
    }

    void cleanup() {
        panel.reset();
        close_window();
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
        QTest::mouseClick(action_button("RunTwoWayF"), Qt::LeftButton);
        QCOMPARE(program->shell().last_outcome(), Outcome::Reported);
        QCOMPARE(table()->rowCount(), 0);
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

QTEST_MAIN(ModelsPanelTest)
#include "models_panel_test.moc"
