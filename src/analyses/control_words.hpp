// How a message tells the user where to give what an analysis found missing
// or wrong.  The same analyses serve the window and the command line, which
// offer the same things through different controls: each front end puts the
// words for its own controls into the parameters of a run (the window names
// its buttons and boxes, quillan-batch its options).  By default the words
// name the dispatcher's actions, which every caller of the dispatcher knows.
#pragma once

#include <string>

namespace quillan {

struct ControlWords {
    // Completes "load one with ... first".
    std::string load_landmarks = "\"Load\"";
    std::string load_groups = "\"LoadGlist\"";
    std::string load_covariate = "\"LoadClist\"";
    // Completes "(... \"text\")" after a permutation count that is not one.
    std::string permutations_given = "the permutation box holds";
};

}  // namespace quillan
