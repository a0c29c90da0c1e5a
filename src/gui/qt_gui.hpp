// The window-object model on Qt Widgets.
//
// A window is built at run time from a layout file (a Qt Designer document,
// read with QUiLoader).  The window and every widget the layout declares get
// a numeric handle; the root object 0 stands for the screen and the
// application.  Properties map onto the widgets:
//   "tag"       the widget's object name (the name given in the layout)
//   "String"    the text of an edit box, text box, label or button; the
//               entries of a pop-up menu or list box
//   "Value"     the chosen entry of a pop-up menu or list box, counting from 1
//   "position", "outerposition"
//               [x y width height] in pixels, measured from the lower-left
//               corner of the screen's usable area (of the parent, for a
//               control); the outer position includes the window frame
//   "Color"     a window's background colour as [r g b] from 0 to 1
//   "visible", "enable"   "on" or "off"
// Other properties are kept as given.  A layout widget may carry two dynamic
// properties: "action", an action name its callback hands to the
// dispatcher, and "callback", the name of a window callback.
#pragma once

#include "window/gui.hpp"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillan {

class QtGui : public QObject, public Gui {
public:
    struct Message {
        std::string text;
        std::string title;
    };
    enum class DialogKind { Open, Save };
    struct DialogRequest {
        DialogKind kind;
        std::string filter;
        std::string title;
        std::string folder;  // where the dialog opens
        std::string shown;   // the dialog window's title: `title`, or what set_dialog_title gives
    };
    // Answers a file dialog instead of showing one: the chosen file's path,
    // or std::nullopt for "cancelled".  The tests answer through it.
    using DialogHook = std::function<std::optional<std::string>(const DialogRequest&)>;

    // What a control asks for when the user works it.
    struct CallbackRequest {
        Handle object;
        std::string action;    // an action name for the dispatcher, or empty
        std::string callback;  // a window callback name, or empty
        std::string label;     // the control's visible text, for progress messages
    };
    using CallbackHandler = std::function<void(const CallbackRequest&)>;

    QtGui();
    ~QtGui() override;  // closes the windows it built

    // Where a layout named without a folder is looked for, in order.  By
    // default: the folder of the executable, then ../share/quillan beside it.
    void set_layout_dirs(std::vector<std::string> dirs) { layout_dirs_ = std::move(dirs); }
    const std::vector<std::string>& layout_dirs() const { return layout_dirs_; }
    static std::vector<std::string> default_layout_dirs();
    // The file hgload reads for `path`; fails naming the folders searched.
    std::string find_layout(const std::string& path) const;

    void set_dialog_hook(DialogHook hook) { dialog_hook_ = std::move(hook); }
    void set_callback_handler(CallbackHandler handler) { callback_handler_ = std::move(handler); }
    // Asked before a window closes; returning false keeps it open.
    void set_close_guard(std::function<bool(Handle window)> guard) { close_guard_ = std::move(guard); }
    // Where a file dialog opens (the current folder when this gives an empty
    // text), and told of every file chosen in one.
    void set_dialog_folder(std::function<std::string(const DialogRequest&)> folder) { dialog_folder_ = std::move(folder); }
    // The title a file dialog's window shows, where the program's own title
    // would leave it unclear what it is for (empty: that title).
    void set_dialog_title(std::function<std::string(const DialogRequest&)> title) { dialog_title_ = std::move(title); }
    void set_file_chosen_observer(std::function<void(const DialogRequest&, const std::string& path)> observer) {
        chosen_observer_ = std::move(observer);
    }
    // Answers the next file dialog with `path`, before any hook or real
    // dialog is asked (a dropped file, a recent file).
    void answer_next_dialog(const std::string& path) { preset_answers_.push_back(path); }
    void forget_dialog_answers() { preset_answers_.clear(); }
    // Told of every message window as it is shown.
    void set_message_observer(std::function<void(const Message&)> observer) { message_observer_ = std::move(observer); }
    // Asked before a message window opens: true when the message has been
    // told some other way (the window's status line) and needs no window.
    void set_message_diverter(std::function<bool(const Message&)> diverter) { message_diverter_ = std::move(diverter); }
    // Asked for words to add to a message window's text, say which control
    // of this window helps (the message itself, as recorded, stays as it is).
    void set_message_addition(std::function<std::string(const Message&)> addition) { message_addition_ = std::move(addition); }
    // A button a message window may offer beside OK: its label and what it
    // does when pressed (no label: none).
    struct Offer {
        std::string label;
        std::function<void()> act;
    };
    void set_message_offer(std::function<Offer(const Message&)> offer) { message_offer_ = std::move(offer); }
    // Told when a pause starts waiting for a key in the terminal (true) and
    // when the key came (false).
    void set_pause_notice(std::function<void(bool waiting)> notice) { pause_notice_ = std::move(notice); }

