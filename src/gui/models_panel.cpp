#include "gui/models_panel.hpp"

#include "analyses/analyses.hpp"
#include "gui/qt_text.hpp"
#include "gui/session.hpp"
#include "window/program.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStringListModel>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <utility>

namespace quillan {

namespace {

// Factors beyond these are not paired: their cells would fill the box.
constexpr int kPairedFactors = 6;

// The word being typed: the letters, digits, dots and underscores before
// the cursor, which a name of the formula is made of.
int word_start(const QString& text, int cursor) {
    int i = cursor;
    while (i > 0 && (text[i - 1].isLetterOrNumber() || text[i - 1] == QChar('_') || text[i - 1] == QChar('.'))) --i;
    return i;
}

// A formula box completes the name being typed, not the whole formula: the
// completer is told the word before the cursor and puts its choice in its place.
void complete_words(QLineEdit* box, QCompleter* completer) {
    completer->setWidget(box);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    QObject::connect(box, &QLineEdit::textEdited, box, [box, completer](const QString& text) {
        const int cursor = box->cursorPosition();
        const QString word = text.mid(word_start(text, cursor), cursor - word_start(text, cursor));
        if (word.isEmpty()) {
            completer->popup()->hide();
            return;
        }
        completer->setCompletionPrefix(word);
        if (completer->completionCount() > 0) completer->complete();
        else completer->popup()->hide();
    });
    QObject::connect(completer, qOverload<const QString&>(&QCompleter::activated), box, [box](const QString& name) {
        QString text = box->text();
        const int cursor = box->cursorPosition();
        const int start = word_start(text, cursor);
        text.replace(start, cursor - start, name);
        box->setText(text);
        box->setCursorPosition(start + static_cast<int>(name.size()));
    });
}

// Return on the completer's list takes the name chosen there; the list
// then hands the same key to the formula box, where it would run the
// half-typed formula.  Seen on the list first, that Return is marked to be
// let go (until the events of this one are done).
class CompletionReturn : public QObject {
public:
    using QObject::QObject;
    bool taken() { return std::exchange(taken_, false); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                taken_ = true;
                QTimer::singleShot(0, this, [this] { taken_ = false; });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool taken_ = false;
};

const double* value_of(const RecordedModel& m, const char* key) { return m.value(key); }

QTableWidgetItem* cell(const double* v, bool whole = false) {
    auto* item = new QTableWidgetItem(!v || std::isnan(*v) ? QString()
                                      : whole              ? QString::number(*v, 'f', 0)
                                                           : QString::number(*v, 'g', 6));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// Fills `table` with one row a model of `rows` and the columns' values.
void fill(QTableWidget* table, const std::vector<const RecordedModel*>& rows, const QStringList& headers,
          const std::vector<const char*>& keys) {
    table->clear();
    table->setColumnCount(static_cast<int>(keys.size()));
    table->setRowCount(static_cast<int>(rows.size()));
    table->setHorizontalHeaderLabels(headers);
    QStringList names;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        names << qstr(rows[r]->name);
        for (std::size_t c = 0; c < keys.size(); ++c)
            table->setItem(static_cast<int>(r), static_cast<int>(c),
                           cell(value_of(*rows[r], keys[c]), std::string(keys[c]) == "df"));
    }
    table->setVerticalHeaderLabels(names);
    table->resizeColumnsToContents();
}

}  // namespace

ModelsPanel::ModelsPanel(Program& program, Session& session, QWidget* window) : program_(program), session_(session) {
    if (!window) return;
    const auto find = [window](const char* name) { return window->findChild<QWidget*>(QString::fromLatin1(name)); };
    formula_ = qobject_cast<QLineEdit*>(find("ModelFormulaBox"));
    pairwise_ = qobject_cast<QComboBox*>(find("ModelPairwiseBox"));
    names_label_ = qobject_cast<QLabel*>(find("ModelNames"));
    table_ = qobject_cast<QTableWidget*>(find("ModelTable"));
    pairs_ = qobject_cast<QTableWidget*>(find("ModelPairsTable"));
    if (!formula_ || !pairwise_ || !names_label_ || !table_ || !pairs_) {
        formula_ = nullptr;
        return;
    }
    completion_names_ = new QStringListModel(formula_);
    auto* completer = new QCompleter(completion_names_, formula_);
    complete_words(formula_, completer);
    auto* completion_return = new CompletionReturn(formula_);
    completer->popup()->installEventFilter(completion_return);
    // Return in the formula box runs the model, as the button does.
    if (auto* run = qobject_cast<QAbstractButton*>(find("runModelButton")))
        QObject::connect(formula_, &QLineEdit::returnPressed, run, [run, completion_return] {
            if (!completion_return->taken()) run->click();
        });
    observer_id_ = session_.add_action_observer([this](const std::string& action, bool finished) {
        if (finished) action_finished(action);
    });
    follow_data();
}

ModelsPanel::~ModelsPanel() {
    if (observer_id_ >= 0) session_.remove_action_observer(observer_id_);
}

QStringList ModelsPanel::names() const {
    const Shell& shell = program_.shell();
    const Workspace& ws = shell.workspace();
    QStringList names;
    if (ws.landmarks.rows() == 0) return names;
    if (ws.groups.rows() == ws.landmarks.rows()) {
        names << QStringLiteral("G1");
        if (ws.groups.cols() > 1) names << QStringLiteral("G2");
    }
    if (ws.covariate.rows() == ws.landmarks.rows()) names << QStringLiteral("cov");
    const auto n = static_cast<std::size_t>(ws.landmarks.rows());
    for (const auto& f : shell.legend().factors)
        if (f.codes.size() == n && !names.contains(qstr(f.name))) names << qstr(f.name);
    for (const auto& v : shell.legend().numbers)
        if (v.values.size() == n && !names.contains(qstr(v.name))) names << qstr(v.name);
    return names;
}

void ModelsPanel::action_finished(const std::string& action) {
    const Shell& shell = program_.shell();
    const ActionRow* row = find_action(action);
    if (!row) return;
    const bool replaced = row->analysis && shell.last_outcome() == Outcome::Reported;  // another report on screen
    if (row->analysis == run_model && replaced) {
        show_table(shell.last_record());
        show_pairs(shell.last_record());
    } else if (replaced || (row->kind == ActionKind::Clear && shell.last_outcome() == Outcome::Done)) {
        // No columns either: cleared headers would be numbered 1, 2, ...
        for (QTableWidget* t : {table_.data(), pairs_.data()}) {
            t->clear();
            t->setRowCount(0);
            t->setColumnCount(0);
        }
    }
    follow_data();
}

// The names offered follow what is loaded: the completer's list, the line
// that lists them, and the factors the pairwise box offers.
void ModelsPanel::follow_data() {
    const QStringList all = names();
    completion_names_->setStringList(all);
    if (all.isEmpty())
        names_label_->setText(
            QStringLiteral("Names: load a landmark file and its groups or covariate, or import a file with factors."));
    else
        names_label_->setText(QStringLiteral("Names: ") + all.join(QStringLiteral(", ")) +
                              QStringLiteral("; log(name) of a covariate."));
    const QString chosen = pairwise_->currentText();
    QStringList factors{QStringLiteral("(none)")};
    const Shell& shell = program_.shell();
    QStringList named;  // the factors with names of their own
    for (const QString& name : all) {
        bool factor = name == QStringLiteral("G1") || name == QStringLiteral("G2");
        for (const auto& f : shell.legend().factors) factor = factor || qstr(f.name) == name;
        if (!factor) continue;
        factors << name;
        if (name != QStringLiteral("G1") && name != QStringLiteral("G2")) named << name;
    }
    // The cells of two factors (species:site); G1 and G2 pair only where
    // no factor has a name, as they hold named factors otherwise.
    if (named.isEmpty()) named = factors.filter(QRegularExpression(QStringLiteral("^G[12]$")));
    for (int i = 0; i < named.size() && i < kPairedFactors; ++i)
        for (int j = i + 1; j < named.size() && j < kPairedFactors; ++j) factors << named[i] + QChar(':') + named[j];
    pairwise_->blockSignals(true);
    pairwise_->clear();
    pairwise_->addItems(factors);
    pairwise_->setCurrentIndex(std::max(0, static_cast<int>(factors.indexOf(chosen))));
    pairwise_->blockSignals(false);
}

void ModelsPanel::show_table(const ResultRecord& record) {
    std::vector<const RecordedModel*> rows;
    for (const auto& m : record.models)
        if (m.value("df")) rows.push_back(&m);
    fill(table_, rows, {"Df", "SS", "MS", "Rsq", "F", "Z", "Pr(>F)"}, {"df", "ss", "ms", "rsq", "F", "Z", "p"});
}

void ModelsPanel::show_pairs(const ResultRecord& record) {
    std::vector<const RecordedModel*> rows;
    bool slopes = false;
    for (const auto& m : record.models)
        if (m.value("d")) {
            rows.push_back(&m);
            slopes = slopes || m.value("angle");
        }
    if (!slopes) {
        fill(pairs_, rows, {"d", "Z", "Pr > d"}, {"d", "d_Z", "d_p"});
        return;
    }
    fill(pairs_, rows, {"d", "Z", "Pr > d", "|dL|", "Z", "Pr > |dL|", "angle", "Z", "Pr > angle"},
         {"d", "d_Z", "d_p", "length_difference", "length_difference_Z", "length_difference_p", "angle", "angle_Z", "angle_p"});
}

}  // namespace quillan
