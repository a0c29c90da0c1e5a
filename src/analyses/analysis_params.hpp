// What an analysis is asked beyond the workspace: the permutation count, the
// covariate model, the linear model's request, the action's own options and
// the words its messages use for the front end's controls.  Every front end
// fills the same typed values; the analyses never read a control.
#pragma once

#include "analyses/control_words.hpp"
#include "analyses/linear_models/model_request.hpp"
#include "analyses/side_file.hpp"
#include "platform/error.hpp"

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>

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

// An action's own options by name (without the dashes), typed as its row
// declares them; an option not given has its row's default.
using OptionValue = std::variant<std::string, long long, double, bool>;

class OptionValues {
public:
    void set(const std::string& name, OptionValue value) { values_[name] = std::move(value); }
    bool has(const std::string& name) const { return values_.count(name) > 0; }
    const std::string& text(const std::string& name) const { return get<std::string>(name); }
    long long whole(const std::string& name) const { return get<long long>(name); }
    double number(const std::string& name) const { return get<double>(name); }
    bool flag(const std::string& name) const { return get<bool>(name); }

private:
    template <class T>
    const T& get(const std::string& name) const {
        const auto it = values_.find(name);
        if (it == values_.end() || !std::holds_alternative<T>(it->second))
            throw QuillanError("The option " + name + " was not given to this action.");
        return std::get<T>(it->second);
    }
    std::map<std::string, OptionValue> values_;
};

struct AnalysisParams {
    Pending<std::uint64_t> permutations;
    Pending<CovariateChoice> covariate = CovariateChoice::None;
    ModelRequest model;
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
