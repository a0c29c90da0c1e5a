#include "window/optable.hpp"

#include "platform/error.hpp"

namespace quillan {

namespace {
std::string count_text(const std::string& name, int line, const char* what, int declared) {
    return "Run-time Error: File: " + name + " Line: " + std::to_string(line) + " Column: 1 The function \"" + name +
           "\" was called with more than the declared number of " + what + " (" + std::to_string(declared) + ").";
}
}  // namespace

std::string too_many_inputs_text(const std::string& name, int line, int declared) {
    return count_text(name, line, "inputs", declared);
}

std::string too_many_outputs_text(const std::string& name, int line, int declared) {
    return count_text(name, line, "outputs", declared);
}

void check_arg_counts(const Operation& op, std::size_t nargin, int nargout) {
    if (op.nin != kAny && static_cast<int>(nargin) > op.nin) throw QuillanError(too_many_inputs_text(op.name, op.line, op.nin));
    if (op.nout != kAny && nargout > op.nout) throw QuillanError(too_many_outputs_text(op.name, op.line, op.nout));
}

void OpTable::add(Operation op) {
    if (find(op.name)) throw QuillanError("operation registered twice: " + op.name);
    ops_.push_back(std::move(op));
}

const Operation* OpTable::find(const std::string& name) const {
    for (const auto& op : ops_)
        if (op.name == name) return &op;
    return nullptr;
}

std::vector<std::string> OpTable::names() const {
    std::vector<std::string> n;
    for (const auto& op : ops_) n.push_back(op.name);
    return n;
}

std::vector<Value> OpTable::call(const std::string& name, const std::vector<Value>& args, int nargout) const {
    const Operation* op = find(name);
    if (!op) throw QuillanError("Undefined function or operation '" + name + "'.");
    check_arg_counts(*op, args.size(), nargout);
    return op->fn(args, nargout);
}

}  // namespace quillan
