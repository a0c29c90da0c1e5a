// The console: status lines, values echoed with their names, and error texts.
// It is a trace for the user, never part of a report.
#pragma once

#include "platform/value.hpp"

#include <mutex>
#include <ostream>
#include <string>

namespace quillan {

class Console {
public:
    explicit Console(std::ostream& out) : out_(&out) {}

    void line(const std::string& text);
    // `name = value`, a matrix as its rows.
    void echo(const std::string& name, const Value& value);
    void echo(const std::string& name, double value) { echo(name, Value(value)); }

private:
    std::ostream* out_;
    std::mutex mutex_;
};

}  // namespace quillan
