// The rates of shape evolution: the tree's inverse square root against the
// dense one, the rates of groups and modules against geomorph, and the
// action on a loaded tree.
#include "analyses/phylo/evol_rates.hpp"
#include "analyses/phylo/tree_algebra.hpp"
#include "support/expected_values.hpp"
#include "support/text.hpp"
#include "support/trees.hpp"
#include "window/window_env.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quillan::test {
namespace {

// The cases of tests/expected/phylo, and a small tree with polytomies and
// edges of length zero.
std::vector<std::pair<PhyloTree, std::vector<int>>> root_cases() {
    std::vector<std::pair<PhyloTree, std::vector<int>>> cases{
        {tree_of({7, 7, 8, 8, 6, 6, -1, 6, 7}, {0, 1, 0.5, 0.5, 2, 1.5, 0, 0.3, 0}, {"A", "B", "C", "D", "E", "F"}),
         {3, 0, 5, 1, 4, 2}}};
    for (const char* name : {"plethspecies", "coalescent", "polytomy"}) {
        const TreeCase c = expected_tree_case(name);
        cases.emplace_back(c.tree, c.tip_of_row);
    }
    return cases;
}

TEST(TreeAlgebra, InverseRootIsTheDenseSymmetricOne) {
    for (const auto& [tree, rows] : root_cases()) {
        SCOPED_TRACE(tree.tip_count());
        const Eigen::MatrixXd c = tree_covariance(tree, rows);
        const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(c);
        const Eigen::MatrixXd root =
            eig.eigenvectors() * eig.eigenvalues().cwiseInverse().cwiseSqrt().asDiagonal() * eig.eigenvectors().transpose();
        const Eigen::MatrixXd z = Eigen::MatrixXd::Random(c.rows(), 4);
        const Eigen::MatrixXd want = root * z;
        EXPECT_LE((inverse_root_times(tree, rows, z) - want).norm(), 1e-11 * want.norm());
        const double trace = c.inverse().trace();
        EXPECT_NEAR(TreeAlgebra(tree, rows).inverse_trace(), trace, 1e-10 * trace);
    }
}

// Each name's level (1-based, sorted) under `prefix` in a case's values.
std::vector<int> codes_under(const Values& w, const std::string& prefix, const std::vector<std::string>& names) {
    std::vector<int> out;
    for (const std::string& n : names) out.push_back(static_cast<int>(one(w, prefix + n)) - 1);
    return out;
}

std::string sorted_pair(int a, int b) { return std::to_string(std::min(a, b)) + "." + std::to_string(std::max(a, b)); }

// compare.evol.rates, by permutation and by simulation: every rate and
// ratio and the simulations' rate matrix to 1e-8, Z and p within the
// Monte-Carlo error.
TEST(EvolRates, GroupsAgreeWithGeomorph) {
    const auto want = expected_values("phylo/evol_expected.csv");
    Seeded engine(31);
    for (const char* name : {"plethspecies", "coalescent", "polytomy"}) {
        SCOPED_TRACE(name);
        const TreeCase c = expected_tree_case(name);
        const Values& w = want.at(name);
        const std::vector<int> group = codes_under(w, "group ", c.names);
        for (const RateMethod method : {RateMethod::Permutation, RateMethod::Simulation}) {
            const std::string m = method == RateMethod::Permutation ? "perm " : "sim ";
            const EvolRates r = group_rates(engine, c.tree, c.tip_of_row, c.x, group, {.nperm = 9999, .method = method});
            expect_relative(r.all, one(w, "all"), "all");
            for (std::size_t g = 0; g < r.rates.size(); ++g)
                expect_relative(r.rates[g], one(w, "rate " + std::to_string(g + 1)), "rate");
            expect_relative(r.ratio, one(w, "ratio"), "ratio");
            expect_z(r.z, one(w, m + "Z"), m + "Z");
            expect_p(r.p, one(w, m + "p"), m + "p");
            for (const RatePair& q : r.pairs) {
                const std::string key = sorted_pair(q.a + 1, q.b + 1);
                expect_relative(q.ratio, one(w, "pair ratio " + key), "pair ratio " + key);
                if (r.pairs.size() > 1) expect_p(q.p, one(w, m + "pair p " + key), m + "pair p " + key);
            }
            if (method == RateMethod::Permutation) continue;
            Eigen::MatrixXd pd(r.simulated.rows(), r.simulated.cols());
            for (Eigen::Index i = 0; i < pd.rows(); ++i)
                for (Eigen::Index j = 0; j < pd.cols(); ++j)
                    pd(i, j) = one(w, "sim R " + std::to_string(i + 1) + "." + std::to_string(j + 1));
            EXPECT_LE((r.simulated - pd).norm(), 1e-8 * pd.norm());
        }
    }
}

struct ModuleCase {
    std::vector<int> module;  // of each coordinate, numbered by first appearance
    std::vector<std::string> labels;
};

// The case's landmark labels (sorted codes), two coordinates each.
ModuleCase modules_of(const Values& w) {
    ModuleCase m;
    for (int j = 1; w.count("module " + std::to_string(j)); ++j) {
        const std::string label = std::to_string(static_cast<int>(one(w, "module " + std::to_string(j))));
        const auto at = std::find(m.labels.begin(), m.labels.end(), label);
        if (at == m.labels.end()) m.labels.push_back(label);
        const int code = static_cast<int>(std::find(m.labels.begin(), m.labels.end(), label) - m.labels.begin());
        m.module.insert(m.module.end(), 2, code);
    }
    return m;
}

// compare.multi.evol.rates, geomorph's counting and pairing followed: the
// coalescent's modules of 8 and 4 variables give p = 1 there, and
// plethspecies' three modules are labelled out of sorted order.  Without
// them the rates and ratios stay; the pairs follow their modules whatever
// their labels.
TEST(EvolRates, ModulesAgreeWithGeomorph) {
    const auto want = expected_values("phylo/evol_expected.csv");
    Seeded engine(32);
    for (const auto& [name, data] : std::vector<std::pair<std::string, std::string>>{{"plethspecies_modules", "plethspecies"},
                                                                                     {"plethspecies_modules3", "plethspecies"},
                                                                                     {"coalescent_modules", "coalescent"},
                                                                                     {"polytomy_modules", "polytomy"}}) {
        SCOPED_TRACE(name);
        const TreeCase c = expected_tree_case(data);
        const Values& w = want.at(name);
        const ModuleCase m = modules_of(w);
        RateOptions o{.nperm = 9999, .method = RateMethod::Simulation};
        const EvolRates r = module_rates(engine, c.tree, c.tip_of_row, c.x, m.module, m.labels, o);
        for (std::size_t k = 0; k < m.labels.size(); ++k) expect_relative(r.rates[k], one(w, "rate " + m.labels[k]), "rate");
        expect_relative(r.ratio, one(w, "ratio"), "ratio");
        expect_z(r.z, one(w, "sim Z"), "Z");
        expect_p(r.p, one(w, "sim p"), "p");
        for (const RatePair& q : r.pairs) {
            const std::string key = sorted_pair(std::stoi(m.labels[static_cast<std::size_t>(q.a)]),
                                                std::stoi(m.labels[static_cast<std::size_t>(q.b)]));
            expect_relative(q.ratio, one(w, "pair ratio " + key), "pair ratio " + key);
            if (r.pairs.size() > 1) expect_p(q.p, one(w, "sim pair p " + key), "pair p " + key);
        }
        o.geomorph_counts = false;
        const EvolRates sound = module_rates(engine, c.tree, c.tip_of_row, c.x, m.module, m.labels, o);
        std::vector<std::string> renamed = m.labels;
        std::reverse(renamed.begin(), renamed.end());
        const EvolRates relabelled = module_rates(engine, c.tree, c.tip_of_row, c.x, m.module, renamed, o);
        EXPECT_EQ(sound.rates, r.rates);
        for (std::size_t k = 0; k < sound.pairs.size(); ++k) EXPECT_EQ(sound.pairs[k].p, relabelled.pairs[k].p);
        if (name == "coalescent_modules") {
            EXPECT_LT(sound.p, 0.9);
        }
    }
}

// The action reads its factor per tip or its partition, the same report on any number of threads, and refuses
// what it cannot compare.
TEST(EvolRates, RunsOnTheLoadedTreeByGroupOrModule) {
    Harness h;
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    h.set_box(kPermBox, Value("99"));
    h.shell.options().seed = 7;
    h.shell.workspace().tree = plethodon_tree();
    EXPECT_EQ(h.run("RunEvolRates"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), AllOf(HasSubstr("--group FACTOR"), HasSubstr("--partition FILE")));
    h.shell.given_options()["group"] = "site";
    std::vector<std::string> reports;
    for (int threads : {1, 2}) {
        h.shell.options().threads = threads;
        h.shell.options().alone_first = std::chrono::microseconds{0};
        ASSERT_EQ(h.run("RunEvolRates"), Outcome::Reported) << h.last_message();
        reports.push_back(report_of(h));
    }
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_THAT(reports[0], AllOf(HasSubstr("40 tips matched"), HasSubstr("2 groups of site"),
                                  HasSubstr("the observed ratio is among them twice"), HasSubstr("Ratio of the largest rate")));
    const ResultRecord& record = h.shell.last_record();
    const auto rates = std::find_if(record.models.begin(), record.models.end(), [](const auto& m) { return m.name == "rates"; });
    ASSERT_NE(rates, record.models.end());
    ASSERT_TRUE(rates->value("rate Allo") && rates->value("tips Symp"));
    EXPECT_EQ(*rates->value("tips Symp"), 20);
    h.shell.given_options()["geomorph-quirks"] = "off";
    ASSERT_EQ(h.run("RunEvolRates"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(report_of(h), Not(HasSubstr("twice")));
    h.shell.given_options() = {{"partition", data_file("plethodon.partition.txt")}, {"method", "permutation"}};
    EXPECT_EQ(h.run("RunEvolRates"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("by simulation only"));
    h.shell.given_options().erase("method");
    ASSERT_EQ(h.run("RunEvolRates"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(report_of(h), AllOf(HasSubstr("2 modules of"), HasSubstr("Simulations: 99")));
}

}  // namespace
}  // namespace quillan::test
