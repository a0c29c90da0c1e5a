#include "analyses/common.hpp"

#include "analyses/control_words.hpp"
#include "analyses/covariates/covariate_checks.hpp"
#include "analyses/degenerate.hpp"
#include "platform/format.hpp"
#include "platform/number_text.hpp"

#include <cmath>

namespace quillan {

namespace {
ControlWords& words() {
    static ControlWords w;
    return w;
}
}  // namespace

const ControlWords& control_words() { return words(); }
void set_control_words(ControlWords w) { words() = std::move(w); }

long long read_nperm(ActionEnv& env) {
    const std::string text = env.perm_box_text();
    const std::vector<double> v = str2num(text);
    const bool ok = v.size() == 1 && std::isfinite(v[0]) && v[0] >= 1 && v[0] == std::floor(v[0]) && v[0] <= 1e12;
    if (!ok) {
        std::string shown = text;
        if (shown.size() > 40) shown = shown.substr(0, 37) + "...";
        throw Refused("The number of permutations must be a whole number of at least 1 and at most 1000000000000 (" +
                      control_words().permutations_given + " \"" + shown + "\").");
    }
    env.record().run.permutations = static_cast<long long>(v[0]);
    return static_cast<long long>(v[0]);
}

const Matrix& require_landmarks(const Workspace& ws) {
    if (ws.landmarks.size() == 0)
        throw QuillanError("No landmark file is loaded: load one with " + control_words().load_landmarks + " first.");
    // Tables in space have their own width check (at least three landmarks).
    if (ws.dimensions == 2) require_shape_landmarks(ws.landmarks);
    return ws.landmarks;
}

const Matrix& require_groups(const Workspace& ws, Eigen::Index columns) {
    if (ws.groups.size() == 0)
        throw QuillanError("No group file is loaded: load one with " + control_words().load_groups + " first.");
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

const Matrix& require_covariate(const Workspace& ws) {
    if (ws.covariate.size() == 0)
        throw QuillanError("No covariate file is loaded: load one with " + control_words().load_covariate + " first.");
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
