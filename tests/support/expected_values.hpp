// The numbers R's packages give for the shape analyses, as the scripts
// beside them in tests/expected write them (one "case,key,value" a row),
// the tolerances they are compared with, and the inputs they are read
// against: group codes, partitions of the landmarks, a seeded engine.
#pragma once

#include "analyses/permutation_engine.hpp"
#include "analyses/toolkit/canonical_variates.hpp"
#include "analyses/toolkit/disparity.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/outliers.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "support/fixtures.hpp"
#include "support/shapes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace quillan::test {

// key -> values of one case (a key may repeat, as the flagged specimens do).
using Values = std::multimap<std::string, double>;

// case -> its values, from a CSV file of tests/expected (PATH below it).
inline std::map<std::string, Values> expected_values(const std::string& path) {
    const auto rows = expected_csv(path);
    std::map<std::string, Values> out;
    for (auto r = rows.begin() + 1; r < rows.end(); ++r) out[r->at(0)].emplace(r->at(1), std::stod(r->at(2)));
    EXPECT_FALSE(out.empty()) << path;
    return out;
}

inline double one(const Values& m, const std::string& key) {
    const auto it = m.find(key);
    EXPECT_NE(it, m.end()) << key;
    return it == m.end() ? std::nan("") : it->second;
}

inline void expect_relative(double got, double want, const std::string& what, double tolerance = 1e-8) {
    EXPECT_LE(std::abs(got - want), tolerance * std::abs(want)) << what << ": " << got << " against " << want;
}

// Z of 10,000 permutations against R's own draw: their Monte-Carlo spread,
// which grows with Z (an effect size far out in the tail rests on few
// permutations near it).
inline void expect_z(double got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, 0.3 + 0.1 * std::abs(want)) << what;
}
// p of 10,000 permutations on each side: five standard errors.
inline void expect_p(double got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, 5 * std::sqrt(want * (1 - want) / 9999) + 3.0 / 9999) << what;
}

// Each specimen's distance, and each set's quartiles, limit and flagged
// specimens, against plotOutliers' ("d.i", "lower.g", ..., "flagged.g").
inline void expect_outliers(const OutlierResult& r, const Values& w) {
    for (std::size_t i = 0; i < r.distance.size(); ++i)
        expect_relative(r.distance[i], one(w, "d." + std::to_string(i + 1)), "distance " + std::to_string(i + 1));
    for (const OutlierSet& s : r.sets) {
        const std::string level = s.group < 0 ? "all" : std::to_string(s.group + 1);
        expect_relative(s.lower_quartile, one(w, "lower." + level), "lower quartile");
        expect_relative(s.median, one(w, "median." + level), "median");
        expect_relative(s.upper_limit, one(w, "limit." + level), "limit");
        std::vector<int> flagged;
        for (auto [it, end] = w.equal_range("flagged." + level); it != end; ++it)
            flagged.push_back(static_cast<int>(it->second) - 1);
        EXPECT_EQ(s.flagged, flagged) << "group " << level;
    }
}

// The key of a pair of 0-based groups or modules: "1.2" for (0, 1).
inline std::string pair_key(int a, int b) { return std::to_string(a + 1) + "." + std::to_string(b + 1); }

// Each group's variance, and each pair's difference and p, against
// morphol.disparity's ("variance.g", "difference.a.b", "p.a.b").
inline void expect_disparity(const DisparityResult& r, const Values& w) {
    for (std::size_t a = 0; a < r.variance.size(); ++a)
        expect_relative(r.variance[a], one(w, "variance." + std::to_string(a + 1)), "variance");
    for (const DisparityPair& p : r.pairs) {
        const std::string key = pair_key(p.a, p.b);
        expect_relative(p.difference, one(w, "difference." + key), "difference " + key);
        expect_p(p.p, one(w, "p." + key), "p " + key);
    }
}

