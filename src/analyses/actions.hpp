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
void run_one_stand(ActionEnv& env);     // "RunOneStand"
void run_two_stand(ActionEnv& env);     // "RunTwoStand"
void run_one_stand_f(ActionEnv& env);   // "RunOneStandF"
void run_two_stand_f(ActionEnv& env);   // "RunTwoStandF"
void test_covariate(ActionEnv& env);    // "TestCovariate"
void run_two_cov(ActionEnv& env);       // "RunTwoCov"
void run_one_cov(ActionEnv& env);       // "RunOneCov"

}  // namespace quillan
