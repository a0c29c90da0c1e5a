#include "analyses/action_env.hpp"

namespace quillan {

void ActionEnv::require_one_way_list() const {
    if (ws().groups.cols() > 1) throw Refused(kOneWayRefusal);
}

void ActionEnv::require_two_way_list(const char* refusal) const {
    if (ws().groups.cols() < 2) throw Refused(refusal);
}

}  // namespace quillan
