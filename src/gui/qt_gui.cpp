#include "gui/qt_gui.hpp"

#include "gui/console_key.hpp"
#include "gui/qt_text.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QTextEdit>
#include <QUiLoader>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>

#include <unistd.h>

namespace quillan {

namespace {

// Where each object keeps its handle, so a widget can be mapped back.
constexpr const char* kHandleProperty = "quillanHandle";

// Remembers every widget the layout declares, so that those (and not the
// helper widgets Qt builds inside them) become the window's objects.
class LayoutLoader : public QUiLoader {
public:
    QWidget* createWidget(const QString& class_name, QWidget* parent, const QString& name) override {
        QWidget* w = QUiLoader::createWidget(class_name, parent, name);
        if (w) created.push_back(w);
        return w;
    }
    std::vector<QPointer<QWidget>> created;
};

// Whether a font gives every character the same width (some monospaced
// fonts do not say so in their tables, so this measures).
bool fixed_width(const QFont& font) {
    const QFontMetricsF m(font);
    return m.horizontalAdvance(QChar('i')) == m.horizontalAdvance(QChar('M'));
}

// A layout asks for a fixed-width font by the family name "Monospace".  Which
// font that name finds depends on the fonts installed; when it is not of fixed
// width, fall back on the system's fixed-width font, so a report's columns
// always line up.
void ensure_fixed_pitch(QWidget* w) {
    QFont font = w->font();
    if (font.family() != "Monospace" || fixed_width(font)) return;
    font.setStyleHint(QFont::TypeWriter);
    if (!fixed_width(font)) {
        const int points = font.pointSize();
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (points > 0) font.setPointSize(points);
    }
    w->setFont(font);
}

QString dialog_filter(const std::string& pattern) {
    const QString all = QStringLiteral("All files (*)");
    if (pattern.empty() || pattern == "*.*" || pattern == "*") return all;
    if (pattern == "*.txt") return QStringLiteral("Text files (*.txt);;") + all;
    return qstr(pattern) + QStringLiteral(";;") + all;
}

// The first extension a filter offers ("*.json" -> ".json", "Pictures
// (*.png *.svg)" -> ".png"); empty for one that takes every file.
std::string first_extension(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral("\\*(\\.[A-Za-z0-9]+)"));
    const auto match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1).toStdString() : std::string();
}

// A name saved without an extension gets the one of the filter it was
// chosen under, or else of the filter the program asked with.
std::string with_filter_extension(const std::string& path, const QString& chosen_filter, const std::string& asked) {
    namespace fs = std::filesystem;
    if (!fs::path(path).extension().empty() || fs::path(path).filename().empty()) return path;
    std::string ext = first_extension(chosen_filter);
    if (ext.empty()) ext = first_extension(qstr(asked));
    return path + ext;
}

}  // namespace

QtGui::QtGui() : layout_dirs_(default_layout_dirs()) {
    Object root;
    root.properties["units"] = Value("pixels");
    objects_[kRoot] = std::move(root);
}

QtGui::~QtGui() {
    for (Handle h : windows_)
        if (QWidget* w = widget(h)) delete w;
}

std::vector<std::string> QtGui::default_layout_dirs() {
    const QString exe_dir = QCoreApplication::applicationDirPath();
    return {native(exe_dir), native(QDir::cleanPath(exe_dir + QStringLiteral("/../share/quillan")))};
}

std::string QtGui::find_layout(const std::string& path) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.find('/') != std::string::npos) {
        if (fs::is_regular_file(path, ec)) return path;
        throw QuillanError("Cannot find the layout file " + path + ".");
    }
    std::string searched;
    for (const auto& dir : layout_dirs_) {
        const std::string candidate = join_path(dir, path);
        if (fs::is_regular_file(candidate, ec)) return candidate;
        searched += (searched.empty() ? "" : ", ") + dir;
    }
    throw QuillanError("Cannot find the layout file " + path + " (looked in " + (searched.empty() ? "no folder" : searched) +
                       ").");
}

