// Speed of the import steps on outline data: sliding 100 specimens with 200
// semilandmarks (on 4 curves of 50 points between 8 fixed landmarks), by
// bending energy and by Procrustes distance, for the iterations gpagen
// allows, with gpagen's rotations between the steps (/0) or with them
// iterated to their optimum (/1, the program's default); and estimating the
// missing landmarks of 10 of them, on the same two superimpositions.
//
// The shapes are generated: an ellipse-like outline whose points are
// perturbed and unevenly spaced along it, each specimen at its own
// position, size and angle (fixed seed).
#include "geometry/missing_landmarks.hpp"
#include "geometry/partial_procrustes.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace quillan;

namespace {

constexpr int kFixed = 8, kCurves = 4, kPoints = 50;

// Fixed landmarks at every 45 degrees, then each quarter's curve points.
std::vector<Config> outlines(int n) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0, 0.01);
    std::uniform_real_distribution<double> spread(-0.3, 0.3);
    std::vector<Config> x;
    const double two_pi = 2 * std::numbers::pi;
    for (int s = 0; s < n; ++s) {
        Config c(kFixed + kCurves * kPoints, 2);
        const double a = 1 + 0.1 * spread(rng), b = 0.6 + 0.1 * spread(rng);
        auto at = [&](double t) { return Eigen::RowVector2d(a * std::cos(t) + noise(rng), b * std::sin(t) + noise(rng)); };
        for (int j = 0; j < kFixed; ++j) c.row(j) = at(two_pi * j / kFixed);
        for (int q = 0; q < kCurves; ++q)
            for (int j = 0; j < kPoints; ++j) {
                const double u = (j + 1 + 0.4 * spread(rng)) / (kPoints + 1);
                c.row(kFixed + q * kPoints + j) = at(two_pi * (2 * q + 0.2 + 1.6 * u) / kFixed);
            }
        const double angle = spread(rng), size = 50 + 10 * spread(rng);
        Eigen::Matrix2d r;
        r << std::cos(angle), std::sin(angle), -std::sin(angle), std::cos(angle);
        x.push_back(((c * r) * size).rowwise() + Eigen::RowVector2d(100 * spread(rng), 100 * spread(rng)));
    }
    return x;
}

std::vector<Slider> curve_sliders() {
    std::vector<Slider> s;
    for (int q = 0; q < kCurves; ++q)
        for (int j = 1; j + 1 < kPoints; ++j) {
            const int i = kFixed + q * kPoints + j;
            s.push_back({i - 1, i, i + 1});
        }
    return s;
}

void BM_slide(benchmark::State& state) {
    const auto x = outlines(100);
    const auto sliders = curve_sliders();
    PartialOptions o;
    o.criterion = state.range(0) == 0 ? SlideCriterion::BendingEnergy : SlideCriterion::ProcrustesDistance;
    o.to_optimum = state.range(1) == 1;
    int iterations = 0;
    for (auto _ : state) {
        const PartialResult r = slide_semilandmarks(x, sliders, o);
        iterations = r.iterations;
        benchmark::DoNotOptimize(r.projected.data());
    }
    state.SetLabel(state.range(0) == 0 ? "bending energy" : "procrustes distance");
    state.counters["iterations"] = iterations;
}
BENCHMARK(BM_slide)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_estimate(benchmark::State& state) {
    auto x = outlines(100);
    for (int s = 0; s < 10; ++s) x[static_cast<std::size_t>(s * 10)].row(s % kFixed).setConstant(std::nan(""));
    const EstimateMethod method = state.range(0) == 0 ? EstimateMethod::ThinPlateSpline : EstimateMethod::Regression;
    for (auto _ : state) {
        const Estimation e = estimate_missing(
            x, method, [](std::size_t i) { return std::to_string(i + 1); }, state.range(1) == 1);
        benchmark::DoNotOptimize(e.filled.data());
    }
    state.SetLabel(state.range(0) == 0 ? "tps" : "reg");
}
BENCHMARK(BM_estimate)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
