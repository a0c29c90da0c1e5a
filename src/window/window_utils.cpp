#include "window/window_utils.hpp"

#include "platform/error.hpp"
#include "window/optable.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace quillan {

const std::vector<std::string>& keywords() {
    static const std::vector<std::string> words = {"break",      "case",   "catch",    "continue", "else", "elseif",
                                                   "end",        "for",    "function", "global",   "if",   "otherwise",
                                                   "persistent", "return", "switch",   "try",      "while"};
    return words;
}

bool iskeyword(const std::string& s) {
    const auto& k = keywords();
    return std::find(k.begin(), k.end(), s) != k.end();
}

bool isvarname(const std::string& s) {
    if (s.empty() || s.size() > 31) return false;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(s[0])) return false;
    for (char c : s)
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
    return !iskeyword(s);
}

bool isvarname(const Value& v) { return v.is_text() && isvarname(v.text()); }

std::optional<Handle> get_parent_fig(Gui& gui, Handle h) {
    // A window tree is shallow; the bound only protects against a backend
    // whose parent links form a loop.
    for (int depth = 0; depth < 10000; ++depth) {
        if (!gui.ishandle(h)) return std::nullopt;
        const Value type = gui.get(h, "type");
        if (type.is_text() && type.text() == "figure") return h;
        if (h == kRoot) return std::nullopt;
        const Value parent = gui.get(h, "parent");
        if (!parent.is_matrix() || parent.matrix().size() != 1) return std::nullopt;
        h = parent.scalar();
    }
    return std::nullopt;
}

namespace {

// A value that is one valid handle.
std::optional<Handle> single_handle(Gui& gui, const Value& v) {
    if (!v.is_matrix() || v.matrix().size() != 1) return std::nullopt;
    const Handle h = v.scalar();
    if (!gui.ishandle(h)) return std::nullopt;
    return h;
}

// The window of `h` for guihandles and guidata.
Handle getParentFigure(Gui& gui, const Value& h) {
    auto obj = single_handle(gui, h);
    if (!obj) throw QuillanError(kNeedFigureOrDescendent);
    auto fig = get_parent_fig(gui, *obj);
    if (!fig) throw QuillanError(kNeedFigureOrDescendent);
    return *fig;
}

std::vector<Handle> handle_list(const Value& v) {
    std::vector<Handle> out;
    if (v.is_matrix())
        for (double h : elements(v.matrix())) out.push_back(h);
    return out;
}

Value handle_row(const std::vector<Handle>& hs) {
    if (hs.empty()) return Value(Matrix());
    Matrix m(1, static_cast<Eigen::Index>(hs.size()));
    for (std::size_t i = 0; i < hs.size(); ++i) m(0, static_cast<Eigen::Index>(i)) = hs[i];
    return Value(m);
}

// A 1-by-4 [x y width height] read from a window.
std::array<double, 4> rect_of(const Value& v, const char* what) {
    if (!v.is_matrix() || v.matrix().size() != 4)
        throw QuillanError(std::string("The window's ") + what + " is not a four-element [x y width height].");
    const auto e = elements(v.matrix());
    return {e[0], e[1], e[2], e[3]};
}

bool is_position_name(const std::string& s) {
    static const char* const names[] = {"north",     "south",     "east",      "west",   "northeast",
                                        "southeast", "northwest", "southwest", "center", "onscreen"};
    for (const char* n : names)
        if (s == n) return true;
    return false;
}

}  // namespace

std::string singleton_key(const std::string& base_name) {
    std::string key = base_name + "_SINGLETON_handle";
    if (key.size() > 31) key.resize(31);
    return key;
}

Handle openfig(Gui& gui, const std::string& filename, const std::string& policy) {
    // Folder, base name and extension, the extension starting at the last
    // dot of the name part.
    const std::size_t slash = filename.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : filename.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? filename : filename.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    if (!ext.empty() && ext != ".fig") throw QuillanError(kNotAFigFile);
    const std::string path = folder + base + ".fig";

    const std::string key = singleton_key(base);
    std::vector<Handle> open;
    for (Handle h : handle_list(gui.getappdata(kRoot, key)))
        if (gui.ishandle(h)) open.push_back(h);

    Handle fig;
    if (policy == "new") {
        fig = gui.hgload(path);
        open.push_back(fig);
    } else if (policy == "reuse") {
        if (open.empty()) open.push_back(gui.hgload(path));
        fig = open.back();
    } else {
        throw QuillanError(kBadPolicy);
    }
    gui.setappdata(kRoot, key, handle_row(open));

    movegui(gui, fig, "onscreen");
    const Value visible = gui.get(fig, "visible");
    if (visible.is_text() && visible.text() == "on") gui.figure(fig);
    return fig;
}