// ---------------------------------------------------------------- objects

QtGui::Object& QtGui::object(Handle h) {
    auto it = objects_.find(h);
    if (it == objects_.end() || (h != kRoot && !it->second.widget)) throw QuillanError("Invalid or deleted object.");
    return it->second;
}

Handle QtGui::add_object(QWidget* w) {
    const Handle h = next_;
    next_ += 1;
    Object o;
    o.widget = w;
    o.properties["units"] = Value("pixels");
    objects_[h] = std::move(o);
    w->setProperty(kHandleProperty, h);
    return h;
}

QWidget* QtGui::widget(Handle h) const {
    auto it = objects_.find(h);
    return it == objects_.end() ? nullptr : it->second.widget.data();
}

std::optional<Handle> QtGui::handle_of(const QObject* object) const {
    if (!object) return std::nullopt;
    const QVariant v = object->property(kHandleProperty);
    if (!v.isValid()) return std::nullopt;
    const Handle h = v.toDouble();
    auto it = objects_.find(h);
    if (it == objects_.end() || it->second.widget.data() != object) return std::nullopt;  // another instance's widget
    return h;
}

bool QtGui::is_window(Handle h) const { return std::find(windows_.begin(), windows_.end(), h) != windows_.end() && widget(h); }

std::vector<Handle> QtGui::windows() const {
    std::vector<Handle> out;
    for (Handle h : windows_)
        if (widget(h)) out.push_back(h);
    return out;
}

void QtGui::collect(const QObject* o, std::vector<Handle>& out) const {
    if (auto h = handle_of(o)) out.push_back(*h);
    for (const QObject* c : o->children()) collect(c, out);
}

std::vector<Handle> QtGui::findobj_tag(const std::string& tag) {
    std::vector<Handle> out;
    if (tag.empty()) out.push_back(kRoot);  // the root carries no tag
    for (Handle w : windows()) {
        std::vector<Handle> all;
        collect(widget(w), all);
        for (Handle h : all)
            if (str(widget(h)->objectName()) == tag) out.push_back(h);
    }
    return out;
}

std::vector<Handle> QtGui::findall(Handle window) {
    if (window == kRoot) {
        std::vector<Handle> out{kRoot};
        for (Handle w : windows()) collect(widget(w), out);
        return out;
    }
    object(window);
    std::vector<Handle> out;
    collect(widget(window), out);
    return out;
}

bool QtGui::ishandle(Handle h) { return h == kRoot || widget(h) != nullptr; }

std::string QtGui::type_of(Handle h) const {
    if (h == kRoot) return "root";
    if (is_window(h)) return "figure";
    const QWidget* w = widget(h);
    if (qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
        qobject_cast<const QTextEdit*>(w) || qobject_cast<const QComboBox*>(w) || qobject_cast<const QListWidget*>(w) ||
        qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractSlider*>(w))
        return "uicontrol";
    return "uipanel";
}

std::optional<Handle> QtGui::parent_of(Handle h) const {
    if (h == kRoot) return std::nullopt;
    if (is_window(h)) return kRoot;
    for (const QObject* p = widget(h)->parent(); p; p = p->parent())
        if (auto ph = handle_of(p)) return ph;
    return kRoot;
}

