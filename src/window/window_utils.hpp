// The small operations the main window is opened and wired with: opening a
// layout once, placing a window on the screen, collecting the handles of the
// tagged controls and keeping them on the window.  They reach the window
// system only through the Gui interface, so the in-memory backend and the Qt
// backend behave alike.
#pragma once

#include "window/gui.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quillan {

// Failure texts, shared with the tests.
inline constexpr const char* kNotAFigFile = "Argument must be a .fig file";
inline constexpr const char* kBadPolicy = "Second input argument must be 'new' or 'reuse'.";
inline constexpr const char* kNeedFigureHandle = "handle of figure or descendant required";
inline constexpr const char* kBadPosition = "unrecognized position";
inline constexpr const char* kBadMoveInput = "unrecognized input argument";
inline constexpr const char* kNeedFigureOrDescendent = "H must be the handle to a figure or figure descendent.";

// Application-data name under which a window keeps its handles record.
inline constexpr const char* kGuiDataName = "UsedByGUIData_m";

// The 17 reserved words, in their listing order.
const std::vector<std::string>& keywords();
bool iskeyword(const std::string& s);

// A usable field name: one row of at most 31 characters, a letter first, then
// letters, digits and underscores, and not a reserved word.
bool isvarname(const std::string& s);
bool isvarname(const Value& v);
inline bool isvarname(const char* s) { return isvarname(std::string(s)); }

// The window that contains an object, following "parent" upwards; none when
// the object is not inside a window (the root, for instance).
std::optional<Handle> get_parent_fig(Gui& gui, Handle h);

// Opens the layout file `filename` (".fig" is added when it has no
// extension).  With policy "reuse" an already open window of that layout is
// returned instead of loading another copy.  The window is then placed on
// the screen and, when visible, raised.
Handle openfig(Gui& gui, const std::string& filename, const std::string& policy = "new");

// The root application-data name that lists the open windows of a layout.
std::string singleton_key(const std::string& base_name);

// Places a window on the screen.  Arguments as callers pass them by name: a
// handle of the window or anything inside it, a position name ("north",
// "center", "onscreen", ...) or a two-element [x y] (negative values count
// from the right or top edge).
void movegui(Gui& gui, const std::vector<Value>& args);
// The same with typed arguments.
void movegui(Gui& gui, Handle window, const std::string& position);

// The handles record of the window containing `h` (the current window when
// none is given): one field per valid tag, each holding the handles of the
// objects carrying that tag, hidden ones included.
Record guihandles(Gui& gui, std::optional<Value> h = std::nullopt);

// The data kept on the window containing `h`, and storing it.
Value guidata(Gui& gui, const Value& h);
void guidata(Gui& gui, const Value& h, const Value& data);

}  // namespace quillan
