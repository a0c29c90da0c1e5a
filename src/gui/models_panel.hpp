// The Models page of the main window: the Procrustes linear model of a
// formula.  Its controls come from the layout file (the modelsPage tab):
// the formula box, which offers the names the loaded data give (G1, G2,
// cov and an import's columns), the sums of squares, the alignment, the
// randomization, the error terms and the factor to compare pairwise.  Those
// controls are bound to the model's options by their "option" property (see
// option_binder.hpp); this panel only fills what they offer from the loaded
// data and, when the model has reported, shows its table and pairwise
// comparisons beside the report.
#pragma once

#include <QPointer>
#include <QStringList>

class QComboBox;
class QCompleter;
class QLabel;
class QLineEdit;
class QStringListModel;
class QTableWidget;
class QWidget;

namespace quillan {

class Program;
class Session;
struct ResultRecord;

class ModelsPanel {
public:
    // Attaches to the modelsPage controls of `window`; without them (an
    // older layout file) the panel does nothing.
    ModelsPanel(Program& program, Session& session, QWidget* window);
    ~ModelsPanel();
    ModelsPanel(const ModelsPanel&) = delete;
    ModelsPanel& operator=(const ModelsPanel&) = delete;

    bool attached() const { return formula_ != nullptr; }
    // The names a formula may use with what is loaded now.
    QStringList names() const;

private:
    void action_finished(const std::string& action);
    void follow_data();
    void show_table(const ResultRecord& record);
    void show_pairs(const ResultRecord& record);

    Program& program_;
    Session& session_;
    int observer_id_ = -1;
    QPointer<QLineEdit> formula_;
    QPointer<QComboBox> pairwise_;
    QPointer<QLabel> names_label_;
    QPointer<QTableWidget> table_, pairs_;
    QStringListModel* completion_names_ = nullptr;
};

}  // namespace quillan
