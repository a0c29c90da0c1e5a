#include "gui/qt_gui.hpp"

#include "gui/console_key.hpp"
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

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

QString qstr(const std::string& s) { return QString::fromStdString(s); }
std::string str(const QString& s) { return s.toStdString(); }

// File names go through the system's encoding, not through UTF-8 text.
std::string native_path(const QString& s) { return QFile::encodeName(s).toStdString(); }
QString from_native_path(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }

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

std::string on_off(bool on) { return on ? "on" : "off"; }

bool parse_on_off(const Value& v, const std::string& property) {
    if (v.is_text() && (v.text() == "on" || v.text() == "off")) return v.text() == "on";
    throw QuillanError("The " + property + " property must be 'on' or 'off'.");
}

Value colour_value(const QColor& c) { return Value(matrix_from_rows({{c.redF(), c.greenF(), c.blueF()}})); }

QColor colour_of(const Value& v) {
    if (v.is_matrix() && v.matrix().size() == 3) {
        const auto e = elements(v.matrix());
        if (std::all_of(e.begin(), e.end(), [](double x) { return x >= 0 && x <= 1; }))
            return QColor::fromRgbF(static_cast<float>(e[0]), static_cast<float>(e[1]), static_cast<float>(e[2]));
    }
    throw QuillanError("A colour must be three values [r g b] from 0 to 1.");
}

std::array<long, 4> rect_of(const Value& v, const std::string& property) {
    if (!v.is_matrix() || v.matrix().size() != 4)
        throw QuillanError("The " + property + " property must be four values [x y width height].");
    const auto e = elements(v.matrix());
    for (double x : e)
        if (!std::isfinite(x) || std::abs(x) > 1e7)
            throw QuillanError("The " + property + " property must be four values of at most 10000000 pixels.");
    return {std::lround(e[0]), std::lround(e[1]), std::lround(e[2]), std::lround(e[3])};
}

Value rect_value(double x, double y, double w, double h) { return Value(matrix_from_rows({{x, y, w, h}})); }

// The entries a list-like "String" value names.
QStringList entries_of(const Value& v) {
    QStringList out;
    if (v.is_text()) {
        for (const auto& line : split_lines(v.text())) out << qstr(line);
    } else if (v.is_list()) {
        for (const auto& e : v.list()) {
            if (!e.is_text()) throw QuillanError("The String property must be a text or a list of texts.");
            out << qstr(e.text());
        }
    } else if (!v.is_empty()) {
        throw QuillanError("The String property must be a text or a list of texts.");
    }
    return out;
}

std::string text_of(const Value& v) {
    if (v.is_text()) return v.text();
    if (v.is_list()) {
        std::string s;
        for (std::size_t i = 0; i < v.list().size(); ++i) {
            if (!v.list()[i].is_text()) throw QuillanError("The String property must be a text or a list of texts.");
            if (i) s += '\n';
            s += v.list()[i].text();
        }
        return s;
    }
    if (v.is_empty()) return std::string();
    throw QuillanError("The String property must be a text or a list of texts.");
}

// The dialog filter for a platform pattern: "*.*" means every file.
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
    return {native_path(exe_dir), native_path(QDir::cleanPath(exe_dir + QStringLiteral("/../share/quillan")))};
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

// ---------------------------------------------------------------- properties

Value QtGui::get(Handle h, const std::string& property) {
    Object& o = object(h);
    if (h == kRoot) return get_root(o, property);
    const std::string p = lower(property);
    QWidget* w = o.widget;
    if (p == "type") return Value(type_of(h));
    if (p == "parent") return Value(*parent_of(h));
    if (p == "tag") return Value(str(w->objectName()));
    if (p == "visible") return Value(on_off(!w->isHidden()));
    if (p == "enable") return Value(on_off(w->isEnabled()));
    if (p == "position" || p == "outerposition") return get_position(h, p == "outerposition");
    if (p == "string") return get_string(o);
    if (p == "value") return get_value(o);
    if (p == "color" && is_window(h)) return colour_value(w->palette().color(QPalette::Window));
    if (p == "tooltipstring") return Value(str(w->toolTip()));
    if (p == "style") {
        if (qobject_cast<QPushButton*>(w)) return Value("pushbutton");
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w)) return Value("edit");
        if (qobject_cast<QComboBox*>(w)) return Value("popupmenu");
        if (qobject_cast<QListWidget*>(w)) return Value("listbox");
        if (qobject_cast<QLabel*>(w)) return Value("text");
        if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) return Value("checkbox");
    }
    if (auto it = o.properties.find(p); it != o.properties.end()) return it->second;
    // What the layout declared as a dynamic property, such as "action".
    const QVariant declared = w->property(property.c_str());
    if (declared.isValid() && declared.canConvert<QString>()) return Value(str(declared.toString()));
    throw QuillanError("There is no " + property + " property on the " + type_of(h) + " class.");
}

