// What an analysis is asked beyond the workspace: the permutation count, the
// covariate model, the action's own options (the linear model's among them) and
// the words its messages use for the front end's controls.  Every front end
// fills the same typed values; the analyses never read a control.
#pragma once

#include "analyses/control_words.hpp"
#include "analyses/options.hpp"
#include "analyses/side_file.hpp"
#include "platform/error.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillan {

// The covariate models of the standardising analyses, numbered as the
// entries of the covariate box.
enum class CovariateChoice {
    None = 1,         // the landmark table as loaded
    SameSlope = 2,    // one line for every specimen
    WithinG1 = 3,     // a line within each group of G1
    WithinG2 = 4,     // a line within each group of G2
    WithinCells = 5,  // a line within each cell of G1 x G2
};

// The entries of the covariate model box, in the order of their values 1 to
// 5; a report's record names the model chosen by its entry.
const std::vector<std::string>& covariate_model_entries();

// A value a front end read, or the failure it met reading it.  The failure is
// raised only where the analysis asks for the value, so an action that
// refuses for another reason first (the group-list rule) still says that.
template <class T>
class Pending {
public:
    Pending() = default;
    Pending(T value) : value_(std::move(value)) {}  // NOLINT: a plain value converts
    static Pending failed(std::exception_ptr failure) {
        Pending p;
        p.failure_ = std::move(failure);
        return p;
    }
    template <class E>
    static Pending failed(const E& error) {
        return failed(std::make_exception_ptr(error));
    }

    const T& get() const {
        if (failure_) std::rethrow_exception(failure_);
        if (!value_) throw QuillanError("A value the action needs was not given.");
        return *value_;
    }
    bool ok() const { return !failure_ && value_.has_value(); }

private:
    std::optional<T> value_;
    std::exception_ptr failure_;
};

struct AnalysisParams {
    Pending<std::uint64_t> permutations;
    Pending<CovariateChoice> covariate = CovariateChoice::None;
    // The action's own options, as its row declares them.
    OptionValues options;
    ControlWords words;
    // The side files the action's options name, read by the front end's
    // shell before the analysis runs; an option not given has no entry.
    SideFiles side_files;
    const SideFile* side_file(const std::string& option) const {
        const auto it = side_files.find(option);
        return it == side_files.end() ? nullptr : &it->second;
    }
};

}  // namespace quillan
