// Measurement error against RRPP's measurement.error and ICCstats on
// `fishy` (tests/expected/measurement_error, written by make_expected.R
// there, with the coordinates RRPP analysed as input): every deterministic
// number to 1e-8, Z and p against the intended permutations run in R.
#include "analyses/linear_models/measurement_error.hpp"
#include "platform/error.hpp"
#include "support/expected_values.hpp"
#include "support/text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace quillan::test {
namespace {

struct Fishy {
    MeasurementErrorDesign design;
    Eigen::MatrixXd coords;
};

Fishy fishy(bool groups) {
    const auto rows = expected_numbers("measurement_error/fishy_input.csv");
    Fishy f;
    f.coords.resize(static_cast<Eigen::Index>(rows.size()), static_cast<Eigen::Index>(rows.at(0).size() - 3));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        f.design.subject.push_back(static_cast<int>(rows[i][0]) - 1);
        f.design.replicate.push_back(static_cast<int>(rows[i][1]) - 1);
        if (groups) f.design.group.push_back(static_cast<int>(rows[i][2]) - 1);
        for (std::size_t c = 3; c < rows[i].size(); ++c)
            f.coords(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(c - 3)) = rows[i][c];
    }
    return f;
}

void expect_eigenvalues(const std::vector<double>& got, const Values& w, const std::string& key) {
    std::vector<double> want;  // R's, less the rounding of zero it keeps
    for (int k = 1;; ++k) {
        const auto it = w.find(key + "." + std::to_string(k));
        if (it == w.end()) break;
        if (it->second > 1e-8) want.push_back(it->second);
    }
    std::vector<double> kept;
    for (double v : got)
        if (v > 1e-8) kept.push_back(v);
    ASSERT_EQ(kept.size(), want.size()) << key;
    for (std::size_t k = 0; k < want.size(); ++k) expect_relative(kept[k], want[k], key, 1e-6);
}

TEST(MeasurementError, EveryNumberIsRrppsAndTheSubjectsArePermutedToo) {
    const auto all = expected_values("measurement_error/expected.csv");
    for (const char* name : {"pcs", "pcs.groups", "coords", "coords.groups"}) {
        SCOPED_TRACE(name);
        const Values& w = all.at(name);
        const std::string n = name;
        Fishy f = fishy(n.find("groups") != std::string::npos);
        const Eigen::MatrixXd y = n.rfind("pcs", 0) == 0 ? principal_scores(f.coords) : f.coords;
        if (n.rfind("pcs", 0) == 0) {
            EXPECT_EQ(y.cols(), one(w, "columns"));
        }
        Seeded engine(53);
        const MeasurementErrorResult r = measurement_error_test(engine, y, f.design, 9999);
        const char* keys[] = {"subjects", "systematic", "systematic_groups"};
        for (std::size_t k = 0; k < r.rows.size(); ++k) {
            const MeasurementErrorRow& row = r.rows[k];
            const std::string key = row.label == "Random ME" ? "random" : row.label == "Total" ? "total" : keys[k];
            EXPECT_EQ(row.df, one(w, key + ".df")) << key;
            expect_relative(row.ss, one(w, key + ".ss"), key + " SS");
            if (key == "total") continue;
            expect_relative(row.ms, one(w, key + ".ms"), key + " MS");
            expect_relative(row.rsq, one(w, key + ".rsq"), key + " Rsq");
            EXPECT_EQ(row.has_eta, w.count(key + ".etasq") == 1) << key;
            if (row.has_eta) expect_relative(row.eta, one(w, key + ".etasq"), key + " EtaSq.ME");
            EXPECT_EQ(row.tested, key != "random") << key;
            if (!row.tested) continue;
            expect_relative(row.snr, one(w, key + ".snr"), key + " SNR");
            expect_z(row.z, one(w, key + ".intended_z"), key + " Z");
            expect_p(row.p, one(w, key + ".intended_p"), key + " p");
        }
        expect_relative(r.icc.icc, one(w, "icc"), "ICC");
        expect_relative(r.icc.icc_a, one(w, "icc_a"), "ICC_a");
        expect_relative(r.icc.icc_c, one(w, "icc_c"), "ICC_c");
        if (w.count("repeatability")) expect_relative(r.repeatability, one(w, "repeatability"), "repeatability");
        if (n.rfind("pcs", 0) != 0) {
            EXPECT_THAT(r.multivariate.refusal, ::testing::HasSubstr("singular (of rank 18)"));
            continue;
        }
        EXPECT_EQ(r.multivariate.refusal, "");
        expect_eigenvalues(r.multivariate.icc, w, "micc");
        expect_eigenvalues(r.multivariate.icc_a, w, "micc_a");
        expect_eigenvalues(r.multivariate.icc_c, w, "micc_c");
    }
}

// The replicate terms' permutations keep every residual within its own
// subject (a free shuffle would carry one subject's error into another's),
// and still move them: each of a subject's three rows reaches each place.
TEST(MeasurementError, ReplicatesArePermutedWithinTheirSubjectsOnly) {
    const std::vector<int> subject = {0, 1, 0, 2, 1, 0, 2, 1, 2};
    const WithinSubjects within(subject);
    Rng rng(7);
    std::vector<int> perm, scratch;
    std::set<std::pair<int, int>> reached;
    for (int draw = 0; draw < 200; ++draw) {
        within.draw(perm, rng, scratch);
        ASSERT_EQ(perm.size(), subject.size());
        std::vector<int> sorted = perm;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t i = 0; i < perm.size(); ++i) {
            EXPECT_EQ(sorted[i], static_cast<int>(i));  // a permutation of the rows
            EXPECT_EQ(subject[static_cast<std::size_t>(perm[i])], subject[i]);
            reached.insert({static_cast<int>(i), perm[i]});
        }
    }
    EXPECT_EQ(reached.size(), 27u);  // every row from every row of its subject
}

// A subject measured once, or in two groups, is named.
TEST(MeasurementError, RefusesWhatItCannotTellApartNamingTheSubject) {
    MeasurementErrorDesign d;
    d.subject = {0, 0, 1, 1, 2};
    d.replicate = {0, 1, 0, 1, 0};
    d.subject_names = {"a", "b", "c"};
    EXPECT_THAT(error_of([&] { check_measurement_error_design(d); }), ::testing::HasSubstr("Subject c is measured once"));
    d.subject.back() = 1;
    d.group = {0, 0, 1, 0, 1};
    d.group_names = {"x", "y"};
    EXPECT_THAT(error_of([&] { check_measurement_error_design(d); }), ::testing::HasSubstr("Subject b is in two groups"));
}

}  // namespace
}  // namespace quillan::test
