// Integration and modularity on a tree against geomorph's phylo.integration
// and phylo.modularity, and their actions on the bundled species.
#include "analyses/phylo/phylo_centring.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "platform/error.hpp"
#include "support/expected_values.hpp"
#include "support/text.hpp"
#include "support/trees.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quillan::test {
namespace {

using Eigen::MatrixXd;

const std::vector<int> kTwo{0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1}, kThree{0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2};

MatrixXd centred_on(const TreeCase& c, const MatrixXd& x) {
    return phylo_centred(phylo_centring(c.tree, c.tip_of_row, Seeded(1).engine), x);
}

// The first axis's coefficients, compared up to their common sign.
void expect_first_axis(const Eigen::VectorXd& got, const Values& w, const std::string& key) {
    Eigen::VectorXd want(got.size());
    for (Eigen::Index i = 0; i < got.size(); ++i) want(i) = one(w, key + " " + std::to_string(i + 1));
    const double sign = got.dot(want) < 0 ? -1 : 1;
    EXPECT_LE((sign * got - want).norm(), 1e-8 * want.norm()) << key;
}

void expect_pls(const PlsResult& r, const Values& w, std::size_t axes) {
    expect_relative(r.r_pls, one(w, "r_pls"), "r-PLS");
    for (std::size_t j = 0; j < axes; ++j) {
        const std::string at = " " + std::to_string(j + 1);
        expect_relative(r.axes.at(j).singular_value, one(w, "d" + at), "d" + at);
        expect_relative(r.axes.at(j).r, one(w, "r" + at), "r" + at);
    }
    expect_first_axis(r.left.col(0), w, "left");
    expect_first_axis(r.right.col(0), w, "right");
    expect_first_axis(r.x_scores.col(0), w, "xscore");
    expect_z(r.z, one(w, "Z"), "Z");
    expect_p(r.p, one(w, "p"), "p");
}

void expect_modules(const IntegrationResult& r, const Values& w) {
    expect_relative(r.mean_r, one(w, "r_pls"), "mean r-PLS");
    expect_z(r.z, one(w, "Z"), "Z");
    expect_p(r.p, one(w, "p"), "p");
    for (std::size_t k = 0; k < r.pls.size(); ++k) {
        const std::string at = " " + std::to_string(k + 1);
        expect_relative(r.pls[k].r_pls, one(w, "pair r" + at), "pair r" + at);
        expect_z(r.pls[k].z, one(w, "pair Z" + at), "pair Z" + at);
        expect_p(r.pls[k].p, one(w, "pair p" + at), "pair p" + at);
    }
}

// The axes beyond the eighth have no covariance (nine species, centred), so
// their r is rounding: only those with a singular value are compared.
TEST(PhyloIntegration, AgreesWithGeomorph) {
    const auto want = expected_values("phylo/phylo_integration_expected.csv");
    const TreeCase pleth = expected_tree_case("plethspecies");
    const MatrixXd x = centred_on(pleth, pleth.x);
    Seeded engine(3);
    {
        SCOPED_TRACE("two modules");
        const IntegrationResult r = integration_test(engine, x, kTwo, 2, 9999);
        ASSERT_EQ(r.pls.size(), 1u);
        expect_pls(r.pls[0], want.at("pleth2"), 8);
    }
    {
        SCOPED_TRACE("shape and log size");
        const Eigen::Map<const Eigen::VectorXd> logcs(pleth.cov.data(), static_cast<Eigen::Index>(pleth.cov.size()));
        expect_pls(two_block_pls(engine, x, centred_on(pleth, logcs), 9999), want.at("pleth_logcs"), 1);
    }
    SCOPED_TRACE("three modules");
    expect_modules(integration_test(engine, x, kThree, 2, 9999), want.at("pleth3"));
    SCOPED_TRACE("coalescent, 60 tips");
    const TreeCase coal = expected_tree_case("coalescent");
    expect_modules(integration_test(engine, centred_on(coal, coal.x), {0, 0, 1, 1, 2, 2}, 2, 9999), want.at("coal3"));
}

// The rotation search on the shapes as aligned, CR on the transformed
// ones; the decomposition of the tree's covariance may stop the action.
TEST(PhyloModularity, AgreesWithGeomorphAndStopsWhenAsked) {
    const auto want = expected_values("phylo/phylo_integration_expected.csv");
    const TreeCase pleth = expected_tree_case("plethspecies");
    Seeded engine(4);
    const MatrixXd t = phylo_centring(pleth.tree, pleth.tip_of_row, engine);
    for (const auto& [name, module] : {std::pair{"pleth2_cr", kTwo}, std::pair{"pleth3_cr", kThree}}) {
        SCOPED_TRACE(name);
        const Values& w = want.at(name);
        const ModularityResult r = modularity_test(engine, pleth.x, module, 2, {.nperm = 9999, .rows_transform = &t});
        expect_relative(r.cr, one(w, "CR"), "CR");
        for (std::size_t k = 0; r.pair_cr.size() > 1 && k < r.pair_cr.size(); ++k)
            expect_relative(r.pair_cr[k], one(w, "pair CR " + std::to_string(k + 1)), "pair CR");
        expect_z(r.z, one(w, "Z"), "Z");
        expect_p(r.p, one(w, "p"), "p");
    }
    engine.options.progress = [](long long done, long long total) { return !(total == 2 && done == 1); };
    EXPECT_THROW(phylo_centring(pleth.tree, pleth.tip_of_row, engine), Cancelled);
}

}  // namespace
}  // namespace quillan::test
