// The main window's files: the recent files menu (each entry with the
// import choices it was read with), the import choices kept by name, and
// files dropped on the window.
#include "gui/main_window.hpp"

#include "gui/qt_text.hpp"
#include "gui/session.hpp"
#include "shell/action_table.hpp"
#include "window/program.hpp"
#include "window/window_env.hpp"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QTimer>

#include <string>

namespace quillan {

namespace {

constexpr int kMaxRecent = 8;
constexpr const char* kRecentKey = "recent/files";

// Files the importer reads; anything else is one of the three plain tables.
bool importable(const QString& path) {
    static const QStringList kinds{"tps", "nts", "csv", "tsv"};
    return kinds.contains(QFileInfo(path).suffix().toLower());
}

// A table whose header names its columns but none of them a coordinate
// (x1, y1, LM1_x, ...): the factors of specimens by ID, which "Load groups"
// attaches to the landmarks, not landmarks to import.
bool factor_table(const QString& path) {
    if (!names_its_columns(native(path))) return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    QString header;
    for (int n = 0; n < 50 && !f.atEnd() && header.isEmpty(); ++n) header = QString::fromUtf8(f.readLine(1 << 16)).trimmed();
    static const QRegularExpression coordinate(QStringLiteral("^([a-z]*\\d*[_.])?[xyz]\\d*$|^\\d+[_.]?[xyz]$"),
                                               QRegularExpression::CaseInsensitiveOption);
    for (QString cell : header.split(QRegularExpression(QStringLiteral("[,;\\t]"))))
        if (coordinate.match(cell.remove(QChar('"')).trimmed()).hasMatch()) return false;
    return true;
}

}  // namespace

QStringList MainWindow::recent_entries() const { return settings_ ? settings_->value(kRecentKey).toStringList() : QStringList(); }

void MainWindow::remember_recent(const ActionRow& row) {
    if (!settings_) return;
    const auto paths = program_.shell().loaded_paths();
    if (paths.landmarks.empty()) return;
    // One entry a line: the landmark, group and covariate file, whether the
    // landmarks were imported and the import choices they were imported
    // with, tab-separated.
    const QString landmarks = from_native(paths.landmarks);
    QStringList list = recent_entries();
    const bool import = row.kind == ActionKind::Import;
    // New landmarks from a plain table end the import; new groups or a new
    // covariate keep it.
    const bool keeps_import = import || (row.loads & kNeedsLandmarks) == 0;
    bool imported = import;
    QString choices = import ? import_choices() : QString();
    for (int i = list.size() - 1; i >= 0; --i)
        if (list[i].section(QChar('\t'), 0, 0) == landmarks) {
            if (!import && keeps_import && list[i].section(QChar('\t'), 3, 3) == QStringLiteral("import")) {
                imported = true;
                choices = list[i].section(QChar('\t'), 4, 4);
            }
            list.removeAt(i);
        }
    // Only tables that go with the landmarks are kept with them: a set that
    // would load with a count warning is no set to come back to.
    const Workspace& ws = program_.shell().workspace();
    const auto rows = ws.landmarks.rows();
    const QString groups = ws.groups.rows() == rows ? from_native(paths.groups) : QString();
    const QString covariate = ws.covariate.rows() == rows ? from_native(paths.covariate) : QString();
    const QString entry =
        QStringList{landmarks, groups, covariate, imported ? QStringLiteral("import") : QString(), choices}.join(QChar('\t'));
    list.prepend(entry);
    while (list.size() > kMaxRecent) list.removeLast();
    settings_->setValue(kRecentKey, list);
    fill_recent_menu();
}

void MainWindow::fill_recent_menu() {
    if (!recent_menu_) return;
    recent_menu_->clear();
    const QStringList list = recent_entries();
    for (int i = 0; i < list.size(); ++i) {
        QStringList names;
        for (const QString& p : list[i].split(QChar('\t')).mid(0, 3))
            if (!p.isEmpty() && !names.contains(QFileInfo(p).fileName())) names << QFileInfo(p).fileName();
        QAction* a = recent_menu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(names.join(QStringLiteral(" + "))), this,
                                             // After the menu is done: reloading rebuilds this menu.
                                             [this, i] { QTimer::singleShot(0, this, [this, i] { open_recent(i); }); });
        const QStringList parts = list[i].split(QChar('\t'));
        QString tip = parts.mid(0, 3).filter(QRegularExpression(QStringLiteral("."))).join(QChar('\n'));
        const QString choices = describe_choices(parts.value(4));
        if (!choices.isEmpty()) tip += QStringLiteral("\nImported with ") + choices;
        a->setToolTip(tip);
    }
    recent_menu_->setEnabled(!list.isEmpty());
}

