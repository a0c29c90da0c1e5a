// The analysis actions, each run by the dispatcher under its action name.
#pragma once

#include "shell/env.hpp"

namespace quillan {

void run_one_way(ActionEnv& env);       // "RunOneWay"
void run_one_way_f(ActionEnv& env);     // "RunOneWayF"
void run_two_way(ActionEnv& env);       // "RunTwoWay"
void run_two_way_f(ActionEnv& env);     // "RunTwoWayF"
void run_two_way_nest(ActionEnv& env);  // "RunTwoWayNest"
void go_man(ActionEnv& env);            // "GoMan"

}  // namespace quillan
