// The numbers behind a report, kept beside it at full precision so that they
// can leave the program as a record (JSON, CSV) instead of as prose.  The
// analyses fill it while they build their report; nothing in it changes what
// the report says.
#pragma once

#include "analyses/linear_models/size_model.hpp"
#include "analyses/statistic_names.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

// One permutation test of a report.
struct RecordedTest {
    std::string statistic;  // what was compared: "explained SS", "F", ...
    double observed = std::numeric_limits<double>::quiet_NaN();
    long long count = 0;     // permutations that exceeded the observed value (the report's count)
    long long count_ge = 0;  // permutations at least as extreme (ties included)
    long long nperm = 0;
    double p = 0;          // the report's p
    bool p_bound = false;  // the report prints "p<" this value
    // (count_ge + 1) / (nperm + 1): the observed data counted as one of the
    // permutations, so that ties never give a p below what the data support.
    double p_ge() const { return (static_cast<double>(count_ge) + 1) / (static_cast<double>(nperm) + 1); }
};

// One model or effect of a report: its sums of squares and the like, and its
// test when it has one.
struct RecordedModel {
    std::string name;
    std::vector<std::pair<std::string, double>> values;
    std::vector<RecordedTest> tests;

    RecordedModel& set(const std::string& key, double v) {
        values.emplace_back(key, v);
        return *this;
    }
    // The usual four numbers of a partition of the total sum of squares.
    RecordedModel& sums(double total, double explained, double unexplained) {
        return set("total_ss", total)
            .set("explained_ss", explained)
            .set("unexplained_ss", unexplained)
            .set("percent_explained", 100 * explained / total);
    }
    // A test whose p is count/nperm, printed as the bound 1/nperm when no
    // permutation exceeded.
    RecordedModel& test(const std::string& statistic, double observed, long long count, long long count_ge, long long nperm) {
        const double n = static_cast<double>(nperm);
        return test(statistic, observed, count, count_ge, nperm, count == 0 ? 1.0 / n : static_cast<double>(count) / n,
                    count == 0);
    }
    RecordedModel& test(const std::string& statistic, double observed, long long count, long long count_ge, long long nperm,
                        double p, bool bound) {
        tests.push_back({statistic, observed, count, count_ge, nperm, p, bound});
        return *this;
    }
    const double* value(const std::string& key) const {
        for (const auto& [k, v] : values)
            if (k == key) return &v;
        return nullptr;
    }
};

// The run that made a report.
struct RunInfo {
    std::string action;
    std::string date;  // UTC, ISO 8601
    struct Input {
        std::string role, name, path, sha256;
    };
    std::vector<Input> inputs;
    long long specimens = 0, landmarks = 0;
    struct Grouping {
        std::string name;
        std::vector<std::string> levels;  // by code 1, 2, ...
    };
    std::vector<Grouping> groups;
    int covariate_model = 0;
    std::string covariate_model_name;
    std::string covariate_name;
    long long permutations = 0;
    bool seeded = false;
    std::vector<std::uint64_t> seeds;          // of every permutation loop, in order
    int threads = 0;                           // worker threads of each process
    int processes = 1;                         // processes sharing the permutations
    StatisticNames statistics;                 // what each permutation loop compared, as the action table names it
    std::string gpa_steps;                     // of the superimposition the action ran: "converged" or "gpagen"; empty: none
    std::optional<SizeModel> size_correction;  // the size model the shapes were corrected for; none: not corrected
    // What the import did to the coordinates: landmarks estimated at gaps
    // (specimen ID, landmark number), semilandmarks slid.
    struct Estimated {
        long long specimen = 0;  // 1-based
        std::string id;
        int landmark = 0;  // 1-based
    };
    std::string estimate_method;
    std::vector<Estimated> estimated;
    std::string slide_criterion;
    std::vector<int> semilandmarks;
    std::vector<std::array<int, 3>> sliders;
    int slide_iterations = 0;
    bool slide_converged = true;
    std::vector<std::string> left_out;              // IDs of specimens left out for a factor or covariate without a value
    std::vector<std::string> left_out_as_outliers;  // IDs (or row numbers) of specimens left out as outliers
};

struct ResultRecord {
    RunInfo run;
    std::vector<std::pair<std::string, double>> values;  // numbers of the report outside any model
    std::vector<RecordedModel> models;

    RecordedModel& model(const std::string& name) {
        models.push_back({name, {}, {}});
        return models.back();
    }
    ResultRecord& set(const std::string& key, double v) {
        values.emplace_back(key, v);
        return *this;
    }
    bool empty() const { return run.action.empty(); }
};

}  // namespace quillan
