// The window-object model the program is written against: numeric handles
// (the root object is 0), windows and controls with named properties,
// application data, message windows that do not wait, file dialogs, the
// pause for a key and the current directory.
//
// Two implementations exist: the Qt backend of the desktop program and
// MemoryGui, the window built in memory that the tests, benchmarks and fuzz
// targets drive (tests/window_model; no program links it).  The core never
// includes a Qt header.
#pragma once

#include "platform/paths.hpp"
#include "platform/value.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quillan {

using Handle = double;
inline constexpr Handle kRoot = 0;

// What a file dialog returns: the file name and the folder holding it (the
// folder text ends with the path separator).
struct FileChoice {
    std::string name;
    std::string folder;
};

class Gui {
public:
    virtual ~Gui() = default;

    // Objects.  Property names are compared without regard to case.
    virtual std::vector<Handle> findobj_tag(const std::string& tag) = 0;
    virtual std::vector<Handle> findall(Handle window) = 0;  // the window and every object in it, hidden ones too
    virtual bool ishandle(Handle h) = 0;
    virtual Value get(Handle h, const std::string& property) = 0;
    virtual void set(Handle h, const std::string& property, const Value& value) = 0;
    virtual Value getappdata(Handle h, const std::string& name) = 0;  // empty when nothing is stored
    virtual void setappdata(Handle h, const std::string& name, const Value& value) = 0;

    // Windows.
    virtual Handle hgload(const std::string& path) = 0;  // builds a window from a layout file
    virtual std::optional<Handle> gcf() = 0;             // the current window, if any
    virtual std::optional<Handle> gcbf() = 0;            // window of the running callback
    virtual std::optional<Handle> gcbo() = 0;            // object of the running callback
    virtual void figure(Handle window) = 0;              // make current and bring to the front
    virtual void drawnow() = 0;

    // Messages and dialogs.  An empty title means none.
    virtual void msgbox(const std::string& text, const std::string& title) = 0;
    virtual std::optional<FileChoice> uigetfile(const std::string& filter, const std::string& title) = 0;
    virtual std::optional<FileChoice> uiputfile(const std::string& filter, const std::string& title) = 0;
    virtual void pause() = 0;  // waits for a key press where a console can give one

    // The program's current directory (where dialogs open and relative names resolve).
    virtual std::string pwd() = 0;
    virtual void cd(const std::string& folder) = 0;
};

// Case-insensitive comparison of property names.
bool same_property(const std::string& a, const std::string& b);

// The "String" of a control read back as a list of lines: a text is split at
// its line feeds (an empty text has no lines); a list gives its entries.
std::vector<std::string> string_lines(const Value& v);

}  // namespace quillan