// The variates, the classification with and without cross-validation, and
// each pair's distances against MASS's lda and geomorph's CVA.
inline void expect_cva(const CvaResult& r, const Values& w) {
    EXPECT_EQ(r.components, one(w, "components"));
    const auto eigenvalues =
        std::count_if(w.begin(), w.end(), [](const auto& kv) { return kv.first.rfind("eigenvalue.", 0) == 0; });
    ASSERT_EQ(r.eigenvalues.size(), eigenvalues);
    for (Eigen::Index v = 0; v < r.eigenvalues.size(); ++v)
        expect_relative(r.eigenvalues(v), one(w, "eigenvalue." + std::to_string(v + 1)), "eigenvalue");
    for (Eigen::Index i = 0; i < r.resubstitution.posterior.rows(); ++i)
        for (Eigen::Index j = 0; j < r.resubstitution.posterior.cols(); ++j) {
            const std::string key = pair_key(static_cast<int>(i), static_cast<int>(j));
            EXPECT_NEAR(r.resubstitution.posterior(i, j), one(w, "posterior." + key), 1e-6) << key;
            EXPECT_NEAR(r.cross_validated.posterior(i, j), one(w, "cv_posterior." + key), 1e-6) << key;
        }
    EXPECT_NEAR(r.resubstitution.percent_correct, one(w, "percent_correct"), 1e-9);
    EXPECT_NEAR(r.cross_validated.percent_correct, one(w, "cv_percent_correct"), 1e-9);
    for (const CvaPair& p : r.pairs) {
        const std::string key = pair_key(p.a, p.b);
        expect_relative(p.mahalanobis, one(w, "mahalanobis." + key), "Mahalanobis " + key);
        expect_relative(p.procrustes, one(w, "procrustes." + key), "Procrustes " + key);
        expect_p(p.mahalanobis_p, one(w, "mahalanobis_p." + key), "Mahalanobis p " + key);
        expect_p(p.procrustes_p, one(w, "procrustes_p." + key), "Procrustes p " + key);
    }
}

// r-PLS, Z and p, and each axis's singular value and |r| (r only where the
// axis is not empty), against two.b.pls.
inline void expect_pls(const PlsResult& r, const Values& w) {
    expect_relative(r.r_pls, one(w, "r_pls"), "r-PLS");
    expect_z(r.z, one(w, "Z"), "Z");
    expect_p(r.p, one(w, "p"), "p");
    for (std::size_t j = 0; j < r.axes.size(); ++j) {
        const std::string key = std::to_string(j + 1);
        expect_relative(r.axes[j].singular_value, one(w, "singular." + key), "singular value " + key);
        if (r.axes[j].singular_value > 1e-10 * r.axes[0].singular_value)
            expect_relative(std::abs(r.axes[j].r), std::abs(one(w, "r." + key)), "r " + key, 1e-7);
    }
}

// The mean r-PLS, its Z and p, and each pair of modules' (of the only pair:
// its axes too) against integration.test.
inline void expect_integration(const IntegrationResult& r, const Values& w) {
    expect_relative(r.mean_r, one(w, "r_pls"), "r-PLS");
    expect_z(r.z, one(w, "Z"), "Z");
    expect_p(r.p, one(w, "p"), "p");
    if (r.pairs.size() == 1) expect_pls(r.pls[0], w);
    for (std::size_t k = 0; r.pairs.size() > 1 && k < r.pairs.size(); ++k) {
        const std::string key = pair_key(r.pairs[k].first, r.pairs[k].second);
        expect_relative(r.pls[k].r_pls, one(w, "r_pls." + key), "r-PLS " + key);
        expect_z(r.pls[k].z, one(w, "Z." + key), "Z " + key);
    }
}