void QtGui::set(Handle h, const std::string& property, const Value& value) {
    Object& o = object(h);
    if (h == kRoot) return set_root(o, property, value);
    const std::string p = lower(property);
    QWidget* w = o.widget;
    if (p == "type" || p == "parent" || p == "style") throw QuillanError("The " + property + " property is read-only.");
    if (p == "tag") {
        if (!value.is_text()) throw QuillanError("The tag property must be a text.");
        w->setObjectName(qstr(value.text()));
    } else if (p == "visible") {
        w->setVisible(parse_on_off(value, property));
    } else if (p == "enable") {
        w->setEnabled(parse_on_off(value, property));
    } else if (p == "units") {
        // Every position here is in pixels; another unit would be misread.
        if (!value.is_text() || lower(value.text()) != "pixels")
            throw QuillanError("The desktop window measures positions in pixels only.");
        o.properties["units"] = value;
    } else if (p == "position" || p == "outerposition") {
        set_position(h, p == "outerposition", value);
    } else if (p == "string") {
        set_string(o, value);
    } else if (p == "value") {
        set_value(o, value);
    } else if (p == "color" && is_window(h)) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, colour_of(value));
        w->setPalette(pal);
        w->setAutoFillBackground(true);
    } else if (p == "tooltipstring") {
        if (!value.is_text()) throw QuillanError("The TooltipString property must be a text.");
        w->setToolTip(qstr(value.text()));
    } else {
        o.properties[p] = value;
    }
}

Value QtGui::get_root(Object& o, const std::string& property) {
    const std::string p = lower(property);
    if (auto it = o.properties.find(p); it != o.properties.end()) return it->second;
    if (p == "type") return Value("root");
    if (p == "tag") return Value("");
    if (p == "parent") return Value(Matrix());
    if (p == "screensize") {
        const QRect s = usable_screen(nullptr);
        return rect_value(1, 1, s.width(), s.height());
    }
    if (p == "defaultuicontrolbackgroundcolor") return colour_value(QApplication::palette().color(QPalette::Button));
    throw QuillanError("There is no " + property + " property on the root class.");
}

void QtGui::set_root(Object& o, const std::string& property, const Value& value) {
    const std::string p = lower(property);
    if (p == "type" || p == "screensize" || p == "parent") throw QuillanError("The " + property + " property is read-only.");
    if (p == "units" && (!value.is_text() || lower(value.text()) != "pixels"))
        throw QuillanError("The desktop window measures positions in pixels only.");
    if (p == "defaultuicontrolbackgroundcolor") colour_of(value);  // must be a colour
    o.properties[p] = value;
}

// The text a text-like widget shows; none for other widgets.
static std::optional<QString> shown_text(const QWidget* w) {
    if (auto* e = qobject_cast<const QPlainTextEdit*>(w)) return e->toPlainText();
    if (auto* t = qobject_cast<const QTextEdit*>(w)) return t->toPlainText();
    if (auto* l = qobject_cast<const QLineEdit*>(w)) return l->text();
    if (auto* lab = qobject_cast<const QLabel*>(w)) return lab->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    return std::nullopt;
}

Value QtGui::get_string(Object& o) {
    QWidget* w = o.widget;
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        List items;
        for (int i = 0; i < c->count(); ++i) items.emplace_back(str(c->itemText(i)));
        return Value(items);
    }
    if (auto* lw = qobject_cast<QListWidget*>(w)) {
        List items;
        for (int i = 0; i < lw->count(); ++i) items.emplace_back(str(lw->item(i)->text()));
        return Value(items);
    }
    if (auto shown = shown_text(w)) {
        if (o.has_raw_string && *shown == o.shown_string) return Value(o.raw_string);
        return Value(str(*shown));
    }
    auto it = o.properties.find("string");
    if (it != o.properties.end()) return it->second;
    throw QuillanError("There is no String property on this object.");
}

void QtGui::set_string(Object& o, const Value& value) {
    QWidget* w = o.widget;
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        const QStringList items = entries_of(value);
        c->clear();
        c->addItems(items);
        return;
    }
    if (auto* lw = qobject_cast<QListWidget*>(w)) {
        const QStringList items = entries_of(value);
        lw->clear();
        lw->addItems(items);
        return;
    }
    if (!shown_text(w)) {
        o.properties["string"] = value;
        return;
    }
    const std::string text = text_of(value);
    const QString q = qstr(text);
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) e->setPlainText(q);
    else if (auto* t = qobject_cast<QTextEdit*>(w)) t->setPlainText(q);
    else if (auto* l = qobject_cast<QLineEdit*>(w)) l->setText(q);
    else if (auto* lab = qobject_cast<QLabel*>(w)) lab->setText(q);
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(q);
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(q);
    o.raw_string = text;
    o.shown_string = *shown_text(w);
    o.has_raw_string = true;
}

