// The in-memory window-object model.  It keeps objects and their properties in
// plain maps, answers dialogs from a queue and records message windows, so the
// tests and the batch front end can drive every action without a display.
#pragma once

#include "window/gui.hpp"

#include <deque>
#include <functional>
#include <map>

namespace quillan {

class MemoryGui : public Gui {
public:
    struct Message {
        std::string text;
        std::string title;
    };
    using Loader = std::function<Handle(MemoryGui&, const std::string& path)>;

    MemoryGui();

    // Creates an object of a type ("figure", "uicontrol", "uipanel", ...)
    // under a parent, with initial properties.
    Handle create(const std::string& type, Handle parent, const std::vector<std::pair<std::string, Value>>& props = {});
    void destroy(Handle h);  // the object and its descendants

    // Answers for the next dialogs, in order; std::nullopt answers "cancelled".
    // With no answer queued a dialog counts as cancelled.
    void queue_open_answer(std::optional<FileChoice> answer);
    void queue_save_answer(std::optional<FileChoice> answer);
    // Builds windows for hgload; without one, hgload fails.
    void set_loader(Loader loader) { loader_ = std::move(loader); }
    // Called for every message window as it is shown (the batch front end
    // prints them); they are recorded whatever this does.
    void on_message(std::function<void(const Message&)> f) { on_message_ = std::move(f); }
    void set_callback_object(std::optional<Handle> obj);  // as gcbo during a callback

    const std::vector<Message>& messages() const { return messages_; }
    void clear_messages() { messages_.clear(); }
    int pause_count() const { return pauses_; }
    int load_count() const { return loads_; }
    std::vector<std::string> dialog_titles() const { return dialog_titles_; }
    std::vector<std::string> dialog_filters() const { return dialog_filters_; }

    // Gui
    std::vector<Handle> findobj_tag(const std::string& tag) override;
    std::vector<Handle> findall(Handle window) override;
    bool ishandle(Handle h) override;
    Value get(Handle h, const std::string& property) override;
    void set(Handle h, const std::string& property, const Value& value) override;
    Value getappdata(Handle h, const std::string& name) override;
    void setappdata(Handle h, const std::string& name, const Value& value) override;
    Handle hgload(const std::string& path) override;
    std::optional<Handle> gcf() override;
    std::optional<Handle> gcbf() override;
    std::optional<Handle> gcbo() override;
    void figure(Handle window) override;
    void drawnow() override {}
    void msgbox(const std::string& text, const std::string& title) override;
    std::optional<FileChoice> uigetfile(const std::string& filter, const std::string& title) override;
    std::optional<FileChoice> uiputfile(const std::string& filter, const std::string& title) override;
    void pause() override { ++pauses_; }
    std::string pwd() override { return cwd_; }
    void cd(const std::string& folder) override { cwd_ = folder; }

private:
    struct Object {
        std::string type;
        Handle parent = kRoot;
        std::vector<Handle> children;
        std::vector<std::pair<std::string, Value>> props;
        std::map<std::string, Value> appdata;
    };
    Object& object(Handle h);
    Value* find_prop(Object& o, const std::string& name);
    void collect(Handle h, std::vector<Handle>& out);

    std::map<Handle, Object> objects_;
    Handle next_ = 1;
    std::optional<Handle> current_;
    std::optional<Handle> callback_object_;
    std::deque<std::optional<FileChoice>> open_answers_, save_answers_;
    std::vector<Message> messages_;
    std::vector<std::string> dialog_titles_, dialog_filters_;
    std::function<void(const Message&)> on_message_;
    Loader loader_;
    std::string cwd_;
    int pauses_ = 0;
    int loads_ = 0;
};

}  // namespace quillan
