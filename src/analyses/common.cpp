#include "analyses/common.hpp"

#include "analyses/control_words.hpp"
#include "analyses/covariates/covariate_checks.hpp"
#include "analyses/degenerate.hpp"
#include "platform/format.hpp"
#include "platform/number_text.hpp"

#include <cmath>

namespace quillan {

const std::vector<std::string>& covariate_model_entries() {
    static const std::vector<std::string> entries = {
        "No covariate",
        "Covariate, same slope in every group",
        "Covariate within groups of G1",
        "Covariate within groups of G2",
        "Covariate within cells of G1 x G2",
    };
    return entries;
}

Pending<std::uint64_t> permutation_count(const std::string& text, const ControlWords& words) {
    const std::vector<double> v = str2num(text);
    const bool ok = v.size() == 1 && std::isfinite(v[0]) && v[0] >= 1 && v[0] == std::floor(v[0]) && v[0] <= 1e12;
    if (ok) return static_cast<std::uint64_t>(v[0]);
    std::string shown = text;
    if (shown.size() > 40) shown = shown.substr(0, 37) + "...";
    return Pending<std::uint64_t>::failed(
        Refused("The number of permutations must be a whole number of at least 1 and at most 1000000000000 (" +
                words.permutations_given + " \"" + shown + "\")."));
}

Pending<CovariateChoice> covariate_choice(double entry) {
    if (!(entry == 1 || entry == 2 || entry == 3 || entry == 4 || entry == 5))
        return Pending<CovariateChoice>::failed(QuillanError(
            format_expand_reuse("The covariate model must be one of the five entries of the covariate box (got %i).", {entry})));
    return static_cast<CovariateChoice>(static_cast<int>(entry));
}

long long read_nperm(ActionEnv& env) {
    const auto n = static_cast<long long>(env.params().permutations.get());
    env.record().run.permutations = n;
    return n;
}

const Matrix& require_landmarks(const Workspace& ws, const ControlWords& words) {
    if (ws.landmarks.size() == 0)
        throw QuillanError("No landmark file is loaded: load one with " + words.load_landmarks + " first.");
    // Tables in space have their own width check (at least three landmarks).
    if (ws.dimensions == 2) require_shape_landmarks(ws.landmarks);
    return ws.landmarks;
}

const Matrix& require_groups(const Workspace& ws, const ControlWords& words, Eigen::Index columns) {
    if (ws.groups.size() == 0) throw QuillanError("No group file is loaded: load one with " + words.load_groups + " first.");
    if (ws.groups.cols() < columns)
        throw QuillanError(format_expand_reuse("The group file has %i column(s), but this analysis needs %i.",
                                               {static_cast<double>(ws.groups.cols()), static_cast<double>(columns)}));
    if (ws.groups.rows() != ws.landmarks.rows())
        throw QuillanError(format_expand_reuse(
            "The group file has %i specimens, but the landmark file has %i: load files that describe the same "
            "specimens.",
            {static_cast<double>(ws.groups.rows()), static_cast<double>(ws.landmarks.rows())}));
    return ws.groups;
}

const Matrix& require_covariate(const Workspace& ws, const ControlWords& words) {
    if (ws.covariate.size() == 0)
        throw QuillanError("No covariate file is loaded: load one with " + words.load_covariate + " first.");
    if (ws.covariate.rows() != ws.landmarks.rows())
        throw QuillanError(
            format_expand_reuse("The covariate file has %i specimens, but the landmark file has %i: load files that describe the "
                                "same specimens.",
                                {static_cast<double>(ws.covariate.rows()), static_cast<double>(ws.landmarks.rows())}));
    if (ws.covariate.cols() != 1)
        throw QuillanError(format_expand_reuse("The covariate file has %i values per line; it must hold one value per specimen.",
                                               {static_cast<double>(ws.covariate.cols())}));
    require_fittable_covariate(ws);
    return ws.covariate;
}

void SingleGroupNotice::observed(const std::vector<double>& codes, const std::string& what) {
    for (double c : codes) {
        const std::string text = what + " " + exact_number_text(c);
        bool seen = false;
        for (const auto& o : observed_) seen = seen || o == text;
        if (!seen) observed_.push_back(text);
    }
}

void SingleGroupNotice::permuted(long long permutations, long long nperm) {
    permuted_ += permutations;
    nperm_ = nperm;
}

void SingleGroupNotice::tell(ActionEnv& env) const {
    std::string text;
    if (!observed_.empty()) {
        std::string list;
        for (std::size_t i = 0; i < observed_.size(); ++i) {
            if (i > 0) list += i + 1 == observed_.size() ? " and " : ", ";
            list += observed_[i];
        }
        text = (observed_.size() == 1 ? "The " + list + " has" : "The " + list + " each have") +
               " a single specimen and contribute" + (observed_.size() == 1 ? "s" : "") + " nothing to the within-group sum.";
    }
    if (permuted_ > 0) {
        if (!text.empty()) text += "\n";
        text += format_expand_reuse(
            "In %i of the %i permutations a shuffled grouping formed a group of a single specimen, which contributes "
            "nothing to the within-group sum.",
            {static_cast<double>(permuted_), static_cast<double>(nperm_)});
    }
    if (!text.empty()) env.message(text, "Single-specimen groups");
}

}  // namespace quillan
