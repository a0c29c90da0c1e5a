#include "gui/option_binder.hpp"

#include "shell/action_table.hpp"
#include "shell/run_option_table.hpp"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>

namespace quillan {

QWidget* page_of_action(QWidget* window, const std::string& action) {
    if (!window) return nullptr;
    for (auto* button : window->findChildren<QAbstractButton*>()) {
        if (button->property("action").toString().toStdString() != action) continue;
        for (QWidget* w = button; w && w != window; w = w->parentWidget()) {
            QWidget* stack = w->parentWidget();
            if (qobject_cast<QStackedWidget*>(stack) && qobject_cast<QTabWidget*>(stack->parentWidget())) return w;
        }
        return window;
    }
    return nullptr;
}

std::vector<QWidget*> option_controls(QWidget* page) {
    std::vector<QWidget*> out;
    if (!page) return out;
    for (auto* w : page->findChildren<QWidget*>())
        if (!w->property("option").toString().isEmpty()) out.push_back(w);
    return out;
}

std::string control_text(QWidget* control, const OptionDecl& decl) {
    if (auto* line = qobject_cast<QLineEdit*>(control)) return line->text().trimmed().toStdString();
    if (auto* tick = qobject_cast<QCheckBox*>(control)) {
        const bool on = tick->isChecked() != control->property("optionInverted").toBool();
        return on ? "true" : "false";
    }
    if (auto* box = qobject_cast<QComboBox*>(control)) {
        // A choice's entries stand for its words in their order; a box of
        // names (the factors to compare) holds the name itself.
        if (decl.kind == OptionKind::Choice) {
            const int i = box->currentIndex();
            return i >= 0 && static_cast<std::size_t>(i) < decl.choices.size() ? decl.choices[static_cast<std::size_t>(i)]
                                                                               : std::string();
        }
        const QString text = box->currentText();
        return text == QStringLiteral("(none)") ? std::string() : text.toStdString();
    }
    return {};
}

GivenOptions read_page_options(QWidget* window, const ActionRow& row) {
    GivenOptions given;
    std::vector<QWidget*> controls = option_controls(page_of_action(window, row.name));
    for (QWidget* control : option_controls(window))
        if (control->property("optionEveryPage").toBool() &&
            std::find(controls.begin(), controls.end(), control) == controls.end())
            controls.push_back(control);
    for (QWidget* control : controls) {
        const OptionDecl* decl = row.option(control->property("option").toString().toStdString());
        if (!decl) continue;
        const std::string text = control_text(control, *decl);
        // An empty box is an option not given: the default holds.
        if (!text.empty()) given[decl->name] = text;
    }
    return given;
}

void describe_run_option_controls(QWidget* window) {
    if (!window) return;
    for (auto* w : window->findChildren<QWidget*>()) {
        const std::string flag = w->property("runOption").toString().toStdString();
        if (flag.empty()) continue;
        for (const RunOptionDecl& decl : run_option_table())
            if (run_flag(decl.id) == flag)
                w->setToolTip(QString::fromUtf8(decl.help).replace('\n', ' ') +
                              QStringLiteral(" (quillan-batch %1)").arg(QString::fromStdString(flag)));
    }
}

}  // namespace quillan