// CR, its Z and p, and each pair of modules' CR against modularity.test.
inline void expect_modularity(const ModularityResult& m, const Values& w) {
    expect_relative(m.cr, one(w, "CR"), "CR");
    expect_z(m.z, one(w, "Z"), "CR's Z");
    expect_p(m.p, one(w, "p"), "CR's p");
    for (std::size_t k = 0; m.pairs.size() > 1 && k < m.pairs.size(); ++k) {
        const std::string key = pair_key(m.pairs[k].first, m.pairs[k].second);
        expect_relative(m.pair_cr[k], one(w, "CR." + key), "CR " + key);
    }
}

// gpagen's rows (specimen, centroid size, then every coordinate) against
// `coords`, a row a specimen, to `tolerance`; and against `sizes`, when
// given, to `size_tolerance` of each size.
inline void expect_gpagen_rows(const std::vector<std::vector<double>>& want, const Eigen::MatrixXd& coords, double tolerance,
                               const Eigen::VectorXd& sizes = {}, double size_tolerance = 1e-12) {
    ASSERT_EQ(coords.rows(), static_cast<Eigen::Index>(want.size()));
    double worst = 0;
    for (Eigen::Index i = 0; i < coords.rows(); ++i) {
        const auto& row = want[static_cast<std::size_t>(i)];
        ASSERT_EQ(row.size(), static_cast<std::size_t>(coords.cols()) + 2);
        if (sizes.size()) {
            EXPECT_NEAR(sizes(i), row[1], size_tolerance * row[1]) << "specimen " << i + 1;
        }
        for (Eigen::Index q = 0; q < coords.cols(); ++q)
            worst = std::max(worst, std::abs(coords(i, q) - row[static_cast<std::size_t>(q) + 2]));
    }
    EXPECT_LT(worst, tolerance);
}

// estimate.missing's rows (specimen, landmark, 1 where estimated, then the
// coordinates) against the configurations `working` to `tolerance`;
// returns how many rows were estimated.
template <class Points>
int expect_estimates(const std::vector<std::vector<double>>& want, const std::vector<Points>& working, double tolerance) {
    int estimated = 0;
    for (const auto& row : want) {
        const auto s = static_cast<std::size_t>(row[0]) - 1;
        const auto j = static_cast<Eigen::Index>(row[1]) - 1;
        for (Eigen::Index a = 0; a < working.at(s).cols(); ++a)
            EXPECT_NEAR(working[s](j, a), row[3 + static_cast<std::size_t>(a)], tolerance)
                << "specimen " << s + 1 << " landmark " << j + 1;
        estimated += row[2] == 1 ? 1 : 0;
    }
    return estimated;
}

// A column of a bundled group file as 0-based codes.
inline std::vector<int> codes_of(const std::string& groups_file, int column = 0) {
    const Matrix g = load_data(groups_file);
    std::vector<int> out;
    for (Eigen::Index i = 0; i < g.rows(); ++i) out.push_back(static_cast<int>(g(i, column)) - 1);
    return out;
}

// A partition file's labels as 0-based modules in order of first appearance.
inline std::vector<int> partition_of(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::vector<std::string> seen;
    std::vector<int> out;
    for (std::string word; in >> word;) {
        const auto it = std::find(seen.begin(), seen.end(), word);
        out.push_back(static_cast<int>(it - seen.begin()));
        if (it == seen.end()) seen.push_back(word);
    }
    return out;
}

// A seeded engine with its options beside it (it keeps a reference to
// them), passed where an engine is.
struct Seeded {
    RunOptions options;
    PermutationEngine engine;
    explicit Seeded(std::uint64_t seed, int threads = 0, PermutationRecorder* recorder = nullptr)
        : options(with(seed, threads, recorder)), engine(options) {}
    operator PermutationEngine&() { return engine; }
    static RunOptions with(std::uint64_t seed, int threads, PermutationRecorder* recorder) {
        RunOptions o;
        o.seed = seed;
        o.threads = threads;
        o.recorder = recorder;
        return o;
    }
};

}  // namespace quillan::test
