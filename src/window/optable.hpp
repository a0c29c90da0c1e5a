// The named-operation table: operations that callbacks and the command line
// of the desktop program call by name, each with its declared numbers of
// inputs and results.  A call with more of either fails with the
// argument-count error text.
#pragma once

#include "platform/value.hpp"

#include <functional>
#include <string>
#include <vector>

namespace quillan {

// Declared count meaning "any number".
inline constexpr int kAny = -1;

using OpFn = std::function<std::vector<Value>(const std::vector<Value>& args, int nargout)>;

struct Operation {
    std::string name;
    int nin = kAny;
    int nout = kAny;
    int line = 1;  // line of the operation's definition, quoted in the argument-count error
    OpFn fn;
};

class OpTable {
public:
    // Appends an operation; registration order is kept.
    void add(Operation op);
    const Operation* find(const std::string& name) const;
    const std::vector<Operation>& operations() const { return ops_; }
    std::vector<std::string> names() const;

    // Calls an operation by name, first checking the argument counts.
    std::vector<Value> call(const std::string& name, const std::vector<Value>& args, int nargout) const;

private:
    std::vector<Operation> ops_;
};

// The argument-count error texts.
std::string too_many_inputs_text(const std::string& name, int line, int declared);
std::string too_many_outputs_text(const std::string& name, int line, int declared);

// Fails with the argument-count error when a call exceeds the declared counts.
void check_arg_counts(const Operation& op, std::size_t nargin, int nargout);

}  // namespace quillan
