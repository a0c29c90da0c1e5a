// Redrawing the superimposition plot of a large study: 10,000 specimens of
// 50 landmarks (half a million marks) at 1000 x 800 pixels.  The window
// redraws this on every resize and every change of choice, so it should
// stay within about 100 ms.
#include "figures/shapes.hpp"
#include "render/plots.hpp"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <numbers>
#include <random>

namespace {

using namespace quillan;

// Already-aligned shapes: a base outline plus noise, and its consensus, so
// the benchmark measures drawing rather than the superimposition.
Superimposition large_study(int n, int k) {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> z(0.0, 1.0);
    Superimposition s;
    s.landmarks = k;
    s.aligned.resize(n, 2 * k);
    s.consensus.resize(static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j) {
        const double a = 2 * std::numbers::pi * j / k;
        s.consensus[static_cast<std::size_t>(j)] = {0.2 * std::cos(a), 0.12 * std::sin(a)};
    }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < k; ++j) {
            s.aligned(i, 2 * j) = s.consensus[static_cast<std::size_t>(j)].x + 0.006 * z(rng);
            s.aligned(i, 2 * j + 1) = s.consensus[static_cast<std::size_t>(j)].y + 0.006 * z(rng);
        }
    return s;
}

Grouping three_groups(int n) {
    Grouping g;
    g.names = {"Group 1", "Group 2", "Group 3"};
    for (int i = 0; i < n; ++i) g.group_of.push_back(i % 3);
    return g;
}

const QSizeF kSize(1000, 800);

// What a redraw does: lay the scene out and paint it.
void BM_SuperimpositionRedraw(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Superimposition s = large_study(n, 50);
    const Grouping g = three_groups(n);
    QImage image(kSize.toSize(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        const Scene scene = superimposition_scene(s, g, {}, kSize);
        QPainter p(&image);
        paint_scene(p, scene, QRectF(QPointF(0, 0), kSize));
        benchmark::DoNotOptimize(image.bits());
    }
    state.SetItemsProcessed(state.iterations() * n * 50);
}
BENCHMARK(BM_SuperimpositionRedraw)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Painting alone, as when the window repaints an unchanged scene.
void BM_SuperimpositionPaint(benchmark::State& state) {
    const Superimposition s = large_study(10000, 50);
    const Scene scene = superimposition_scene(s, three_groups(10000), {}, kSize);
    QImage image(kSize.toSize(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter p(&image);
        paint_scene(p, scene, QRectF(QPointF(0, 0), kSize));
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_SuperimpositionPaint)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