Value QtGui::get_value(Object& o) {
    QWidget* w = o.widget;
    int index = -2;
    if (auto* c = qobject_cast<QComboBox*>(w)) index = c->currentIndex();
    else if (auto* lw = qobject_cast<QListWidget*>(w)) index = lw->currentRow();
    if (index != -2) return index < 0 ? Value(Matrix()) : Value(static_cast<double>(index + 1));
    if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) return Value(b->isChecked() ? 1.0 : 0.0);
    if (auto* s = qobject_cast<QSpinBox*>(w)) return Value(static_cast<double>(s->value()));
    if (auto* s = qobject_cast<QAbstractSlider*>(w)) return Value(static_cast<double>(s->value()));
    auto it = o.properties.find("value");
    return it != o.properties.end() ? it->second : Value(0.0);
}

void QtGui::set_value(Object& o, const Value& value) {
    QWidget* w = o.widget;
    auto choose = [&](int count) {
        if (value.is_matrix() && value.matrix().size() == 1) {
            const double v = value.scalar();
            if (v == std::floor(v) && v >= 1 && v <= count) return static_cast<int>(v) - 1;
        }
        throw QuillanError(format_expand_reuse("The Value must be a whole number from 1 to %i.", {count}));
    };
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->setCurrentIndex(choose(c->count()));
    if (auto* lw = qobject_cast<QListWidget*>(w)) {
        if (value.is_empty()) return lw->setCurrentRow(-1);
        return lw->setCurrentRow(choose(lw->count()));
    }
    if (!value.is_matrix() || value.matrix().size() != 1) {
        o.properties["value"] = value;
        return;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) return b->setChecked(value.scalar() != 0);
    if (auto* s = qobject_cast<QSpinBox*>(w)) return s->setValue(static_cast<int>(std::lround(value.scalar())));
    if (auto* s = qobject_cast<QAbstractSlider*>(w)) return s->setValue(static_cast<int>(std::lround(value.scalar())));
    o.properties["value"] = value;
}

Value QtGui::get_position(Handle h, bool outer) {
    QWidget* w = widget(h);
    if (is_window(h)) {
        const QRect screen = usable_screen(w);
        const QRect g = outer ? w->frameGeometry() : w->geometry();
        return rect_value(g.x() - screen.x(), screen.y() + screen.height() - (g.y() + g.height()), g.width(), g.height());
    }
    // A control: inside the object that holds it, from its lower-left corner.
    QWidget* holder = widget(*parent_of(h));
    if (!holder) holder = w->parentWidget();
    const QPoint tl = holder ? w->mapTo(holder, QPoint(0, 0)) : w->pos();
    const int holder_height = holder ? holder->height() : w->height();
    return rect_value(tl.x(), holder_height - (tl.y() + w->height()), w->width(), w->height());
}

void QtGui::set_position(Handle h, bool outer, const Value& value) {
    QWidget* w = widget(h);
    const auto r = rect_of(value, outer ? "outerposition" : "position");
    const int x = static_cast<int>(r[0]), y = static_cast<int>(r[1]);
    const int width = static_cast<int>(std::max(1L, r[2])), height = static_cast<int>(std::max(1L, r[3]));
    if (is_window(h)) {
        const QRect screen = usable_screen(w);
        const int top = screen.y() + screen.height() - (y + height);
        if (outer) {
            // Keep the frame the window manager draws around the inner area.
            const QRect g = w->geometry(), f = w->frameGeometry();
            w->resize(std::max(1, width - (f.width() - g.width())), std::max(1, height - (f.height() - g.height())));
            w->move(screen.x() + x, top);
        } else {
            w->setGeometry(screen.x() + x, top, width, height);
        }
        return;
    }
    QWidget* holder = widget(*parent_of(h));
    QWidget* parent = w->parentWidget();
    if (!holder || !parent) return w->setGeometry(x, y, width, height);
    const QPoint in_holder(x, holder->height() - (y + height));
    const QPoint in_parent = parent == holder ? in_holder : parent->mapFrom(holder, in_holder);
    w->setGeometry(in_parent.x(), in_parent.y(), width, height);
}

Value QtGui::getappdata(Handle h, const std::string& name) {
    Object& o = object(h);
    auto it = o.appdata.find(name);
    return it == o.appdata.end() ? Value() : it->second;
}

void QtGui::setappdata(Handle h, const std::string& name, const Value& value) { object(h).appdata[name] = value; }

// ---------------------------------------------------------------- windows

Handle QtGui::hgload(const std::string& path) {
    const std::string file = find_layout(path);
    QFile f(from_native_path(file));
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
    box->show();
}

std::optional<FileChoice> QtGui::file_dialog(DialogKind kind, const std::string& filter, const std::string& title) {
    DialogRequest request{kind, filter, title, dialog_folder_ ? dialog_folder_({kind, filter, title, {}}) : std::string()};
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
        QFileDialog d(dialog_parent(), qstr(request.shown), from_native_path(request.folder), dialog_filter(filter));
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
            chosen = native_path(d.selectedFiles().front());
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
