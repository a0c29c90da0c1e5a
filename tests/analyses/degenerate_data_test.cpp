// Data that leave nothing to test must stop the action with a reason, not
// print a report that looks like a finding; covariates too large to fit
// are named by file and line; small probabilities never print as zero.
#include "analyses/probability_text.hpp"
#include "platform/format.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quillan;
using namespace quillan::test;
using ::testing::HasSubstr;

namespace {

Matrix two_columns(const std::vector<double>& a, const std::vector<double>& b) {
    Matrix m(static_cast<Eigen::Index>(a.size()), 2);
    m.col(0) = column_of(a);
    m.col(1) = column_of(b);
    return m;
}

// Runs an action that must be refused; returns the message shown.
std::string refusal(Harness& h, const char* action) {
    h.set_box(kResultsBox, Value("earlier"));
    h.set_box(kPermBox, Value("20"));
    h.gui.clear_messages();
    const Outcome o = h.run(action);
    EXPECT_EQ(o, Outcome::Refused) << action << ": " << h.box(kResultsBox);
    EXPECT_EQ(h.box(kResultsBox), "earlier") << action;
    return h.last_message();
}

}  // namespace

// (One-way groupings and a constant second variable are rows of the
// malformed-file table and of the two-way tests.)
TEST(DegenerateData, TwoWayAndNestedDesignsWithNothingToCompareAreRefused) {
    Harness h;
    const std::vector<double> g1 = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
    std::vector<double> own(12);
    for (int i = 0; i < 12; ++i) own[static_cast<std::size_t>(i)] = i + 1;
    const Matrix shapes = make_shapes({1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2}, 6, 5);
    // One subgroup in every main group leaves no nested factor.
    put_tables(h.shell, shapes, two_columns(g1, std::vector<double>(12, 3)));
    EXPECT_THAT(refusal(h, "RunTwoWayNest"), HasSubstr("a single subgroup"));
    // Cells of one specimen each leave nothing within them.
    put_tables(h.shell, shapes, two_columns(g1, own));
    EXPECT_THAT(refusal(h, "RunTwoWayF"), HasSubstr("in a group of its own"));
    EXPECT_THAT(refusal(h, "RunTwoWayNest"), HasSubstr("in a subgroup of its own"));
}

TEST(DegenerateData, SpecimensOfOneShapeHaveNothingToTest) {
    Harness h;
    const std::vector<double> groups = {1, 1, 1, 2, 2, 2, 3, 3, 3};
    // One shape at different sizes, places and angles: rounding noise is all that varies.
    Matrix same(9, 11);
    for (int i = 0; i < 9; ++i) same.row(i) << 0, 0, 1, 0, 1, 1, 0, 2, 0.5, 3, 7;
    Matrix scaled = same;
    for (int i = 0; i < 9; ++i) scaled.row(i) = test::similar(same.row(i), 0.3 * i, 1.0 + i, 5.0 * i, -2.0 * i);
    put_tables(h.shell, scaled, column_of(groups), column_of({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    for (const char* action : {"RunOneWayF", "RunOneStand", "RunOneCov", "RunModel"})
        EXPECT_THAT(refusal(h, action), HasSubstr("All 9 specimens have the same shape")) << action;
    // A real but small variation is still tested.
    Matrix small = same;
    for (int i = 0; i < 9; ++i) small(i, 2) += 1e-5 * i;
    put_tables(h.shell, small, column_of(groups));
    h.set_box(kPermBox, Value("20"));
    EXPECT_EQ(h.run("RunOneWay"), Outcome::Reported);
}

TEST(ExtremeCovariates, AreNamedByFileAndLine) {
    Harness h;
    const std::vector<int> g = {1, 1, 1, 1, 1, 2, 2, 2, 2, 2};
    std::vector<double> cov = {1, 2, 3, 4, 5, 1, 2, 3, 4, 5};
    for (double huge : {1e150, 1e160, 1e308}) {
        cov[6] = huge;
        put_tables(h.shell, make_shapes(g, 5, 3), column_of({1, 1, 1, 1, 1, 2, 2, 2, 2, 2}), column_of(cov));
        for (double model : {2.0, 3.0}) {
            h.gui.set(h.gui.findobj_tag(kCovBox).front(), "Value", Value(model));
            h.set_box(kPermBox, Value("20"));
            h.set_box(kResultsBox, Value("earlier"));
            EXPECT_EQ(h.run("RunOneStand"), Outcome::Failed) << huge << " model " << model;
            EXPECT_THAT(h.last_message(), HasSubstr("Line 7 of the covariate file cov.txt"));
            EXPECT_EQ(h.box(kResultsBox), "earlier");
        }
        EXPECT_EQ(h.run("RunOneCov"), Outcome::Failed);
        EXPECT_THAT(h.last_message(), HasSubstr("Line 7 of the covariate file cov.txt"));
    }
}

TEST(ReportedProbabilities, NeverPrintANonzeroValueAsZero) {
    // Formats as the reports use them: the bound of 3,000,000 permutations
    // and a count of 1 in 4,000,000.
    EXPECT_EQ(format_expand_reuse(visible_probability_format("p< %f", 1.0 / 3e6), {1.0 / 3e6}), "p< 0.0000003");
    EXPECT_EQ(format_expand_reuse(visible_probability_format("by %i permutations, p= %f ", 2.6e-7), {1.0, 2.6e-7}),
              "by 1 permutations, p= 0.0000003 ");
    EXPECT_EQ(format_expand_reuse(visible_probability_format("p<%1.5f, (Low p", 1e-6), {1e-6}), "p<0.000001, (Low p");
    // What already shows a digit, and a true zero, print as before.
    EXPECT_EQ(visible_probability_format("p= %f ", 0.001), "p= %f ");
    EXPECT_EQ(visible_probability_format("p= %1.4f", 0.00005), "p= %1.4f");
    EXPECT_EQ(visible_probability_format("p= %f", 0.0), "p= %f");
    EXPECT_EQ(visible_probability_format("100%% of %i", 1e-9), "100%% of %i");
}

TEST(SingleGroupNotice, NamesCodesExactly) {
    Harness h;
    const std::vector<int> shape_groups = {1, 1, 1, 1, 2, 2, 2, 2, 3};
    put_tables(h.shell, make_shapes(shape_groups, 5, 4),
               column_of({4503599627370496, 4503599627370496, 4503599627370496, 4503599627370496, 0.1, 0.1, 0.1, 0.1,
                          4503599627370497}));
    h.set_box(kPermBox, Value("10"));
    ASSERT_EQ(h.run("RunOneWay"), Outcome::Reported);
    bool found = false;
    for (const auto& m : h.gui.messages())
        found = found || m.text.find("The group 4503599627370497 has a single specimen") != std::string::npos;
    EXPECT_TRUE(found);
}
