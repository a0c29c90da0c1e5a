#include "gui/toolkit_panel.hpp"

#include "analyses/linear_models/model_request.hpp"
#include "byname/program.hpp"
#include "gui/session.hpp"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QWidget>

namespace quillan {

namespace {

// A Browse button beside a file box: the chosen file's path goes into the
// box, which stays editable for a path typed or pasted by hand.
void browse_into(QAbstractButton* button, QLineEdit* box, const QString& title) {
    if (!button || !box) return;
    QObject::connect(button, &QAbstractButton::clicked, box, [box, title] {
        const QString path = QFileDialog::getOpenFileName(box->window(), title, box->text());
        if (!path.isEmpty()) box->setText(path);
    });
}

}  // namespace

ToolkitPanel::ToolkitPanel(Program& program, Session& session, QWidget* window) : program_(program), session_(session) {
    if (!window) return;
    QWidget* page = window->findChild<QWidget*>(QStringLiteral("toolkitPage"));
    if (!page) return;
    const auto find = [page](const char* name) { return page->findChild<QWidget*>(QString::fromLatin1(name)); };
    alignment_ = qobject_cast<QComboBox*>(find("ToolkitAlignBox"));
    partition_ = qobject_cast<QLineEdit*>(find("ToolkitPartitionBox"));
    block2_ = qobject_cast<QLineEdit*>(find("ToolkitBlock2Box"));
    formula_ = qobject_cast<QLineEdit*>(find("ToolkitFormulaBox"));
    within_ = qobject_cast<QCheckBox*>(find("ToolkitWithinBox"));
    cross_validate_ = qobject_cast<QCheckBox*>(find("ToolkitCrossValidateBox"));
    rotation_ = qobject_cast<QCheckBox*>(find("ToolkitRotationBox"));
    if (!alignment_ || !partition_ || !block2_ || !formula_ || !within_ || !cross_validate_ || !rotation_) {
        alignment_ = nullptr;
        return;
    }
    for (auto* b : page->findChildren<QAbstractButton*>()) {
        const QString action = b->property("action").toString();
        if (!action.isEmpty()) actions_.insert(action.toStdString());
    }
    browse_into(qobject_cast<QAbstractButton*>(find("ToolkitPartitionBrowse")), partition_,
                QStringLiteral("Partition of the landmarks into modules"));
    browse_into(qobject_cast<QAbstractButton*>(find("ToolkitBlock2Browse")), block2_,
                QStringLiteral("Table of the second block"));
    // The symmetry boxes, where the layout has them.
    land_pairs_ = qobject_cast<QLineEdit*>(find("ToolkitLandPairsBox"));
    individual_ = qobject_cast<QLineEdit*>(find("ToolkitIndividualBox"));
    side_ = qobject_cast<QLineEdit*>(find("ToolkitSideBox"));
    replicate_ = qobject_cast<QLineEdit*>(find("ToolkitReplicateBox"));
    mirror_ = qobject_cast<QLineEdit*>(find("ToolkitMirrorBox"));
    browse_into(qobject_cast<QAbstractButton*>(find("ToolkitLandPairsBrowse")), land_pairs_,
                QStringLiteral("Pairs of matching landmarks"));
    observer_id_ = session_.add_action_observer([this](const std::string& action, bool finished) {
        if (!finished) action_started(action);
    });
}

ToolkitPanel::~ToolkitPanel() {
    if (observer_id_ >= 0) session_.remove_action_observer(observer_id_);
}

bool ToolkitPanel::attached() const { return alignment_ != nullptr; }

void ToolkitPanel::action_started(const std::string& action) {
    if (!actions_.count(action)) return;
    ModelRequest& q = program_.shell().model_request();
    q.alignment = alignment_->currentIndex() == 1 ? Alignment::Partial : Alignment::Full;
    // The model box of disparity; the Models page sets its own formula before a model runs.
    q.formula = formula_->text().trimmed().toStdString();
    q.shape.within_groups = within_->isChecked();
    q.shape.cross_validate = cross_validate_->isChecked();
    q.shape.rotation_search = rotation_->isChecked();
    q.shape.partition = partition_->text().trimmed().toStdString();
    q.shape.block2 = block2_->text().trimmed().toStdString();
    const auto text = [](const QPointer<QLineEdit>& box) { return box ? box->text().trimmed().toStdString() : std::string(); };
    q.shape.land_pairs = text(land_pairs_);
    q.shape.individual = text(individual_);
    q.shape.side = text(side_);
    q.shape.replicate = text(replicate_);
    q.shape.mirror_side = text(mirror_);
}

}  // namespace quillan
