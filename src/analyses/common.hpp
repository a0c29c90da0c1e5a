// Steps the analysis actions share before and after their own computation:
// reading and checking the permutation count, checking that what they need is
// loaded and consistent, and telling the user once about groups of a single
// specimen.
#pragma once

#include "analyses/action_env.hpp"
#include "platform/value.hpp"

#include <string>
#include <vector>

namespace quillan {

// The permutation count a text gives (the permutation box's, or --perm's).
// Anything but a single whole number of at least 1 is a refusal, raised when
// the analysis asks for the count: the action ends with a message and no
// report, the results kept as they were.
Pending<std::uint64_t> permutation_count(const std::string& text, const ControlWords& words);
// The covariate model of an entry of the covariate box, counted from 1; any
// other number is a failure raised when the analysis asks for the model.
Pending<CovariateChoice> covariate_choice(double entry);
// The action's permutation count, noted in its record.
long long read_nperm(ActionEnv& env);

// The loaded landmark table; fails with a clear message when none is loaded,
// naming the front end's control for it (`words`).
const Matrix& require_landmarks(const Workspace& ws, const ControlWords& words);
// The loaded group list, checked against the landmark table: it must be
// loaded, have at least `columns` columns and one row per specimen.
const Matrix& require_groups(const Workspace& ws, const ControlWords& words, Eigen::Index columns = 1);
// The loaded covariate list, one value per specimen.
const Matrix& require_covariate(const Workspace& ws, const ControlWords& words);
// The same for an analysis, in the words of its front end.
inline const Matrix& require_landmarks(const ActionEnv& env) { return require_landmarks(env.ws(), env.words()); }
inline const Matrix& require_groups(const ActionEnv& env, Eigen::Index columns = 1) {
    return require_groups(env.ws(), env.words(), columns);
}
inline const Matrix& require_covariate(const ActionEnv& env) { return require_covariate(env.ws(), env.words()); }

// Collects the groups of a single specimen met while scoring, and tells the
// user once per action: such a group contributes nothing to the
// within-group sum.
class SingleGroupNotice {
public:
    // Codes of one-specimen groups of an observed grouping, named by what
    // they group ("group", "cell", ...).
    void observed(const std::vector<double>& codes, const std::string& what = "group");
    // How many permutations formed such a group in a shuffled grouping.
    void permuted(long long permutations, long long nperm);
    // Shows the message window, if there is anything to say.
    void tell(ActionEnv& env) const;

private:
    std::vector<std::string> observed_;
    long long permuted_ = 0, nperm_ = 0;
};

}  // namespace quillan
