// Every exception type of the program.  QuillanError carries a user-facing
// text; the dispatcher catches it at the action boundary, prints it on the
// console and shows it in a message window; the workspace and the boxes keep
// what they held.  The other two are ways an action ends early that are not
// errors to report in the usual way.
#pragma once

#include <stdexcept>
#include <string>

namespace quillan {

class QuillanError : public std::runtime_error {
public:
    explicit QuillanError(const std::string& text) : std::runtime_error(text) {}
};

// Raised when the user cancels a long action: it ends the action like a
// failure (no report, nothing changed) but is not an error to report.
class Cancelled : public QuillanError {
public:
    Cancelled() : QuillanError("The action was cancelled.") {}
};

// A design refusal: the action shows the text in a message window without a
// title and ends; no report is produced and nothing else changes.
class Refused : public QuillanError {
public:
    explicit Refused(const std::string& text) : QuillanError(text) {}
};

}  // namespace quillan
