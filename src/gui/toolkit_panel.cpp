#include "gui/toolkit_panel.hpp"

#include <QAbstractButton>
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

ToolkitPanel::ToolkitPanel(QWidget* window) {
    QWidget* page = window ? window->findChild<QWidget*>(QStringLiteral("toolkitPage")) : nullptr;
    if (!page) return;
    attached_ = true;
    const auto box = [page](const char* name) { return page->findChild<QLineEdit*>(QString::fromLatin1(name)); };
    const auto button = [page](const char* name) { return page->findChild<QAbstractButton*>(QString::fromLatin1(name)); };
    browse_into(button("ToolkitPartitionBrowse"), box("ToolkitPartitionBox"),
                QStringLiteral("Partition of the landmarks into modules"));
    browse_into(button("ToolkitBlock2Browse"), box("ToolkitBlock2Box"), QStringLiteral("Table of the second block"));
    browse_into(button("ToolkitLandPairsBrowse"), box("ToolkitLandPairsBox"), QStringLiteral("Pairs of matching landmarks"));
    // The analyses on a tree read files of the same kinds from their own page.
    const auto in_window = [window](const char* name) { return window->findChild<QWidget*>(QString::fromLatin1(name)); };
    browse_into(qobject_cast<QAbstractButton*>(in_window("PhyloPartitionBrowse")),
                qobject_cast<QLineEdit*>(in_window("PhyloPartitionBox")),
                QStringLiteral("Partition of the landmarks into modules"));
    browse_into(qobject_cast<QAbstractButton*>(in_window("PhyloBlock2Browse")),
                qobject_cast<QLineEdit*>(in_window("PhyloBlock2Box")), QStringLiteral("Table of the second block"));
}

}  // namespace quillan
