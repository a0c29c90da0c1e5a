// The one exception type that carries a user-facing text.  The dispatcher
// catches it at the action boundary, prints it on the console and shows it in
// a message window; the workspace and the boxes keep what they held.
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

}  // namespace quillan
