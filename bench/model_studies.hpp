// Generated studies for the linear-model benchmarks: many specimens, crossed
// factors or a covariate by a factor, made by a seeded generator so that every
// run (and RRPP, reading the files write_study writes) sees the same data.
#pragma once

#include "platform/random.hpp"
#include "platform/value.hpp"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillan::bench {

struct ModelStudy {
    std::string name;
    Matrix landmarks;  // n x (2k + 1), the last column each specimen's centroid size
    Matrix groups;     // n x factors, codes from 1
    Matrix covariate;  // n x 1 (log size), or empty
};

struct StudyShape {
    std::string name;
    int n = 2000, k = 40;
    std::vector<int> levels;  // of each crossed factor
    bool covariate = false;   // a covariate whose slope differs by the first factor's levels
};

// n specimens of k landmarks.  Each factor level moves every landmark a little
// (the factors' effects add, with a smaller interaction); with a covariate,
// each level of the first factor has its own direction of shape change along
// it.  Every specimen is then moved, turned and scaled at random.  The cells
// are dealt in turn, so they are nearly balanced.
inline ModelStudy generate_study(const StudyShape& s, std::uint64_t seed = 38) {
    Rng rng(seed);
    auto uniform = [&] { return static_cast<double>(rng.next() >> 11) * 0x1.0p-53; };
    auto normal = [&] { return std::sqrt(-2 * std::log(uniform() + 1e-300)) * std::cos(2 * M_PI * uniform()); };
    const auto p = 2 * static_cast<std::size_t>(s.k);
    std::vector<double> base(p);
    for (int j = 0; j < s.k; ++j) {
        const double r = 1 + 0.3 * uniform(), a = 2 * M_PI * j / s.k;
        base[2 * static_cast<std::size_t>(j)] = r * std::cos(a);
        base[2 * static_cast<std::size_t>(j) + 1] = r * std::sin(a);
    }
    auto effect = [&](double size) {
        std::vector<double> e(p);
        for (auto& v : e) v = size * normal();
        return e;
    };
    std::vector<std::vector<std::vector<double>>> main(s.levels.size());
    for (std::size_t f = 0; f < s.levels.size(); ++f)
        for (int l = 0; l < s.levels[f]; ++l) main[f].push_back(effect(0.01));
    int cells = 1;
    for (int l : s.levels) cells *= l;
    std::vector<std::vector<double>> interaction, slope;
    for (int c = 0; c < cells; ++c) interaction.push_back(effect(0.003));
    for (int l = 0; l < s.levels.front(); ++l) slope.push_back(effect(0.02));
    ModelStudy out{s.name, Matrix(s.n, static_cast<Eigen::Index>(p) + 1), Matrix(s.n, static_cast<Eigen::Index>(s.levels.size())),
                   s.covariate ? Matrix(s.n, 1) : Matrix()};
    std::vector<double> shape(p);
    for (int i = 0; i < s.n; ++i) {
        const double x = uniform() - 0.5;
        int cell = i % cells;
        shape = base;
        const std::vector<double>& mixed = interaction[static_cast<std::size_t>(cell)];
        for (std::size_t q = 0; q < p; ++q) shape[q] += mixed[q];
        for (std::size_t f = 0; f < s.levels.size(); ++f) {
            const int level = cell % s.levels[f];
            cell /= s.levels[f];
            out.groups(i, static_cast<Eigen::Index>(f)) = level + 1;
            for (std::size_t q = 0; q < p; ++q) shape[q] += main[f][static_cast<std::size_t>(level)][q];
            if (f == 0 && s.covariate)
                for (std::size_t q = 0; q < p; ++q) shape[q] += x * slope[static_cast<std::size_t>(level)][q];
        }
        const double scale = 0.5 + uniform(), a = 2 * M_PI * uniform(), tx = 10 * normal(), ty = 10 * normal();
        double size = 0;
        for (int j = 0; j < s.k; ++j) {
            const auto q = 2 * static_cast<std::size_t>(j);
            const double u = shape[q] + 0.02 * normal(), v = shape[q + 1] + 0.02 * normal();
            out.landmarks(i, 2 * j) = scale * (u * std::cos(a) - v * std::sin(a)) + tx;
            out.landmarks(i, 2 * j + 1) = scale * (u * std::sin(a) + v * std::cos(a)) + ty;
            size += scale * scale * (u * u + v * v);
        }
        out.landmarks(i, 2 * s.k) = std::sqrt(size);
        if (s.covariate) out.covariate(i, 0) = x;
    }
    return out;
}

// The studies the benchmarks time: 2,000 x 40 with factors of 4 and 3 levels
// crossed, the same with a covariate by the 4-level factor, and 20,000 x 50
// with three crossed factors (4, 3 and 2 levels).
inline std::vector<StudyShape> model_study_shapes() {
    return {{"crossed", 2000, 40, {4, 3}, false}, {"slopes", 2000, 40, {4}, true}, {"large", 20000, 50, {4, 3, 2}, false}};
}

// Writes DIR/NAME.lm.txt, NAME.groups.txt and (with a covariate) NAME.cov.txt,
// as the bundled example sets are written, and NAME.csv, every value exact
// to the last bit.
inline void write_study(const ModelStudy& s, const std::string& dir) {
    auto put = [&](const std::string& suffix, const Matrix& m) {
        const std::string path = dir + "/" + s.name + suffix;
        std::FILE* f = std::fopen(path.c_str(), "w");
        if (!f) throw std::runtime_error("cannot write " + path);
        for (Eigen::Index i = 0; i < m.rows(); ++i)
            for (Eigen::Index j = 0; j < m.cols(); ++j) std::fprintf(f, j + 1 < m.cols() ? "%.17g " : "%.17g\n", m(i, j));
        std::fclose(f);
    };
    put(".lm.txt", s.landmarks);
    put(".groups.txt", s.groups);
    if (s.covariate.size() > 0) put(".cov.txt", s.covariate);
    // The same as one table to import (any number of factors, by name):
    // ID, F1, F2, ... (levels as words; G1 and G2 name the group file's
    // columns), cov, then x1, y1, ...
    const std::string path = dir + "/" + s.name + ".csv";
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + path);
    std::fprintf(f, "ID");
    for (Eigen::Index g = 0; g < s.groups.cols(); ++g) std::fprintf(f, ",F%d", static_cast<int>(g + 1));
    if (s.covariate.size() > 0) std::fprintf(f, ",cov");
    for (Eigen::Index j = 0; j + 1 < s.landmarks.cols(); j += 2)
        std::fprintf(f, ",x%d,y%d", static_cast<int>(j / 2 + 1), static_cast<int>(j / 2 + 1));
    for (Eigen::Index i = 0; i < s.landmarks.rows(); ++i) {
        std::fprintf(f, "\nS%d", static_cast<int>(i + 1));
        for (Eigen::Index g = 0; g < s.groups.cols(); ++g) std::fprintf(f, ",L%d", static_cast<int>(s.groups(i, g)));
        if (s.covariate.size() > 0) std::fprintf(f, ",%.17g", s.covariate(i, 0));
        for (Eigen::Index j = 0; j + 1 < s.landmarks.cols(); ++j) std::fprintf(f, ",%.17g", s.landmarks(i, j));
    }
    std::fprintf(f, "\n");
    std::fclose(f);
}

}  // namespace quillan::bench