QRect QtGui::usable_screen(const QWidget* w) const {
    QScreen* screen = w ? w->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// ---------------------------------------------------------------- windows

Handle QtGui::hgload(const std::string& path) {
    const std::string file = find_layout(path);
    QFile f(from_native(file));
    if (!f.open(QIODevice::ReadOnly))
        throw QuillanError("Cannot open the layout file " + file + ": " + str(f.errorString()) + ".");
    LayoutLoader loader;
    QWidget* top = loader.load(&f, nullptr);
    if (!top) throw QuillanError("Cannot read the layout file " + file + ": " + str(loader.errorString()) + ".");
    ++loads_;
    top->setAttribute(Qt::WA_DeleteOnClose);
    top->installEventFilter(this);
    const Handle fig = add_object(top);
    objects_[fig].properties["activepositionproperty"] = Value("outerposition");
    windows_.push_back(fig);
    for (const auto& w : loader.created)
        if (w && w != top) {
            ensure_fixed_pitch(w);
            // Return presses a focused button as Space does; a plain window
            // gives that only to the buttons of dialogs.
            if (auto* b = qobject_cast<QPushButton*>(w.data())) b->setAutoDefault(true);
            connect_callback(add_object(w), w);
        }
    top->show();
    current_ = fig;
    return fig;
}

void QtGui::connect_callback(Handle h, QWidget* w) {
    const bool has_action = w->property("action").isValid();
    const bool has_callback = w->property("callback").isValid();
    if (!has_action && !has_callback) return;
    auto fire = [this, h] { invoke(h); };
    if (auto* b = qobject_cast<QAbstractButton*>(w)) connect(b, &QAbstractButton::clicked, this, fire);
    else if (auto* l = qobject_cast<QLineEdit*>(w)) connect(l, &QLineEdit::editingFinished, this, fire);
    else if (auto* lw = qobject_cast<QListWidget*>(w)) connect(lw, &QListWidget::itemSelectionChanged, this, fire);
    else if (auto* c = qobject_cast<QComboBox*>(w)) connect(c, &QComboBox::activated, this, fire);
}

void QtGui::invoke(Handle h) {
    QWidget* w = widget(h);
    if (!w || !callback_handler_) return;
    CallbackRequest request{h, str(w->property("action").toString()), str(w->property("callback").toString()), ""};
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        request.label = str(b->text().remove(QStringLiteral("...")).remove(QChar('&')));
    const auto saved = callback_object_;
    callback_object_ = h;
    try {
        callback_handler_(request);
    } catch (...) {
        // A failure must not unwind through Qt's event loop; the handler
        // reports its own errors.
    }
    callback_object_ = saved;
}

bool QtGui::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && close_guard_ && handle_of(watched) && !close_guard_(*handle_of(watched))) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

std::optional<Handle> QtGui::gcf() {
    if (current_ && widget(*current_)) return current_;
    const auto open = windows();
    if (open.empty()) return std::nullopt;
    current_ = open.back();
    return current_;
}

std::optional<Handle> QtGui::gcbf() {
    if (!callback_object_ || !widget(*callback_object_)) return std::nullopt;
    for (std::optional<Handle> h = callback_object_; h && *h != kRoot; h = parent_of(*h))
        if (is_window(*h)) return h;
    return std::nullopt;
}

std::optional<Handle> QtGui::gcbo() {
    if (callback_object_ && widget(*callback_object_)) return callback_object_;
    return std::nullopt;
}

void QtGui::figure(Handle window) {
    if (!is_window(window)) throw QuillanError("figure needs the handle of a window.");
    QWidget* w = widget(window);
    w->show();
    w->raise();
    w->activateWindow();
    current_ = window;
}

void QtGui::drawnow() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

// ---------------------------------------------------------------- messages and dialogs

QWidget* QtGui::dialog_parent() {
    if (auto f = gcbf()) return widget(*f);
    if (auto f = gcf()) return widget(*f);
    return nullptr;
}