void MainWindow::open_recent(int index) {
    QStringList list = recent_entries();
    if (index < 0 || index >= list.size() || session_.busy()) return;
    const QStringList parts = list[index].split(QChar('\t'));
    const QString landmarks = parts.value(0), groups = parts.value(1), covariate = parts.value(2);
    for (const QString& p : {landmarks, groups, covariate})
        if (!p.isEmpty() && !QFileInfo(p).isFile()) {
            gui_.msgbox("The file " + native(p) + " is no longer there; it is taken off the recent files.", "");
            list.removeAt(index);
            settings_->setValue(kRecentKey, list);
            fill_recent_menu();
            return;
        }
    if (parts.value(3) == QStringLiteral("import")) {
        // The file comes back as it was imported, not with the choices made
        // since for other files (its curves skipped, its -1 -1 taken as a
        // point); a refused import leaves the boxes as they were.
        const QString before = import_choices();
        set_import_choices(parts.value(4));
        run_with_file("Import", landmarks);
        if (program_.shell().last_outcome() != Outcome::Done) set_import_choices(before);
    } else {
        run_with_file("Load", landmarks);
    }
    if (program_.shell().last_outcome() != Outcome::Done) return;
    if (!groups.isEmpty() && groups != landmarks) {
        run_with_file("LoadGlist", groups);
        if (program_.shell().last_outcome() != Outcome::Done) return;
    }
    if (!covariate.isEmpty() && covariate != landmarks) run_with_file("LoadClist", covariate);
}

namespace {

// The window's import choices, kept with each recent import by their names.
const char* const kImportChoices[] = {"NegativeChoice", "GapsChoice", "CurvesChoice"};

// One of those boxes by name; any other name (a settings file edited by
// hand) finds none.
QComboBox* import_box(QWidget* window, const QString& name) {
    for (const char* known : kImportChoices)
        if (window && name == QLatin1String(known)) return window->findChild<QComboBox*>(name);
    return nullptr;
}

}  // namespace

// The import choices as "name=entry" pairs (entries counted from 0); an
// entry written before the choices were kept has none.
QString MainWindow::import_choices() const {
    QStringList out;
    for (const char* name : kImportChoices)
        if (const auto* box = import_box(window_, QString::fromUtf8(name)))
            out << QStringLiteral("%1=%2").arg(QString::fromUtf8(name)).arg(box->currentIndex());
    return out.join(QChar(','));
}

// Boxes the text does not name, or names with an entry they lack, stay as
// they are: that is how an import ran before its choices were kept.
void MainWindow::set_import_choices(const QString& choices) {
    for (const QString& pair : choices.split(QChar(','), Qt::SkipEmptyParts)) {
        auto* box = import_box(window_, pair.section(QChar('='), 0, 0));
        bool ok = false;
        const int index = pair.section(QChar('='), 1).toInt(&ok);
        if (box && ok && index >= 0 && index < box->count()) box->setCurrentIndex(index);
    }
}

// The choices as the boxes show them, for the recent files' tooltips.
QString MainWindow::describe_choices(const QString& choices) const {
    QStringList out;
    for (const QString& pair : choices.split(QChar(','), Qt::SkipEmptyParts)) {
        const auto* box = import_box(window_, pair.section(QChar('='), 0, 0));
        const int index = pair.section(QChar('='), 1).toInt();
        if (box && index >= 0 && index < box->count()) out << box->itemText(index);
    }
    return out.join(QStringLiteral(", "));
}

