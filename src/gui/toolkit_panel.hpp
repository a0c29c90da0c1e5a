// The Toolkit page of the main window: the shape analyses beside the tests
// of groups (outliers, disparity, canonical variates, integration, two-block
// PLS, modularity, symmetry) and the options they read.  Its controls come from the
// layout file (the toolkitPage tab); the actions it serves are those whose
// buttons sit on that page, so a new analysis needs only its button there.
// Just before one of them runs, the page's choices become the request it
// reads.
#pragma once

#include <QPointer>
#include <QString>

#include <set>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;

namespace quillan {

class Program;
class Session;

class ToolkitPanel {
public:
    // Attaches to the toolkitPage controls of `window`; without them (an
    // older layout file) the panel does nothing.
    ToolkitPanel(Program& program, Session& session, QWidget* window);
    ~ToolkitPanel();
    ToolkitPanel(const ToolkitPanel&) = delete;
    ToolkitPanel& operator=(const ToolkitPanel&) = delete;

    bool attached() const;

private:
    void action_started(const std::string& action);

    Program& program_;
    Session& session_;
    int observer_id_ = -1;
    std::set<std::string> actions_;
    QPointer<QComboBox> alignment_;
    QPointer<QLineEdit> partition_, block2_, formula_;
    QPointer<QLineEdit> land_pairs_, individual_, side_, replicate_, mirror_;
    QPointer<QCheckBox> within_, cross_validate_, rotation_;
};

}  // namespace quillan
