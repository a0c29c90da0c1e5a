#include "support/reference.hpp"

#include "analyses/covariate.hpp"
#include "geometry/geometry.hpp"

#include <Eigen/Eigenvalues>

#include <cmath>
#include <map>
#include <random>

namespace quillan::test {

namespace {

Config unit_config(const Matrix& data, Eigen::Index row) {
    const Eigen::Index k = (data.cols() - 1) / 2;
    Config z(static_cast<std::size_t>(k));
    std::complex<double> c = 0;
    for (Eigen::Index j = 0; j < k; ++j) {
        z[static_cast<std::size_t>(j)] = {data(row, 2 * j), data(row, 2 * j + 1)};
        c += z[static_cast<std::size_t>(j)];
    }
    c /= static_cast<double>(k);
    double s = 0;
    for (auto& v : z) {
        v -= c;
        s += std::norm(v);
    }
    for (auto& v : z) v /= std::sqrt(s);
    return z;
}

}  // namespace

double reference_ss(const Matrix& data, const std::vector<Eigen::Index>& rows) {
    const Eigen::Index k = (data.cols() - 1) / 2;
    Eigen::MatrixXcd S = Eigen::MatrixXcd::Zero(k, k);
    for (Eigen::Index r : rows) {
        Config z = unit_config(data, r);
        Eigen::VectorXcd v(k);
        for (Eigen::Index j = 0; j < k; ++j) v(j) = z[static_cast<std::size_t>(j)];
        S += v * v.adjoint();
    }
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> es(S);
    return static_cast<double>(rows.size()) - es.eigenvalues().maxCoeff();
}

double reference_total(const Matrix& data) {
    std::vector<Eigen::Index> rows;
    for (Eigen::Index i = 0; i < data.rows(); ++i) rows.push_back(i);
    return reference_ss(data, rows);
}

double reference_within(const Matrix& data, const Codes& codes) {
    std::map<double, std::vector<Eigen::Index>> groups;
    for (Eigen::Index i = 0; i < data.rows(); ++i) groups[codes[static_cast<std::size_t>(i)]].push_back(i);
    double s = 0;
    for (const auto& [code, rows] : groups) s += reference_ss(data, rows);
    return s;
}

namespace {

// Each group's residuals (rows) and centred covariate, groups by code;
// with `common` each group's residuals are turned so that its consensus
// best fits `common`.
void slope_blocks(const Matrix& data, const Codes& codes, const std::vector<double>& cov, Matrix& residuals,
                  std::vector<double>& z, std::vector<Eigen::Index>& ends, const Matrix* common = nullptr) {
    std::map<double, std::vector<Eigen::Index>> groups;
    for (Eigen::Index i = 0; i < data.rows(); ++i) groups[codes[static_cast<std::size_t>(i)]].push_back(i);
    residuals.resize(data.rows(), data.cols());
    Eigen::Index at = 0;
    for (const auto& [code, rows] : groups) {
        Matrix x(static_cast<Eigen::Index>(rows.size()), data.cols());
        long double mean = 0;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            x.row(static_cast<Eigen::Index>(r)) = data.row(rows[r]);
            mean += cov[static_cast<std::size_t>(rows[r])];
        }
        mean /= static_cast<long double>(rows.size());
        for (Eigen::Index r : rows) z.push_back(static_cast<double>(cov[static_cast<std::size_t>(r)] - mean));
        Matrix res = quillan::procrustes_residuals(x);
        if (common) {
            const Matrix c = quillan::rotation_only_consensus(x).y;
            const Eigen::Index k = (data.cols() - 1) / 2;
            std::complex<double> u = 0;
            for (Eigen::Index j = 0; j < k; ++j)
                u += std::conj(std::complex<double>(c(0, 2 * j), c(0, 2 * j + 1))) *
                     std::complex<double>((*common)(0, 2 * j), (*common)(0, 2 * j + 1));
            u /= std::abs(u);
            for (Eigen::Index r = 0; r < res.rows(); ++r)
                for (Eigen::Index j = 0; j < k; ++j) {
                    const std::complex<double> v = u * std::complex<double>(res(r, 2 * j), res(r, 2 * j + 1));
                    res(r, 2 * j) = v.real();
                    res(r, 2 * j + 1) = v.imag();
                }
        }
        residuals.middleRows(at, x.rows()) = res;
        at += x.rows();
        ends.push_back(at);
    }
}

double plain_rss(const Matrix& res, const std::vector<double>& z, Eigen::Index from, Eigen::Index to) {
    const long double n = static_cast<long double>(to - from);
    long double zm = 0;
    for (Eigen::Index i = from; i < to; ++i) zm += z[static_cast<std::size_t>(i)];
    zm /= n;
    long double total = 0;
    for (Eigen::Index j = 0; j + 1 < res.cols(); ++j) {
        long double ym = 0;
        for (Eigen::Index i = from; i < to; ++i) ym += res(i, j);
        ym /= n;
        long double sxx = 0, sxy = 0, syy = 0;
        for (Eigen::Index i = from; i < to; ++i) {
            const long double dz = z[static_cast<std::size_t>(i)] - zm, dy = res(i, j) - ym;
            sxx += dz * dz;
            sxy += dz * dy;
            syy += dy * dy;
        }
        total += sxx == 0 ? syy : syy - sxy * sxy / sxx;
    }
    return static_cast<double>(total);
}

}  // namespace

double reference_different_slopes(const Matrix& data, const Codes& codes, const std::vector<double>& cov) {
    Matrix res;
    std::vector<double> z;
    std::vector<Eigen::Index> ends;
    slope_blocks(data, codes, cov, res, z, ends);
    double total = 0;
    Eigen::Index from = 0;
    for (Eigen::Index to : ends) {
        total += plain_rss(res, z, from, to);
        from = to;
    }
    return total;
}

double reference_common_slope(const Matrix& data, const Codes& codes, const std::vector<double>& cov) {
    Matrix res;
    std::vector<double> z;
    std::vector<Eigen::Index> ends;
    const Matrix common = quillan::rotation_only_consensus(data).y;
    slope_blocks(data, codes, cov, res, z, ends, &common);
    return plain_rss(res, z, 0, res.rows());
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
    for (int j = 0; j < k; ++j) base[static_cast<std::size_t>(j)] = std::polar(1.0 + 0.3 * uniform(gen), 2 * M_PI * j / k);
    Matrix data(static_cast<Eigen::Index>(group_of_specimen.size()), 2 * k + 1);
    for (std::size_t i = 0; i < group_of_specimen.size(); ++i) {
        auto& mean = means[group_of_specimen[i]];
        if (mean.empty()) {
            mean = base;
            for (auto& v : mean) v += 0.1 * std::complex<double>(normal(gen), normal(gen));
        }
        const std::complex<double> turn = std::polar(0.5 + 2.0 * uniform(gen), 2 * M_PI * uniform(gen));
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

}  // namespace quillan::test
