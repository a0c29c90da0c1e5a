// What each analysis puts into the record of its report (the numbers behind
// the text, for export).  Model names say what was tested in the terms the
// report uses; the values are the unrounded ones the report prints.
#pragma once

#include "analyses/action_env.hpp"
#include "analyses/covariates/covariate.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/group_tests/designs.hpp"

namespace quillan {

// One grouping variable: explained sum (or F with its degrees of freedom as printed).
void record_one_way(ActionEnv& env, const OneWayResult& r, double total_ss, long long nperm);
// `with_sums` when the report prints the sums of squares too.
void record_one_way_f(ActionEnv& env, const OneWayResult& r, double total_ss, long long nperm, double df1, double df2,
                      bool with_sums = true);
// The cells, each variable alone, and the cells against each one-variable-shuffled model.
void record_two_way(ActionEnv& env, const TwoWayResult& r, double total_ss, long long nperm);
// The F ratios of the crossed design; degrees of freedom times df_unit, as printed.
void record_two_way_f(ActionEnv& env, const FTable& r, double total_ss, double df_unit, long long nperm);
// The F ratios of the nested design; degrees of freedom times df_unit, as printed.
void record_nested(ActionEnv& env, const FTable& r, double total_ss, double df_unit, long long nperm);
// The totals before and after standardisation.
void record_standardisation(ActionEnv& env, const StandardisationTotals& totals);
// The degrees of freedom a covariate model removes, as printed.
void record_lost_df(ActionEnv& env, double df);
// Common slope and different slopes of one grouping, and the random-group
// test between them.  A p is recorded as a bound only when no permutation
// reached the observed value, even where a report prints "p<" before an
// estimate: the exports carry what the count says.
void record_slope_models(ActionEnv& env, const std::string& groups, const SlopeModels& y, long long nperm,
                         bool common_slope = true);

}  // namespace quillan
