#include "platform/statistics.hpp"

#include <limits>

namespace quillan {

double mean(const std::vector<double>& x) {
    if (x.empty()) return std::numeric_limits<double>::quiet_NaN();
    double s = 0;
    for (double v : x) s += v;
    return s / static_cast<double>(x.size());
}

Line polyfit1(const double* x, const double* y, std::size_t n, std::ptrdiff_t ystride) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (n == 0) return {nan, nan};
    double xm = 0, ym = 0;
    for (std::size_t i = 0; i < n; ++i) {
        xm += x[i];
        ym += y[static_cast<std::ptrdiff_t>(i) * ystride];
    }
    xm /= static_cast<double>(n);
    ym /= static_cast<double>(n);
    double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = x[i] - xm;
        sxx += dx * dx;
        sxy += dx * (y[static_cast<std::ptrdiff_t>(i) * ystride] - ym);
    }
    const double slope = sxy / sxx;  // non-finite when x is constant
    return {slope, ym - slope * xm};
}

}  // namespace quillan
