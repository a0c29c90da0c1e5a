// The products with a tree's covariance against the dense matrix, the
// matching of tips, and the phylogenetic signal against geomorph.
#include "analyses/linear_models/linear_model.hpp"
#include "analyses/linear_models/model_pairwise.hpp"
#include "analyses/phylo/pgls.hpp"
#include "analyses/phylo/phylo_pca.hpp"
#include "analyses/phylo/phylo_signal.hpp"
#include "analyses/phylo/tip_matching.hpp"
#include "analyses/phylo/tree_algebra.hpp"
#include "platform/error.hpp"
#include "support/expected_values.hpp"
#include "support/text.hpp"
#include "support/trees.hpp"
#include "window/window_env.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

namespace quillan::test {
namespace {

// Tips A..F; the root (6) and node 7 are polytomies, tip A and node 8 sit
// on edges of length zero.
PhyloTree awkward_tree() {
    return tree_of({7, 7, 8, 8, 6, 6, -1, 6, 7}, {0, 1, 0.5, 0.5, 2, 1.5, 0, 0.3, 0}, {"A", "B", "C", "D", "E", "F"});
}

// C by its definition: the depth of the deepest node on both tips' paths.
Eigen::MatrixXd covariance_by_paths(const PhyloTree& t, const std::vector<int>& tip_of_row) {
    const auto depth = [&](int v) {
        double d = 0;
        for (; v >= 0; v = t.parent[static_cast<std::size_t>(v)]) d += t.length[static_cast<std::size_t>(v)];
        return d;
    };
    const auto n = static_cast<Eigen::Index>(tip_of_row.size());
    Eigen::MatrixXd c(n, n);
    for (Eigen::Index i = 0; i < n; ++i)
        for (Eigen::Index j = 0; j < n; ++j) {
            std::vector<int> above;
            for (int v = tip_of_row[static_cast<std::size_t>(i)]; v >= 0; v = t.parent[static_cast<std::size_t>(v)])
                above.push_back(v);
            int v = tip_of_row[static_cast<std::size_t>(j)];
            while (std::find(above.begin(), above.end(), v) == above.end()) v = t.parent[static_cast<std::size_t>(v)];
            c(i, j) = depth(v);
        }
    return c;
}

void expect_close(const Eigen::MatrixXd& got, const Eigen::MatrixXd& want, const std::string& what) {
    ASSERT_EQ(got.rows(), want.rows()) << what;
    ASSERT_EQ(got.cols(), want.cols()) << what;
    EXPECT_LE((got - want).norm(), 1e-10 * std::max(1.0, want.norm())) << what;
}

struct AlgebraCase {
    std::string name;
    PhyloTree tree;
    std::vector<int> tip_of_row;
};

std::vector<AlgebraCase> algebra_cases() {
    std::vector<AlgebraCase> cases{{"awkward", awkward_tree(), {3, 0, 5, 1, 4, 2}}};
    for (const char* name : {"plethspecies", "coalescent", "polytomy"}) {
        const TreeCase c = expected_tree_case(name);
        cases.push_back({name, c.tree, c.tip_of_row});
    }
    return cases;
}

TEST(TreeAlgebra, EveryProductIsTheDenseOne) {
    for (const auto& [name, tree, rows] : algebra_cases()) {
        SCOPED_TRACE(name);
        const Eigen::MatrixXd c = covariance_by_paths(tree, rows);
        expect_close(tree_covariance(tree, rows), c, "C");
        const TreeAlgebra a(tree, rows);
        const Eigen::Index n = c.rows();
        const Eigen::MatrixXd inv = c.inverse(), x = Eigen::MatrixXd::Random(n, 5), y = Eigen::MatrixXd::Random(n, 3);
        const Eigen::VectorXd ones = Eigen::VectorXd::Ones(n);
        const Eigen::MatrixXd p = a.transform(Eigen::MatrixXd::Identity(n, n));
        expect_close(p.transpose() * p, inv, "P'P");
        expect_close(a.transform_transpose(y.leftCols(1).replicate(1, 2)), p.transpose() * y.leftCols(1).replicate(1, 2), "P'Z");
        expect_close(a.solve(x), inv * x, "C^-1 X");
        expect_close(a.cross(x, y), x.transpose() * inv * y, "X'C^-1 Y");
        expect_close(a.covariance_times(x), c * x, "C X");
        const double sum = ones.dot(inv * ones);
        EXPECT_NEAR(a.ones_inverse_ones(), sum, 1e-10 * sum);
        expect_close(a.ones_inverse(x), ones.transpose() * inv * x, "1'C^-1 X");
        const Eigen::RowVectorXd mean = ones.transpose() * inv * x / sum;
        expect_close(a.gls_mean(x), mean, "a");
        expect_close(a.gls_weights(), inv * ones / sum, "weights");
        EXPECT_NEAR(a.log_det(), std::log(c.determinant()), 1e-10 * std::max(1.0, std::abs(a.log_det())));
        EXPECT_NEAR(a.trace(), c.trace(), 1e-12 * c.trace());
        // One pruning pass of rows moved by a permutation.
        std::vector<int> perm(static_cast<std::size_t>(n));
        for (Eigen::Index i = 0; i < n; ++i) perm[static_cast<std::size_t>(i)] = static_cast<int>((i * 7 + 3) % n);
        if (n % 7 == 0) std::iota(perm.begin(), perm.end(), 0);
        Eigen::MatrixXd moved(n, x.cols());
        for (Eigen::Index i = 0; i < n; ++i) moved.row(i) = x.row(perm[static_cast<std::size_t>(i)]);
        const Eigen::RowVectorXd moved_mean = ones.transpose() * inv * moved / sum;
        const Eigen::MatrixXd centred = moved.rowwise() - moved_mean;
        std::vector<double> slots, got_mean(static_cast<std::size_t>(x.cols()));
        const double ss = a.contrast_ss(RowMatrix(x), perm.data(), slots, got_mean.data());
        const double want = (centred.transpose() * inv * centred).trace();
        EXPECT_NEAR(ss, want, 1e-10 * want);
        expect_close(Eigen::Map<Eigen::RowVectorXd>(got_mean.data(), x.cols()), moved_mean, "permuted a");
    }
}

TEST(TreeAlgebra, RefusesTipsThatShareTheirWholePath) {
    const auto refusal = [](const PhyloTree& t) {
        try {
            TreeAlgebra a(t, {0, 1, 2});
        } catch (const Refused& e) {
            return std::string(e.what());
        }
        return std::string("no refusal");
    };
    EXPECT_THAT(refusal(tree_of({4, 4, 3, -1, 3}, {0, 0, 1, 0, 1}, {"X", "Y", "Z"})),
                AllOf(HasSubstr("test.tre"), HasSubstr("tips X and Y"), HasSubstr("singular")));
    EXPECT_THAT(refusal(tree_of({3, 4, 4, -1, 3}, {0, 1, 1, 0, 1}, {"X", "Y", "Z"})),
                AllOf(HasSubstr("tip X at the root"), HasSubstr("singular")));
}

// A tree pruned of some tips has the covariance of the whole tree's
// remaining rows and columns; unmatched names are refused, the first few
// named, unless pruning is asked for.
TEST(TipMatching, PrunedTreesKeepTheCovarianceOfTheirTips) {
    const TreeCase c = expected_tree_case("polytomy");
    std::vector<std::string> names = c.names;
    names.erase(names.begin(), names.begin() + 10);  // ten tips without a specimen
    names.push_back("not_a_tip");
    const TipMatch m = match_tips(c.tree, names, true, "specimen");
    EXPECT_EQ(m.dropped_tips, 10);
    EXPECT_EQ(m.dropped_rows, 1);
    ASSERT_EQ(m.tip_of_row.size(), names.size() - 1);
    std::vector<int> whole;
    for (const int r : m.rows) whole.push_back(c.tip_of_row[static_cast<std::size_t>(r) + 10]);
    const Eigen::MatrixXd full = covariance_by_paths(c.tree, whole);
    expect_close(tree_covariance(m.tree, m.tip_of_row), full, "pruned C");
    for (std::size_t v = static_cast<std::size_t>(m.tree.tip_count()) + 1; v < m.tree.parent.size(); ++v)
        EXPECT_LT(m.tree.parent[v], static_cast<int>(v));
    EXPECT_THAT(
        error_of([&] { match_tips(c.tree, names, false, "specimen"); }),
        AllOf(HasSubstr("1 specimen(s) have no tip in the tree polytomy.tre: not_a_tip"),
              HasSubstr("10 tip(s) of the tree polytomy.tre have no specimen"), HasSubstr("and 5 more"), HasSubstr("--prune")));
    names.back() = names.front();
    EXPECT_THAT(error_of([&] { match_tips(c.tree, names, true, "specimen"); }),
                HasSubstr("\"" + names.front() + "\" is given to two specimens"));
}

TEST(PhyloSignal, AgreesWithGeomorph) {
    const auto want = expected_values("phylo/expected.csv");
    Seeded engine(52);
    for (const char* name : {"plethspecies", "coalescent", "polytomy"}) {
        SCOPED_TRACE(name);
        const TreeCase c = expected_tree_case(name);
        const Values& w = want.at(name);
        const TreeAlgebra tree(c.tree, c.tip_of_row);
        const PhyloSignal r = phylo_signal(engine, tree, c.x, 9999);
        expect_relative(r.k, one(w, "K"), "K");
        expect_relative(kmult(tree, c.x), one(w, "K"), "kmult");
        for (std::size_t j = 0; j < 4; ++j)
            expect_relative(r.k_by_component.at(j), one(w, "K_by_p" + std::to_string(j + 1)), "K by components");
        expect_z(r.z, one(w, "Z"), "Z");
        expect_p(r.p, one(w, "p"), "p");
    }
}

// geomorph's gm.prcomp with the tree, in each of its three kinds: the
// variances (and PaCA's RV), the tips' and the nodes' scores (up to each
// component's sign) and every node's ancestral shape.
TEST(PhyloPca, AgreesWithGeomorph) {
    const auto want = expected_values("phylo/pca_expected.csv");
    for (const char* name : {"plethspecies", "coalescent", "polytomy"}) {
        const TreeCase c = expected_tree_case(name);
        const Values& w = want.at(name);
        const int comps = std::string(name) == "plethspecies" ? 4 : 2;
        for (const auto& [kind, mode] : std::vector<std::pair<TreeComponents, std::string>>{
                 {TreeComponents::Principal, "pca"}, {TreeComponents::Gls, "gls"}, {TreeComponents::Aligned, "paca"}}) {
            SCOPED_TRACE(std::string(name) + " " + mode);
            const PhyloPca r = phylo_pca(c.tree, c.tip_of_row, c.x, kind);
            for (int j = 1; j <= 4; ++j) {
                const std::string at = " " + std::to_string(j);
                expect_relative(r.variances(j - 1), one(w, mode + " d" + at), "d" + at);
                if (kind == TreeComponents::Aligned) expect_relative(r.rv(j - 1), one(w, mode + " RV" + at), "RV" + at);
            }
            for (int j = 0; j < comps; ++j) {
                Eigen::VectorXd tips(r.scores.rows()), nodes(r.ancestor_scores.rows());
                for (Eigen::Index i = 0; i < tips.size(); ++i)
                    tips(i) = one(w, mode + " x " + std::to_string(i + 1) + " " + std::to_string(j + 1));
                for (Eigen::Index v = 0; v < nodes.size(); ++v)
                    nodes(v) = one(w, mode + " anc " + std::to_string(c.tree.tip_count() + v + 1) + " " + std::to_string(j + 1));
                const double sign = r.scores.col(j).dot(tips) < 0 ? -1 : 1;
                expect_close(sign * r.scores.col(j), tips, "tips on " + std::to_string(j + 1));
                expect_close(sign * r.ancestor_scores.col(j), nodes, "nodes on " + std::to_string(j + 1));
            }
            if (kind != TreeComponents::Principal || std::string(name) == "coalescent") continue;
            Eigen::MatrixXd states(r.ancestors.rows(), r.ancestors.cols());
            for (Eigen::Index v = 0; v < states.rows(); ++v)
                for (Eigen::Index j = 0; j < states.cols(); ++j)
                    states(v, j) = one(w, "anc " + std::to_string(c.tree.tip_count() + v + 1) + " " + std::to_string(j + 1));
            expect_close(r.ancestors, states, "ancestral states");
        }
    }
}

// RRPP's lm.rrpp with Cov: the same SS, Rsq and F whichever P is taken
// (the Cholesky factor's or the contrasts'), Z and p as RRPP's with its P.
TEST(Pgls, AgreesWithRrpp) {
    const auto want = expected_values("phylo/expected.csv");
    Seeded engine(11);
    for (const auto& [name, formula] : std::vector<std::pair<std::string, std::string>>{
             {"plethspecies", "logcs"}, {"coalescent", "cov * g"}, {"polytomy", "cov * g"}}) {
        SCOPED_TRACE(name);
        const TreeCase c = expected_tree_case(name);
        const Values& w = want.at(name);
        ModelVariables vars{ModelVariable{.name = name == "plethspecies" ? "logcs" : "cov", .values = c.cov}};
        if (!c.g.empty()) vars.push_back(ModelVariable::factor_of_words("g", c.g));
        const ModelDesign design = build_design(formula, vars, static_cast<int>(c.x.rows()));
        for (const SsType type :
             name == "plethspecies" ? std::vector<SsType>{SsType::I} : std::vector<SsType>{SsType::I, SsType::III})
            for (const PhyloTransform how : {PhyloTransform::Cholesky, PhyloTransform::Contrasts}) {
                const std::string key = type == SsType::I ? "I " : "III ";
                Eigen::MatrixXd y = c.x;
                ModelDesign d = design;
                transform_for_tree(c.tree, c.tip_of_row, how, y, d.x);
                const bool rrpps = how == PhyloTransform::Cholesky;
                const ModelTable t =
                    test_linear_model(engine, y, d, {.ss_type = type, .nperm = rrpps ? 9999 : 9, .generalized = true});
                for (const ModelTermRow& r : t.terms) {
                    SCOPED_TRACE(key + r.label);
                    EXPECT_EQ(r.df, one(w, key + r.label + " Df"));
                    expect_relative(r.ss, one(w, key + r.label + " SS"), "SS");
                    expect_relative(r.rsq, one(w, key + r.label + " Rsq"), "Rsq");
                    expect_relative(r.f, one(w, key + r.label + " F"), "F");
                    if (!rrpps) continue;
                    expect_z(r.z, one(w, key + r.label + " Z"), "Z");
                    expect_p(r.p, one(w, key + r.label + " p"), "p");
                }
                expect_relative(t.residual_ss, one(w, key + "Residuals SS"), "residual SS");
                expect_relative(t.total_ss, one(w, key + "Total SS"), "total SS");
            }
    }
}

// After the model on a tree the groups are compared by the GLS fit's
// least-squares means and slopes (RRPP's getLSmeans and getSlopes of its
// coefficients), which do not depend on the order of the rows; Z and p from
// the permutations of the transformed residuals, as RRPP's schedule draws them.
TEST(Pgls, PairwiseComparisonsAreThoseOfTheGlsFit) {
    const auto csv = expected_csv("phylo/pairwise_expected.csv");
    const TreeCase c = expected_tree_case("coalescent");
    const auto compare = [&](const TreeCase& k, const std::string& formula, long long nperm) {
        const ModelVariables vars{ModelVariable{.name = "cov", .values = k.cov}, ModelVariable::factor_of_words("g", k.g)};
        const ModelDesign design = build_design(formula, vars, static_cast<int>(k.x.rows()));
        Eigen::MatrixXd y = k.x;
        ModelDesign d = design;
        transform_for_tree(k.tree, k.tip_of_row, PhyloTransform::Cholesky, y, d.x);
        const PairwiseComparisons pairs(y, d, SsType::I, "g", PairwiseMeans::LeastSquares, ModelTestOptions::Sums::Chosen,
                                        &design);
        ModelTestOptions test;
        test.nperm = nperm;
        test.generalized = true;
        return pairs.result(test_linear_model(Seeded(5), y, d, test, 0, &pairs).companion, nperm);
    };
    TreeCase reversed = c;
    for (auto* v : {&reversed.names, &reversed.g}) std::reverse(v->begin(), v->end());
    std::reverse(reversed.cov.begin(), reversed.cov.end());
    std::reverse(reversed.tip_of_row.begin(), reversed.tip_of_row.end());
    reversed.x = c.x.colwise().reverse();
    int compared = 0;
    for (const auto& [name, formula] :
         std::vector<std::pair<std::string, std::string>>{{"means", "cov + g"}, {"slopes", "cov * g"}}) {
        SCOPED_TRACE(name);
        const PairwiseResult r = compare(c, formula, 9999), turned = compare(reversed, formula, 9);
        EXPECT_TRUE(r.generalized);
        EXPECT_EQ(r.covariate, name == "slopes" ? "cov" : "");
        for (auto row = csv.begin() + 1; row != csv.end(); ++row) {
            if ((*row)[0] != name) continue;
            const std::string what = ::testing::PrintToString(*row);
            const auto at = std::find_if(r.pairs.begin(), r.pairs.end(),
                                         [&](const GroupPair& p) { return p.first == (*row)[1] && p.second == (*row)[2]; });
            ASSERT_NE(at, r.pairs.end()) << what;
            const GroupPair& other = turned.pairs[static_cast<std::size_t>(at - r.pairs.begin())];
            const auto& [got, again] = (*row)[3] == "d"                   ? std::tie(at->distance, other.distance)
                                       : (*row)[3] == "length_difference" ? std::tie(at->length, other.length)
                                                                          : std::tie(at->angle, other.angle);
            expect_relative(got.observed, std::stod((*row)[4]), what);
            expect_relative(again.observed, got.observed, what + ", the rows reversed");
            expect_z(got.z, std::stod((*row)[5]), what);
            expect_p(got.p, std::stod((*row)[6]), what);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 3 + 9);
}

// The actions read the loaded tree and the imported IDs: unmatched names
// refused until pruned, the same report on any number of threads, the
// model a PGLS whose SS, F and Rsq do not depend on the transformation.
TEST(Physignal, RunsOnTheLoadedTreeWithItsTipsMatchedByName) {
    Harness h;
    ASSERT_EQ(h.load("Import", data_file("plethodon.csv")), Outcome::Done) << h.last_message();
    h.set_box(kPermBox, Value("99"));
    h.shell.options().seed = 7;
    h.shell.workspace().tree = plethodon_tree({"P99"});
    EXPECT_EQ(h.run("RunPhysignal"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), AllOf(HasSubstr("1 tip(s) of the tree test.tre have no specimen: P99"), HasSubstr("--prune")));
    h.shell.given_options()["prune"] = "true";
    std::vector<std::string> reports;
    for (int threads : {1, 2}) {
        h.shell.options().threads = threads;
        h.shell.options().alone_first = std::chrono::microseconds{0};
        ASSERT_EQ(h.run("RunPhysignal"), Outcome::Reported) << h.last_message();
        reports.push_back(report_of(h));
    }
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_THAT(reports[0], AllOf(HasSubstr("Phylogenetic signal of shape (Kmult)"), HasSubstr("40 tips matched"),
                                  HasSubstr("Pruned: 1 tip(s) without a specimen and 0 specimen(s)"), HasSubstr("Kmult ")));
    h.shell.given_options()["species-means"] = "species";  // the species' mean shapes go to the tips of their names
    h.shell.workspace().tree = tree_of({3, 3, 4, -1, 4}, {1, 1, 0.5, 0, 0.5}, {"Jord", "Teyah", "P01"});
    EXPECT_EQ(h.run("RunPhysignal"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("Only 2 species(s) match a tip"));
    h.shell.given_options()["species-means"] = "logCS";
    EXPECT_EQ(h.run("RunPhysignal"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("no factor of the loaded data; the factors are: G1, G2, species, site"));
    h.shell.given_options() = {{"formula", "species"}};
    h.shell.workspace().tree = plethodon_tree();
    const auto species_row = [&](const std::string& transform) {
        h.shell.given_options()["phylo-transform"] = transform;
        EXPECT_EQ(h.run("RunModel"), Outcome::Reported) << h.last_message();
        const std::string r = report_of(h);
        const auto at = r.find("\nspecies ");
        return at == std::string::npos ? r : r.substr(at, 50);  // Df, SS, MS, Rsq and F
    };
    const std::string cholesky = species_row("cholesky");
    EXPECT_THAT(report_of(h), HasSubstr("Phylogenetic (PGLS) Procrustes linear model of shape: species"));
    EXPECT_EQ(species_row("contrasts"), cholesky);
    EXPECT_NE(species_row("none"), cholesky);
    EXPECT_THAT(report_of(h), ::testing::StartsWith("Procrustes linear model of shape: species"));
    h.shell.given_options() = {{"formula", "species * site"}, {"pairwise", "species:site"}};
    ASSERT_EQ(h.run("RunModel"), Outcome::Reported) << h.last_message();
    EXPECT_THAT(report_of(h), HasSubstr("least-squares means of species:site (the phylogenetic GLS fit's fitted values"));
    h.shell.given_options()["pairwise-means"] = "plain";
    EXPECT_EQ(h.run("RunModel"), Outcome::Refused);
    EXPECT_THAT(h.last_message(), HasSubstr("take no account of the tree"));
}

}  // namespace
}  // namespace quillan::test
