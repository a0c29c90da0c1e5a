// Runs the batch front end as a user would, capturing what it writes.
#pragma once

#include <string>
#include <vector>

namespace quillan::test {

struct BatchResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Arguments are passed to the program as they stand (each one quoted).
BatchResult run_batch(const std::vector<std::string>& args);
// The same of another program of the build.
BatchResult run_program(const std::string& program, const std::vector<std::string>& args);

// Arguments for `action` on the bundled plethodon landmarks and species
// groups, then `more`.
std::vector<std::string> plethodon_run(const std::string& action, const std::vector<std::string>& more = {});

// Arguments for run_batch listed in a call, texts and strings alike.
template <class... Args>
std::vector<std::string> batch_args(const Args&... args) {
    return {std::string(args)...};
}

}  // namespace quillan::test
