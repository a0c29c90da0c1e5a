// The analysis actions, one a file in this folder.  Each reads the workspace
// and the window's boxes through its ActionEnv, runs its permutations, and
// sets its report (or, for the console-only ones, writes its working to the
// console).  The action table (shell/action_table.cpp) gives each its row.
#pragma once

#include "analyses/action_env.hpp"

namespace quillan {

void run_one_way(ActionEnv& env);            // "RunOneWay"
void run_one_way_f(ActionEnv& env);          // "RunOneWayF"
void run_two_way(ActionEnv& env);            // "RunTwoWay"
void run_two_way_f(ActionEnv& env);          // "RunTwoWayF"
void run_two_way_nest(ActionEnv& env);       // "RunTwoWayNest"
void run_one_stand(ActionEnv& env);          // "RunOneStand"
void run_two_stand(ActionEnv& env);          // "RunTwoStand"
void test_covariate(ActionEnv& env);         // "TestCovariate"
void run_two_cov(ActionEnv& env);            // "RunTwoCov"
void run_one_cov(ActionEnv& env);            // "RunOneCov"
void run_diagnostic(ActionEnv& env);         // "GoMan"
void run_one_stand_f(ActionEnv& env);        // "RunOneStandF"
void run_two_stand_f(ActionEnv& env);        // "RunTwoStandF"
void run_model(ActionEnv& env);              // "RunModel"
void run_outliers(ActionEnv& env);           // "RunOutliers"
void run_disparity(ActionEnv& env);          // "RunDisparity"
void run_symmetry(ActionEnv& env);           // "RunSymmetry"
void run_measurement_error(ActionEnv& env);  // "RunMeasurementError"
void run_cva(ActionEnv& env);                // "RunCva"
void run_integration(ActionEnv& env);        // "RunIntegration"
void run_pls(ActionEnv& env);                // "RunPls"
void run_modularity(ActionEnv& env);         // "RunModularity"
void run_trajectory(ActionEnv& env);         // "RunTrajectory"
void run_allometry(ActionEnv& env);          // "RunAllometry"
void run_physignal(ActionEnv& env);          // "RunPhysignal"
void run_evol_rates(ActionEnv& env);         // "RunEvolRates"
void run_phylo_pca(ActionEnv& env);          // "RunPhyloPca"
void run_phylo_integration(ActionEnv& env);  // "RunPhyloIntegration"
void run_phylo_modularity(ActionEnv& env);   // "RunPhyloModularity"

}  // namespace quillan