namespace {

// What movegui was asked: the window (when named) and where it goes, a named
// position or a corner.
struct MoveRequest {
    std::optional<Handle> fig;
    std::string position = "onscreen";
    std::optional<std::array<double, 2>> corner;
};

MoveRequest read_move_args(Gui& gui, const std::vector<Value>& args) {
    if (args.size() > 3) throw QuillanError(too_many_inputs_text("movegui", 1, 3));
    MoveRequest m;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Value& a = args[i];
        if (auto h = single_handle(gui, a)) {
            m.fig = get_parent_fig(gui, *h);
            if (!m.fig) throw QuillanError(kNeedFigureHandle);
        } else if (a.is_text()) {
            if (!is_position_name(a.text())) throw QuillanError(kBadPosition);
            m.position = a.text();
            m.corner.reset();
        } else if (a.is_matrix() && a.matrix().size() == 2) {
            const auto e = elements(a.matrix());
            m.corner = std::array<double, 2>{e[0], e[1]};
        } else if (i == 1 && gui.gcbo()) {
            // The event data a control hands to its callback: not ours.
        } else {
            throw QuillanError(kBadMoveInput);
        }
    }
    return m;
}

// The lower left corner of a window fw x fh, whose outer rectangle is now
// `outer`, on a screen sw x sh: a corner given (negative values count from
// the right or top), a named position, or the nearest place on screen.
std::array<double, 2> move_target(const MoveRequest& m, const std::array<double, 4>& outer, double sw, double sh, double fw,
                                  double fh) {
    const std::string& position = m.position;
    if (m.corner) {
        const auto& corner = *m.corner;
        return {corner[0] < 0 ? sw - fw + corner[0] : corner[0], corner[1] < 0 ? sh - fh + corner[1] : corner[1]};
    }
    if (position == "north") return {(sw - fw) / 2, sh - fh};
    if (position == "south") return {(sw - fw) / 2, 0};
    if (position == "east") return {sw - fw, (sh - fh) / 2};
    if (position == "west") return {0, (sh - fh) / 2};
    if (position == "northeast") return {sw - fw, sh - fh};
    if (position == "southeast") return {sw - fw, 0};
    if (position == "northwest") return {0, sh - fh};
    if (position == "southwest") return {0, 0};
    if (position == "center") return {(sw - fw) / 2, (sh - fh) / 2};
    // onscreen
    return {std::min(std::max(outer[0], 0.0), sw - fw), std::min(std::max(outer[1], 0.0), sh - fh)};
}

}  // namespace

void movegui(Gui& gui, const std::vector<Value>& args) {
    const MoveRequest m = read_move_args(gui, args);
    std::optional<Handle> fig = m.fig;
    if (!fig) fig = gui.gcbf();
    if (!fig) fig = gui.gcf();
    if (!fig) throw QuillanError(kNeedFigureHandle);
    const Handle f = *fig;

    gui.drawnow();
    const Value old_active = gui.get(f, "activepositionproperty");
    const Value old_units = gui.get(f, "units");
    gui.set(f, "units", Value("pixels"));
    const auto inner = rect_of(gui.get(f, "position"), "position");
    const auto outer = rect_of(gui.get(f, "outerposition"), "outer position");
    const Value old_root_units = gui.get(kRoot, "units");
    gui.set(kRoot, "units", Value("pixels"));
    const auto screen = rect_of(gui.get(kRoot, "screensize"), "screen size");
    gui.set(kRoot, "units", old_root_units);

    const double sw = screen[2], sh = screen[3];
    double fw = std::min(outer[2], sw), fh = std::min(outer[3], sh);
    const auto [x, y] = move_target(m, outer, sw, sh, fw, fh);
    if (inner[2] > outer[2] && inner[3] > outer[3]) {
        fw += 6;
        fh += 24;
    }
    gui.set(f, "outerposition", Value(matrix_from_rows({{x, y, fw, fh}})));
    gui.set(f, "units", old_units);
    gui.set(f, "activepositionproperty", old_active);
}

void movegui(Gui& gui, Handle window, const std::string& position) { movegui(gui, {Value(window), Value(position)}); }

Record guihandles(Gui& gui, std::optional<Value> h) {
    Handle fig;
    if (h) {
        fig = getParentFigure(gui, *h);
    } else {
        auto current = gui.gcf();
        if (!current) throw QuillanError("There is no current window.");
        fig = *current;
    }
    Record handles;
    for (Handle obj : gui.findall(fig)) {
        const Value tag = gui.get(obj, "tag");
        if (!isvarname(tag)) continue;
        std::vector<Handle> hs = handle_list(handles.has(tag.text()) ? handles[tag.text()] : Value());
        hs.push_back(obj);
        handles[tag.text()] = hs.size() == 1 ? Value(obj) : handle_row(hs);
    }
    return handles;
}

Value guidata(Gui& gui, const Value& h) { return gui.getappdata(getParentFigure(gui, h), kGuiDataName); }

void guidata(Gui& gui, const Value& h, const Value& data) { gui.setappdata(getParentFigure(gui, h), kGuiDataName, data); }

}  // namespace quillan
