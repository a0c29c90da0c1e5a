#include "analyses/registry.hpp"

#include "analyses/actions.hpp"

#include <utility>

namespace quillan {

namespace {

struct Entry {
    const char* name;
    AnalysisFn fn;
};

// Each analysis joins this table as it is built.
const Entry kAnalyses[] = {
    {"RunOneWay", run_one_way},
    {"RunOneWayF", run_one_way_f},
    {"RunTwoWay", run_two_way},
    {"RunTwoWayF", run_two_way_f},
    {"RunTwoWayNest", run_two_way_nest},
    {"GoMan", go_man},
    {"RunOneStand", run_one_stand},
    {"RunTwoStand", run_two_stand},
    {"RunOneStandF", run_one_stand_f},
    {"RunTwoStandF", run_two_stand_f},
    {"TestCovariate", test_covariate},
    {"RunTwoCov", run_two_cov},
    {"RunOneCov", run_one_cov},
};

}  // namespace

AnalysisFn find_analysis(const std::string& action) {
    for (const auto& e : kAnalyses)
        if (e.fn && action == e.name) return e.fn;
    return nullptr;
}

}  // namespace quillan
