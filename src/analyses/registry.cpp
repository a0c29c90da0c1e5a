#include "analyses/registry.hpp"

#include <utility>

namespace quillan {

namespace {

struct Entry {
    const char* name;
    AnalysisFn fn;
};

// Each analysis joins this table as it is built.
const Entry kAnalyses[] = {
    {"", nullptr},
};

}  // namespace

AnalysisFn find_analysis(const std::string& action) {
    for (const auto& e : kAnalyses)
        if (e.fn && action == e.name) return e.fn;
    return nullptr;
}

}  // namespace quillan
