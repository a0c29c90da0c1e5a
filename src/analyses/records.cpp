#include "analyses/records.hpp"

namespace quillan {

void record_one_way(ActionEnv& env, const OneWayResult& r, double total_ss, long long nperm) {
    env.record()
        .model("G1")
        .set("groups", r.groups)
        .sums(total_ss, r.expvar, r.unexpvar)
        .test("explained SS", r.expvar, r.exceeded, r.exceeded_ge, nperm);
}

void record_one_way_f(ActionEnv& env, const OneWayResult& r, double total_ss, long long nperm, double df1, double df2,
                      bool with_sums) {
    RecordedModel& m = env.record().model("G1").set("groups", r.groups);
    if (with_sums) m.sums(total_ss, r.expvar, r.unexpvar);
    m.set("F", r.observed_f).set("df1", df1).set("df2", df2).test("F", r.observed_f, r.exceeded, r.exceeded_ge, nperm);
}

void record_two_way(ActionEnv& env, const TwoWayResult& r, double total_ss, long long nperm) {
    ResultRecord& rec = env.record();
    rec.model("G1 x G2 cells")
        .set("groups", r.ncells)
        .sums(total_ss, r.expvar, r.unexpvar)
        .test("explained SS", r.expvar, r.exceeded_cells, r.ge[0], nperm);
    rec.model("G1")
        .set("groups", r.ngroups1)
        .sums(total_ss, r.expvar1, r.unexpvar1)
        .test("explained SS", r.expvar1, r.exceeded_g1, r.ge[1], nperm);
    rec.model("G1 x G2 cells against G1 with G2 shuffled").test("explained SS", r.expvar, r.exceeded_g2_shuffled, r.ge[3], nperm);
    rec.model("G2")
        .set("groups", r.ngroups2)
        .sums(total_ss, r.expvar2, r.unexpvar2)
        .test("explained SS", r.expvar2, r.exceeded_g2, r.ge[2], nperm);
    rec.model("G1 x G2 cells against G2 with G1 shuffled").test("explained SS", r.expvar, r.exceeded_g1_shuffled, r.ge[4], nperm);
}

namespace {

// One term of an F table, its degrees of freedom times df_unit as printed.
void record_f_term(RecordedModel& m, const FTable& t, const FTerm& term, double df_unit, long long nperm) {
    m.set("ss", term.ss)
        .set("F", term.F)
        .set("df1", term.df * df_unit)
        .set("df2", t.error_df * df_unit)
        .test("F", term.F, term.exceeded, term.exceeded_ge, nperm);
}

}  // namespace

void record_two_way_f(ActionEnv& env, const FTable& r, double total_ss, double df_unit, long long nperm) {
    ResultRecord& rec = env.record();
    rec.model("G1 x G2 cells").set("total_ss", total_ss).set("cell_ss", total_ss - r.error_ss).set("error_ss", r.error_ss);
    const char* names[] = {"G1", "G2", "G1 x G2 interaction"};
    for (int t : {kTermA, kTermB, kTermAB}) record_f_term(rec.model(names[t]), r, r.terms[t], df_unit, nperm);
}

void record_nested(ActionEnv& env, const FTable& r, double total_ss, double df_unit, long long nperm) {
    ResultRecord& rec = env.record();
    const char* names[] = {"main + nested", "main (G1)", "nested (G2 within G1)"};
    for (int t : {kMainAndNested, kMain, kNested}) {
        RecordedModel& m = rec.model(names[t]);
        if (t == kMainAndNested) m.set("total_ss", total_ss).set("error_ss", r.error_ss);
        record_f_term(m, r, r.terms[t], df_unit, nperm);
    }
}

void record_standardisation(ActionEnv& env, const StandardisationTotals& t) {
    env.record()
        .set("total_ss_before_standardisation", t.pre_total_ss)
        .set("covariate_explained_ss", t.pre_total_ss - t.total_ss)
        .set("covariate_percent_explained", 100 * (t.pre_total_ss - t.total_ss) / t.pre_total_ss)
        .set("total_ss_after_standardisation", t.total_ss);
}

void record_lost_df(ActionEnv& env, double df) { env.record().set("df_lost_to_covariate", df); }

void record_slope_models(ActionEnv& env, const std::string& groups, const SlopeModels& y, long long nperm, bool common_slope) {
    ResultRecord& rec = env.record();
    const double n = static_cast<double>(nperm);
    auto p = [&](long long c) { return c == 0 ? 1.0 / n : static_cast<double>(c) / n; };
    if (common_slope)
        rec.model("common slope")
            .sums(y.sstotal, y.explained_ss(), y.ssunexplain_ss)
            .test("unexplained SS", y.ssunexplain_ss, y.exc_ss, y.exc_ss_ge, nperm, p(y.exc_ss), y.exc_ss == 0);
    rec.model("different slopes (" + groups + " x covariate)")
        .sums(y.sstotal, y.explained_ms(), y.ssunexplain_ms)
        .test("unexplained SS", y.ssunexplain_ms, y.exc_ms, y.exc_ms_ge, nperm, p(y.exc_ms), y.exc_ms == 0);
    rec.model("different slopes (" + groups + " x covariate) against random groups")
        .test("unexplained SS", y.ssunexplain_ms, y.cdraw_exc, y.cdraw_exc_ge, nperm);
}

}  // namespace quillan
