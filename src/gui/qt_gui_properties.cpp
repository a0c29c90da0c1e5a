// The window-object model's properties on Qt widgets: reading and setting
// "String", "Value", "position", "visible" and the rest, each checked and
// converted between the program's values and the widget's state.
#include "gui/qt_gui.hpp"

#include "gui/qt_text.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTextEdit>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace quillan {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
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
// The text a text-like widget shows; none for other widgets.
std::optional<QString> shown_text(const QWidget* w) {
    if (auto* e = qobject_cast<const QPlainTextEdit*>(w)) return e->toPlainText();
    if (auto* t = qobject_cast<const QTextEdit*>(w)) return t->toPlainText();
    if (auto* l = qobject_cast<const QLineEdit*>(w)) return l->text();
    if (auto* lab = qobject_cast<const QLabel*>(w)) return lab->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    return std::nullopt;
}

}  // namespace

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

}  // namespace quillan
