// The effect size of an observed statistic among its permutations, as RRPP
// and geomorph compute it: a Box-Cox power transformation whose lambda is fitted by
// maximum likelihood to the permuted values (the observed one left out, so
// that a large effect has no leverage on the fit), then the standard deviate
// of the observed value among all the transformed values.
#include "analyses/linear_models/linear_model.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <numeric>

namespace quillan {

namespace {

// Brent's minimisation without derivatives on [a, b] (golden sections and
// parabolic steps), as R's optimize runs it, to tolerance `tol`.
double brent_minimum(double a, double b, const std::function<double(double)>& f, double tol) {
    const double c = (3. - std::sqrt(5.)) * .5;
    const double eps = std::sqrt(DBL_EPSILON);
    double v = a + c * (b - a), w = v, x = v, d = 0., e = 0.;
    double fx = f(x), fv = fx, fw = fx;
    const double tol3 = tol / 3.;
    for (;;) {
        const double xm = (a + b) * .5, tol1 = eps * std::fabs(x) + tol3, t2 = tol1 * 2.;
        if (std::fabs(x - xm) <= t2 - (b - a) * .5) break;
        double p = 0., q = 0., r = 0.;
        if (std::fabs(e) > tol1) {  // a parabola through x, w and v
            r = (x - w) * (fx - fv);
            q = (x - v) * (fx - fw);
            p = (x - v) * q - (x - w) * r;
            q = (q - r) * 2.;
            if (q > 0.) p = -p;
            else q = -q;
            r = e;
            e = d;
        }
        if (std::fabs(p) >= std::fabs(q * .5 * r) || p <= q * (a - x) || p >= q * (b - x)) {
            e = x < xm ? b - x : a - x;  // a golden-section step
            d = c * e;
        } else {
            d = p / q;
            const double u = x + d;
            if (u - a < t2 || b - u < t2) d = x >= xm ? -tol1 : tol1;
        }
        const double u = std::fabs(d) >= tol1 ? x + d : d > 0. ? x + tol1 : x - tol1;
        const double fu = f(u);
        if (fu <= fx) {
            (u < x ? b : a) = x;
            v = w, fv = fw, w = x, fw = fx, x = u, fx = fu;
        } else {
            (u < x ? a : b) = u;
            if (fu <= fw || w == x) {
                v = w, fv = fw, w = u, fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u, fv = fu;
            }
        }
    }
    return x;
}

double box_cox(double y, double lambda) { return lambda == 0 ? std::log(y) : (std::pow(y, lambda) - 1) / lambda; }

// The lambda of the Box-Cox transformation of values[1..] by maximum
// likelihood, searched on [-bound, bound].
double box_cox_lambda(const std::vector<double>& values, double bound) {
    const double eps = 0.001;
    const std::size_t n = values.size() - 1;
    double mean_log = 0;
    for (std::size_t i = 1; i < values.size(); ++i) mean_log += std::log(values[i]);
    const double geometric = std::exp(mean_log / static_cast<double>(n));
    std::vector<double> yy(n), logy(n), yt(n);
    for (std::size_t i = 0; i < n; ++i) {
        yy[i] = values[i + 1] / geometric;
        logy[i] = std::log(yy[i]);
    }
    const auto minus_loglik = [&](double la) {
        for (std::size_t i = 0; i < n; ++i) {
            const double l = la * logy[i];
            yt[i] = std::fabs(la) > eps ? (std::pow(yy[i], la) - 1) / la : logy[i] * (1 + l / 2 * (1 + l / 3 * (1 + l / 4)));
        }
        const double mean = std::accumulate(yt.begin(), yt.end(), 0.0) / static_cast<double>(n);
        double ss = 0;
        for (double t : yt) ss += (t - mean) * (t - mean);
        return static_cast<double>(n) / 2 * std::log(ss);
    };
    const double lambda = brent_minimum(-bound, bound, minus_loglik, std::pow(DBL_EPSILON, 0.25));
    return std::fabs(lambda) < eps ? 0 : lambda;
}

}  // namespace

EffectSample::EffectSample(const RunOptions& options, long long nperm, std::size_t nstats)
    : nperm_(nperm),
      kept_(std::min(nperm, kSample)),
      nstats_(nstats),
      engine_keeps_(nperm <= kSample || options.team != nullptr) {
    if (!engine_keeps_) values_.assign(static_cast<std::size_t>(kept_) * nstats, 0.0);
}

void EffectSample::note(long long index, const double* stats) {
    if (engine_keeps_ || index >= kept_) return;
    std::copy(stats, stats + nstats_, values_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(index) * nstats_));
}

double EffectSample::z(const PermutationResult& r, std::size_t s, double observed) const {
    const std::vector<double>& from = engine_keeps_ ? r.values : values_;
    const long long count = engine_keeps_ ? nperm_ : kept_;
    std::vector<double> dist{observed};
    for (long long k = 0; k < count; ++k) dist.push_back(from[static_cast<std::size_t>(k) * nstats_ + s]);
    return effect_size(std::move(dist));
}

double effect_size(std::vector<double> values, EffectRecipe recipe) {
    const std::size_t n = values.size();
    if (n < 3 || std::all_of(values.begin(), values.end(), [&](double v) { return v == values.front(); })) return 0;
    const bool rrpp = recipe == EffectRecipe::Rrpp;
    if (std::any_of(values.begin(), values.end(), [](double v) { return !(v > 0); })) {
        const double least = *std::min_element(values.begin(), values.end());
        for (double& v : values) v = rrpp ? std::fabs(v) + 1 : v - least + 0.0001;
    }
    const double lambda = box_cox_lambda(values, rrpp ? 2 : 5);
    for (double& v : values) v = box_cox(v, lambda);
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(n);
    double ss = 0;
    for (double v : values) ss += (v - mean) * (v - mean);
    return (values.front() - mean) / std::sqrt(ss / static_cast<double>(n));
}

}  // namespace quillan
