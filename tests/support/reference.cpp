#include "support/reference.hpp"

#include "analyses/covariates/covariate.hpp"
#include "geometry/geometry.hpp"

#include <Eigen/Eigenvalues>

#include <cmath>
#include <complex>
#include <map>

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

double sin2_distance(const double* a, const double* b, int k) {
    std::complex<double> za = 0, zb = 0, zw = 0;
    for (int j = 0; j < k; ++j) {
        za += std::complex<double>(a[2 * j], a[2 * j + 1]) / double(k);
        zb += std::complex<double>(b[2 * j], b[2 * j + 1]) / double(k);
    }
    double zz = 0, ww = 0;
    for (int j = 0; j < k; ++j) {
        const std::complex<double> z = std::complex<double>(a[2 * j], a[2 * j + 1]) - za;
        const std::complex<double> w = std::complex<double>(b[2 * j], b[2 * j + 1]) - zb;
        zw += std::conj(z) * w;
        zz += std::norm(z);
        ww += std::norm(w);
    }
    return 1.0 - std::norm(zw) / (zz * ww);
}

namespace literal {

namespace {

double centroid_sizes(const double* r, int k) {
    double sx = 0, sy = 0, s = 0;
    for (int j = 0; j < k; ++j) sx = sx + r[2 * j], sy = sy + r[2 * j + 1];
    for (int j = 0; j < k; ++j) {
        const double dx = r[2 * j] - sx / k, dy = r[2 * j + 1] - sy / k;
        s = s + (dx * dx + dy * dy);
    }
    return std::sqrt(s);
}

void centre_scale(double* r, int k) {
    double sx = 0, sy = 0;
    for (int j = 0; j < k; ++j) sx = sx + r[2 * j], sy = sy + r[2 * j + 1];
    for (int j = 0; j < k; ++j) r[2 * j] = r[2 * j] - sx / k, r[2 * j + 1] = r[2 * j + 1] - sy / k;
    const double inv = 1.0 / centroid_sizes(r, k);
    for (int q = 0; q < 2 * k; ++q) r[q] = r[q] * inv;
}

// z becomes z times (b1 + i b2) / s, s the squared centroid size of z:
// sum |z|^2 - k |centroid|^2 and one reciprocal as the program computes it,
// or (with two_sweeps) the square of the centroid size measured about the
// centroid in a second sweep and two divisions, the textbook form.
void full_fit(double* r, const double* ref, int k, bool two_sweeps = false) {
    double b1 = 0, b2 = 0, sx = 0, sy = 0, zz = 0;
    for (int j = 0; j < k; ++j) {
        sx = sx + r[2 * j];
        sy = sy + r[2 * j + 1];
        b1 = b1 + (ref[2 * j] * r[2 * j] + ref[2 * j + 1] * r[2 * j + 1]);
        b2 = b2 + (r[2 * j] * ref[2 * j + 1] - r[2 * j + 1] * ref[2 * j]);
        zz = zz + (r[2 * j] * r[2 * j] + r[2 * j + 1] * r[2 * j + 1]);
    }
    double fr, fi;
    if (two_sweeps) {
        const double cs = centroid_sizes(r, k);
        fr = b1 / (cs * cs);
        fi = b2 / (cs * cs);
    } else {
        const double cx = sx / k, cy = sy / k, inv = 1.0 / (zz - k * (cx * cx + cy * cy));
        fr = b1 * inv;
        fi = b2 * inv;
    }
    for (int j = 0; j < k; ++j) {
        const double x = r[2 * j], y = r[2 * j + 1];
        r[2 * j] = x * fr - y * fi;
        r[2 * j + 1] = y * fr + x * fi;
    }
}

}  // namespace

Result pcafull(Matrix x, bool two_sweeps) {
    const int m = static_cast<int>(x.cols()), k = (m - 1) / 2, n = static_cast<int>(x.rows());
    for (int i = 0; i < n; ++i) centre_scale(&x(i, 0), k);
    Result r;
    r.y.assign(x.row(0).data(), x.row(0).data() + m);
    for (double xd = 1; xd > 1.4901161193847656e-08 * (m - 1) / 2; ++r.passes) {
        for (int i = 0; i < n; ++i) full_fit(&x(i, 0), r.y.data(), k, two_sweeps);
        const std::vector<double> old = r.y;
        for (int q = 0; q < m; ++q) {
            double s = 0;
            for (int i = 0; i < n; ++i) s = s + x(i, q);
            r.y[q] = s / n;
        }
        const double cs = centroid_sizes(r.y.data(), k);
        xd = 0;
        for (int q = 0; q < m; ++q) r.y[q] = r.y[q] / cs;
        for (int q = 0; q < m - 1; ++q) xd = xd + (r.y[q] - old[q]) * (r.y[q] - old[q]);
    }
    double sxy = 0, sxx = 0, syy = 0;
    for (int j = 0; j < k; ++j) {
        sxy = sxy + r.y[2 * j] * r.y[2 * j + 1];
        sxx = sxx + r.y[2 * j] * r.y[2 * j];
        syy = syy + r.y[2 * j + 1] * r.y[2 * j + 1];
    }
    const double theta = 0.5 * std::atan((-2 * sxy) / (sxx - syy)), c = std::cos(theta), s = std::sin(theta);
    for (int i = -1; i < n; ++i) {
        double* row = i < 0 ? r.y.data() : &x(i, 0);
        for (int j = 0; j < k; ++j) {
            const double px = row[2 * j], py = row[2 * j + 1];
            row[2 * j] = px * c - py * s;
            row[2 * j + 1] = px * s + py * c;
        }
    }
    r.y[m - 1] = 999;
    r.xpt = x;
    return r;
}

std::vector<double> full_procrustes_distances(const std::vector<double>& ref, Matrix x, bool two_sweeps) {
    const int k = static_cast<int>(x.cols() - 1) / 2;
    std::vector<double> d;
    for (Eigen::Index i = 0; i < x.rows(); ++i) {
        centre_scale(&x(i, 0), k);
        full_fit(&x(i, 0), ref.data(), k, two_sweeps);
        double s = 0;
        for (int q = 0; q < 2 * k; ++q) s = s + (x(i, q) - ref[q]) * (x(i, q) - ref[q]);
        d.push_back(std::sqrt(s));
    }
    return d;
}

double ss(const Matrix& x, bool two_sweeps) {
    const Result c = pcafull(x, two_sweeps);
    double s = 0;
    for (double d : full_procrustes_distances(c.y, c.xpt, two_sweeps)) s = s + d * d;
    return s;
}

}  // namespace literal

}  // namespace quillan::test
