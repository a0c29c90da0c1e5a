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

// The number of permutations typed into the permutation box.  Anything but a
// single whole number of at least 1 ends the action with a message window
// (no analysis is run and the results box keeps its text).
long long read_nperm(ActionEnv& env);

// The loaded landmark table; fails with a clear message when none is loaded.
const Matrix& require_landmarks(const Workspace& ws);
// The loaded group list, checked against the landmark table: it must be
// loaded, have at least `columns` columns and one row per specimen.
const Matrix& require_groups(const Workspace& ws, Eigen::Index columns = 1);
// The loaded covariate list, one value per specimen.
const Matrix& require_covariate(const Workspace& ws);

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
