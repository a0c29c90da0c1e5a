#include "window_model/memory_gui.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <filesystem>

namespace quillan {

MemoryGui::MemoryGui() {
    Object root;
    root.type = "root";
    root.props = {{"type", Value("root")},
                  {"units", Value("pixels")},
                  {"screensize", Value(matrix_from_rows({{1, 1, 1280, 1024}}))},
                  {"defaultUicontrolBackgroundColor", Value(matrix_from_rows({{0.94, 0.94, 0.94}}))},
                  {"tag", Value("")}};
    objects_[kRoot] = std::move(root);
    std::error_code ec;
    cwd_ = std::filesystem::current_path(ec).string();
    if (!cwd_.empty() && cwd_.back() != '/') cwd_ += '/';
}

Handle MemoryGui::create(const std::string& type, Handle parent, const std::vector<std::pair<std::string, Value>>& props) {
    object(parent);  // must exist
    const Handle h = next_;
    next_ += 1;
    Object o;
    o.type = type;
    o.parent = parent;
    o.props = {{"type", Value(type)}, {"tag", Value("")}, {"visible", Value("on")}, {"units", Value("pixels")}};
    for (const auto& [name, value] : props) {
        if (Value* p = find_prop(o, name)) *p = value;
        else o.props.emplace_back(name, value);
    }
    objects_[h] = std::move(o);
    objects_[parent].children.push_back(h);
    if (type == "figure") current_ = h;
    return h;
}

void MemoryGui::destroy(Handle h) {
    if (h == kRoot || !objects_.count(h)) return;
    std::vector<Handle> all;
    collect(h, all);
    auto& siblings = objects_[objects_[h].parent].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), h), siblings.end());
    for (Handle x : all) objects_.erase(x);
    if (current_ && !objects_.count(*current_)) current_.reset();
}

MemoryGui::Object& MemoryGui::object(Handle h) {
    auto it = objects_.find(h);
    if (it == objects_.end()) throw QuillanError("Invalid handle");
    return it->second;
}

Value* MemoryGui::find_prop(Object& o, const std::string& name) {
    for (auto& [n, v] : o.props)
        if (same_property(n, name)) return &v;
    return nullptr;
}

void MemoryGui::collect(Handle h, std::vector<Handle>& out) {
    out.push_back(h);
    for (Handle c : objects_[h].children) collect(c, out);
}

void MemoryGui::queue_open_answer(std::optional<FileChoice> answer) { open_answers_.push_back(std::move(answer)); }
void MemoryGui::queue_save_answer(std::optional<FileChoice> answer) { save_answers_.push_back(std::move(answer)); }
void MemoryGui::set_callback_object(std::optional<Handle> obj) { callback_object_ = obj; }

std::vector<Handle> MemoryGui::findobj_tag(const std::string& tag) {
    std::vector<Handle> all, out;
    collect(kRoot, all);
    for (Handle h : all) {
        Value* t = find_prop(objects_[h], "tag");
        if (t && t->is_text() && t->text() == tag) out.push_back(h);
    }
    return out;
}

std::vector<Handle> MemoryGui::findall(Handle window) {
    object(window);
    std::vector<Handle> out;
    collect(window, out);
    return out;
}

bool MemoryGui::ishandle(Handle h) { return objects_.count(h) > 0; }

Value MemoryGui::get(Handle h, const std::string& property) {
    Object& o = object(h);
    if (same_property(property, "parent")) return Value(o.parent);
    if (same_property(property, "children")) {
        Matrix m(static_cast<Eigen::Index>(o.children.size()), 1);
        for (std::size_t i = 0; i < o.children.size(); ++i) m(static_cast<Eigen::Index>(i), 0) = o.children[i];
        return Value(m);
    }
    if (Value* p = find_prop(o, property)) return *p;
    throw QuillanError("There is no " + property + " property on the " + o.type + " class.");
}

void MemoryGui::set(Handle h, const std::string& property, const Value& value) {
    Object& o = object(h);
    if (same_property(property, "type")) throw QuillanError("The type property is read-only.");
    // Moving the outer frame of a window moves its inner area by the same
    // amount, keeping the frame's borders.
    if (same_property(property, "outerposition") || same_property(property, "position")) {
        Value* pos = find_prop(o, "position");
        Value* outer = find_prop(o, "outerposition");
        if (pos && outer && pos->is_matrix() && outer->is_matrix() && value.is_matrix() && value.matrix().size() == 4 &&
            pos->matrix().size() == 4 && outer->matrix().size() == 4) {
            Matrix p = pos->matrix(), q = outer->matrix(), v = value.matrix();
            const bool setting_outer = same_property(property, "outerposition");
            Matrix& moved = setting_outer ? p : q;
            const Matrix& from = setting_outer ? q : p;
            for (int k = 0; k < 2; ++k) moved(0, k) += v(0, k) - from(0, k);
            for (int k = 2; k < 4; ++k) moved(0, k) += v(0, k) - from(0, k);
            if (setting_outer) {
                *outer = Value(v);
                *pos = Value(p);
            } else {
                *pos = Value(v);
                *outer = Value(q);
            }
            return;
        }
    }
    if (Value* p = find_prop(o, property)) *p = value;
    else o.props.emplace_back(property, value);
}

Value MemoryGui::getappdata(Handle h, const std::string& name) {
    Object& o = object(h);
    auto it = o.appdata.find(name);
    return it == o.appdata.end() ? Value() : it->second;
}

void MemoryGui::setappdata(Handle h, const std::string& name, const Value& value) { object(h).appdata[name] = value; }

Handle MemoryGui::hgload(const std::string& path) {
    if (!loader_) throw QuillanError("Unable to load the layout file " + path + ".");
    ++loads_;
    Handle h = loader_(*this, path);
    current_ = h;
    return h;
}

std::optional<Handle> MemoryGui::gcf() {
    if (current_ && objects_.count(*current_)) return current_;
    return std::nullopt;
}

std::optional<Handle> MemoryGui::gcbf() {
    if (!callback_object_ || !objects_.count(*callback_object_)) return std::nullopt;
    Handle h = *callback_object_;
    while (h != kRoot) {
        if (objects_[h].type == "figure") return h;
        h = objects_[h].parent;
    }
    return std::nullopt;
}

std::optional<Handle> MemoryGui::gcbo() {
    if (callback_object_ && objects_.count(*callback_object_)) return callback_object_;
    return std::nullopt;
}

void MemoryGui::figure(Handle window) {
    object(window);
    current_ = window;
}

void MemoryGui::msgbox(const std::string& text, const std::string& title) {
    messages_.push_back({text, title});
    if (on_message_) on_message_(messages_.back());
}

std::optional<FileChoice> MemoryGui::uigetfile(const std::string& filter, const std::string& title) {
    dialog_titles_.push_back(title);
    dialog_filters_.push_back(filter);
    if (open_answers_.empty()) return std::nullopt;
    auto a = open_answers_.front();
    open_answers_.pop_front();
    return a;
}

std::optional<FileChoice> MemoryGui::uiputfile(const std::string& filter, const std::string& title) {
    dialog_titles_.push_back(title);
    dialog_filters_.push_back(filter);
    if (save_answers_.empty()) return std::nullopt;
    auto a = save_answers_.front();
    save_answers_.pop_front();
    return a;
}

}  // namespace quillan