void MainWindow::run_with_file(const std::string& action, const QString& path) {
    gui_.answer_next_dialog(native(QFileInfo(path).absoluteFilePath()));
    session_.run_action(action, label_of(action));
    gui_.forget_dialog_answers();  // unused when the action was not run
}

// ---------------------------------------------------------------- drops

std::string MainWindow::guess_kind(const QString& path) {
    const QString name = QFileInfo(path).fileName().toLower();
    if (name.contains(QStringLiteral("group"))) return "LoadGlist";
    if (name.contains(QStringLiteral(".cov")) || name.contains(QStringLiteral("covariate"))) return "LoadClist";
    if (name.contains(QStringLiteral(".lm")) || name.contains(QStringLiteral("landmark"))) return "Load";
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "Load";
    for (int n = 0; n < 50 && !f.atEnd(); ++n) {
        const QString line = QString::fromLatin1(f.readLine(1 << 16)).trimmed();
        if (line.isEmpty()) continue;
        const QStringList fields = line.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
        if (fields.size() >= 3) return "Load";
        if (fields.size() == 2) return "LoadGlist";
        bool whole = false;
        fields.value(0).toLongLong(&whole);
        return whole ? "LoadGlist" : "LoadClist";
    }
    return "Load";
}

void MainWindow::drop_files(const QStringList& paths) {
    for (const QString& path : paths) {
        if (session_.busy()) return;
        if (!QFileInfo(path).isFile()) {
            gui_.msgbox("Only files can be loaded; " + native(path) + " is not one.", "");
            return;
        }
        std::optional<std::string> action;
        if (factor_table(path)) {
            action = "LoadGlist";
        } else if (importable(path)) {
            action = "Import";
        } else {
            const std::string guess = guess_kind(path);
            if (drop_chooser_) {
                action = drop_chooser_(path, guess);
            } else {
                QMenu choice(window_);
                choice.addSection(QFileInfo(path).fileName());
                QAction* chosen[3] = {choice.addAction(QStringLiteral("Load as &landmarks")),
                                      choice.addAction(QStringLiteral("Load as &groups")),
                                      choice.addAction(QStringLiteral("Load as &covariate"))};
                const char* actions[3] = {"Load", "LoadGlist", "LoadClist"};
                for (int i = 0; i < 3; ++i)
                    if (guess == actions[i]) choice.setActiveAction(chosen[i]);
                QAction* picked = choice.exec(QCursor::pos());
                for (int i = 0; i < 3; ++i)
                    if (picked == chosen[i]) action = actions[i];
            }
        }
        if (!action) return;
        run_with_file(*action, path);
        const Outcome o = program_.shell().last_outcome();
        if (o != Outcome::Done) return;
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == status_ && event->type() == QEvent::Resize) elide_status();
    if (watched == window_ && event->type() == QEvent::Close && !session_.busy()) save_settings();
    const auto type = event->type();
    // A wheel turned over a choice the user has not clicked scrolls the
    // page, as it does over text: ignored here, it goes on to the parents.
    if (type == QEvent::Wheel) {
        auto* combo = qobject_cast<QComboBox*>(watched);
        if (combo && !combo->hasFocus() && window_ && combo->window() == window_) {
            event->ignore();
            return true;
        }
        return false;
    }
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || !window_ || w->window() != window_) return false;
    const QMimeData* mime = static_cast<QDropEvent*>(event)->mimeData();
    QStringList paths;
    if (mime)
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile()) paths << url.toLocalFile();
    if (paths.isEmpty()) return false;  // text dropped on a box stays the box's business
    auto* drop = static_cast<QDropEvent*>(event);
    if (session_.busy()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    // Loaded once the drop has ended, so no dialog runs inside the drag.
    if (type == QEvent::Drop) QTimer::singleShot(0, this, [this, paths] { drop_files(paths); });
    return true;
}

}  // namespace quillan