void QtGui::msgbox(const std::string& text, const std::string& title) {
    messages_.push_back({text, title});
    if (message_observer_) message_observer_(messages_.back());
    if (message_diverter_ && message_diverter_(messages_.back())) return;
    // A child of the window, so it closes with it, but not modal: the action
    // that shows it goes on at once.
    auto* box = new QMessageBox(dialog_parent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setTextFormat(Qt::PlainText);
    const std::string added = message_addition_ ? message_addition_(messages_.back()) : std::string();
    box->setText(qstr(added.empty() ? text : text + "\n\n" + added));
    box->setIcon(title.empty() ? QMessageBox::Information : QMessageBox::Warning);
    if (!title.empty()) box->setWindowTitle(qstr(title));
    box->setStandardButtons(QMessageBox::Ok);
    if (Offer offer = message_offer_ ? message_offer_(messages_.back()) : Offer{}; !offer.label.empty()) {
        QPushButton* button = box->addButton(qstr(offer.label), QMessageBox::DestructiveRole);
        button->setObjectName(QStringLiteral("messageOffer"));
        QObject::connect(button, &QPushButton::clicked, box, [act = std::move(offer.act)] { act(); });
    }
    box->show();
}

std::optional<FileChoice> QtGui::file_dialog(DialogKind kind, const std::string& filter, const std::string& title) {
    DialogRequest request{
        kind, filter, title, dialog_folder_ ? dialog_folder_({kind, filter, title, {}, {}}) : std::string(), {}};
    if (request.folder.empty()) request.folder = pwd();
    request.shown = dialog_title_ ? dialog_title_(request) : std::string();
    if (request.shown.empty()) request.shown = title;
    dialogs_.push_back(request);
    std::optional<std::string> chosen;
    QString chosen_filter;
    if (!preset_answers_.empty()) {
        chosen = preset_answers_.front();
        preset_answers_.erase(preset_answers_.begin());
    } else if (dialog_hook_) {
        chosen = dialog_hook_(request);
    } else {
        QFileDialog d(dialog_parent(), qstr(request.shown), from_native(request.folder), dialog_filter(filter));
        d.setAcceptMode(kind == DialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        d.setFileMode(kind == DialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        // The dialog itself adds the extension, so that it asks before
        // replacing the file that name really means.
        const auto suffix_of = [&filter](const QString& name_filter) {
            std::string ext = first_extension(name_filter);
            if (ext.empty()) ext = first_extension(qstr(filter));
            return ext.empty() ? QString() : qstr(ext.substr(1));
        };
        if (kind == DialogKind::Save) {
            d.setDefaultSuffix(suffix_of(d.selectedNameFilter()));
            QObject::connect(&d, &QFileDialog::filterSelected, &d,
                             [&d, suffix_of](const QString& f) { d.setDefaultSuffix(suffix_of(f)); });
        }
        if (d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty()) {
            chosen = native(d.selectedFiles().front());
            chosen_filter = d.selectedNameFilter();
        }
    }
    if (!chosen || chosen->empty()) return std::nullopt;
    if (kind == DialogKind::Save) *chosen = with_filter_extension(*chosen, chosen_filter, filter);
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(*chosen), ec);
    if (ec) p = fs::path(*chosen);
    std::string folder = p.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    if (chosen_observer_) chosen_observer_(request, p.string());
    return FileChoice{p.filename().string(), folder};
}

std::optional<FileChoice> QtGui::uigetfile(const std::string& filter, const std::string& title) {
    return file_dialog(DialogKind::Open, filter, title);
}

std::optional<FileChoice> QtGui::uiputfile(const std::string& filter, const std::string& title) {
    return file_dialog(DialogKind::Save, filter, title);
}

void QtGui::pause() {
    const bool waited = wait_for_console_key(
        STDIN_FILENO, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); },
        [this] {
            if (pause_notice_) pause_notice_(true);
        });
    if (waited && pause_notice_) pause_notice_(false);
}

std::string QtGui::pwd() {
    std::error_code ec;
    std::string d = std::filesystem::current_path(ec).string();
    if (!d.empty() && d.back() != '/') d += '/';
    return d;
}

void QtGui::cd(const std::string& folder) {
    std::error_code ec;
    std::filesystem::current_path(folder, ec);
    if (ec) throw QuillanError("Cannot make " + folder + " the current folder: " + ec.message() + ".");
}

}  // namespace quillan