    // What the window showed, for tests and front ends.
    const std::vector<Message>& messages() const { return messages_; }
    const std::vector<DialogRequest>& dialogs() const { return dialogs_; }
    int load_count() const { return loads_; }

    // The widget behind a handle (null for the root or a closed object), and back.
    QWidget* widget(Handle h) const;
    std::optional<Handle> handle_of(const QObject* object) const;
    // The open windows built from layouts, oldest first.
    std::vector<Handle> windows() const;

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
    void drawnow() override;
    void msgbox(const std::string& text, const std::string& title) override;
    std::optional<FileChoice> uigetfile(const std::string& filter, const std::string& title) override;
    std::optional<FileChoice> uiputfile(const std::string& filter, const std::string& title) override;
    void pause() override;
    std::string pwd() override;
    void cd(const std::string& folder) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Object {
        QPointer<QWidget> widget;                 // null for the root
        std::map<std::string, Value> properties;  // by lower-case name
        std::map<std::string, Value> appdata;
        // The exact text last set as "String" and what the widget showed for
        // it: a text the widget cannot hold byte for byte (line ends, bytes
        // that are not UTF-8) still reads back unchanged while untouched.
        std::string raw_string;
        QString shown_string;
        bool has_raw_string = false;
    };

    Object& object(Handle h);
    Handle add_object(QWidget* w);
    bool is_window(Handle h) const;
    void collect(const QObject* o, std::vector<Handle>& out) const;
    void connect_callback(Handle h, QWidget* w);
    void invoke(Handle h);
    std::string type_of(Handle h) const;
    std::optional<Handle> parent_of(Handle h) const;
    QRect usable_screen(const QWidget* w) const;

    Value get_root(Object& o, const std::string& property);
    void set_root(Object& o, const std::string& property, const Value& value);
    Value get_string(Object& o);
    void set_string(Object& o, const Value& value);
    Value get_value(Object& o);
    void set_value(Object& o, const Value& value);
    Value get_position(Handle h, bool outer);
    void set_position(Handle h, bool outer, const Value& value);
    std::optional<FileChoice> file_dialog(DialogKind kind, const std::string& filter, const std::string& title);
    QWidget* dialog_parent();

    std::map<Handle, Object> objects_;
    std::vector<Handle> windows_;
    Handle next_ = 1;
    std::optional<Handle> current_;
    std::optional<Handle> callback_object_;
    std::vector<std::string> layout_dirs_;
    DialogHook dialog_hook_;
    CallbackHandler callback_handler_;
    std::function<bool(Handle)> close_guard_;
    std::function<std::string(const DialogRequest&)> dialog_folder_;
    std::function<std::string(const DialogRequest&)> dialog_title_;
    std::function<void(const DialogRequest&, const std::string&)> chosen_observer_;
    std::vector<std::string> preset_answers_;
    std::function<void(const Message&)> message_observer_;
    std::function<bool(const Message&)> message_diverter_;
    std::function<std::string(const Message&)> message_addition_;
    std::function<Offer(const Message&)> message_offer_;
    std::function<void(bool)> pause_notice_;
    std::vector<Message> messages_;
    std::vector<DialogRequest> dialogs_;
    int loads_ = 0;
};

}  // namespace quillan
