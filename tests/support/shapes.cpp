#include "support/shapes.hpp"

#include "support/fixtures.hpp"

#include <cmath>
#include <complex>
#include <map>
#include <numbers>
#include <random>

namespace quillan::test {

Matrix load_data(const std::string& name) { return dload(data_file(name)); }

Matrix similar(const Matrix& x, double angle, double scale, double dx, double dy) {
    Matrix y = x;
    const double c = std::cos(angle), s = std::sin(angle);
    for (Eigen::Index i = 0; i < x.rows(); ++i)
        for (Eigen::Index j = 0; j + 1 < x.cols(); j += 2) {
            y(i, j) = scale * (x(i, j) * c - x(i, j + 1) * s) + dx;
            y(i, j + 1) = scale * (x(i, j) * s + x(i, j + 1) * c) + dy;
        }
    return y;
}

std::vector<double> random_covariate(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> normal(3.0, 0.4);
    std::vector<double> z(n);
    for (double& v : z) v = normal(gen);
    return z;
}

Matrix make_shapes(const std::vector<int>& group_of_specimen, int k, unsigned seed, double spread) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::map<int, std::vector<std::complex<double>>> means;
    // A base shape shared by all groups, with group means a little apart.
    std::vector<std::complex<double>> base(static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j)
        base[static_cast<std::size_t>(j)] = std::polar(1.0 + 0.3 * uniform(gen), 2 * std::numbers::pi * j / k);
    Matrix data(static_cast<Eigen::Index>(group_of_specimen.size()), 2 * k + 1);
    for (std::size_t i = 0; i < group_of_specimen.size(); ++i) {
        auto& mean = means[group_of_specimen[i]];
        if (mean.empty()) {
            mean = base;
            for (auto& v : mean) v += 0.1 * std::complex<double>(normal(gen), normal(gen));
        }
        const std::complex<double> turn = std::polar(0.5 + 2.0 * uniform(gen), 2 * std::numbers::pi * uniform(gen));
        const std::complex<double> move(10 * normal(gen), 10 * normal(gen));
        double size = 0;
        for (int j = 0; j < k; ++j) {
            const std::complex<double> v =
                turn * (mean[static_cast<std::size_t>(j)] + spread * std::complex<double>(normal(gen), normal(gen))) + move;
            data(static_cast<Eigen::Index>(i), 2 * j) = v.real();
            data(static_cast<Eigen::Index>(i), 2 * j + 1) = v.imag();
            size += std::norm(v);
        }
        data(static_cast<Eigen::Index>(i), 2 * k) = std::sqrt(size);
    }
    return data;
}

Matrix make_shapes(int n, int k, unsigned seed, double spread) {
    return make_shapes(std::vector<int>(static_cast<std::size_t>(n), 1), k, seed, spread);
}

}  // namespace quillan::test
