#include "figures/distributions.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace quillan {

namespace {

constexpr int kMaxLevel = 56;  // keeps the integer bin arithmetic within 64 bits

}  // namespace

BinnedValues::BinnedValues(double lo, double hi)
    : lo0_(lo), width0_((hi - lo) / kBins), counts_(static_cast<std::size_t>(kBins), 0) {}

BinnedValues BinnedValues::around(const std::vector<double>& sample, double observed) {
    double lo = std::isfinite(observed) ? observed : std::numeric_limits<double>::infinity();
    double hi = std::isfinite(observed) ? observed : -std::numeric_limits<double>::infinity();
    for (double v : sample)
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (!(lo <= hi)) lo = hi = 0.0;
    double pad = (hi - lo) * 0.05;
    if (!(pad > 0)) pad = std::max(std::abs(lo), 1.0) * 1e-3;
    return BinnedValues(lo - pad, hi + pad);
}

double BinnedValues::lo() const {
    // Each doubling moves the lower edge down by half the range it had.
    return lo0_ - width0_ * kBins / 2.0 * (std::ldexp(1.0, level_) - 1.0);
}

double BinnedValues::hi() const { return lo() + width0_ * kBins * std::ldexp(1.0, level_); }

long long BinnedValues::total() const {
    long long t = 0;
    for (long long c : counts_) t += c;
    return t;
}

void BinnedValues::widen() {
    std::vector<long long> wider(counts_.size(), 0);
    for (std::size_t i = 0; i < counts_.size(); ++i) wider[i / 2 + kBins / 4] += counts_[i];
    counts_.swap(wider);
    ++level_;
}

void BinnedValues::add(double v) {
    if (counts_.empty()) return;
    const double j0 = std::floor((v - lo0_) / width0_);
    if (!std::isfinite(j0) || std::abs(j0) > 1e15) {
        ++not_finite_;
        return;
    }
    // The bin on the first level's grid, carried to the current level with
    // integers only, so a value lands in the same bin whether it was binned
    // before or after a doubling.
    const auto j = static_cast<long long>(j0);
    auto bin_at = [&](int level) {
        const long long shift = static_cast<long long>(kBins / 2) * ((1LL << level) - 1);
        const long long pos = j + shift;
        return pos >= 0 ? pos >> level : -1;
    };
    long long b = bin_at(level_);
    while ((b < 0 || b >= kBins) && level_ < kMaxLevel) {
        widen();
        b = bin_at(level_);
    }
    if (b < 0 || b >= kBins) {
        ++not_finite_;
        return;
    }
    ++counts_[static_cast<std::size_t>(b)];
}

void BinnedValues::merge(const BinnedValues& other) {
    if (other.counts_.empty()) return;
    if (counts_.empty()) {
        *this = other;
        return;
    }
    BinnedValues o = other;
    while (level_ < o.level_) widen();
    while (o.level_ < level_) o.widen();
    for (std::size_t i = 0; i < counts_.size(); ++i) counts_[i] += o.counts_[i];
    not_finite_ += o.not_finite_;
}

long long HistogramBins::total() const {
    long long t = 0;
    for (long long c : counts) t += c;
    return t;
}

HistogramBins histogram_of(const StatisticDistribution& d) {
    HistogramBins h;
    if (!d.kept()) {
        const auto& c = d.binned.counts();
        std::size_t first = 0, last = c.size();
        while (first < last && c[first] == 0) ++first;
        while (last > first && c[last - 1] == 0) --last;
        if (first == last) {
            first = 0;
            last = c.size();
        }
        const double w = (d.binned.hi() - d.binned.lo()) / static_cast<double>(c.size());
        h.lo = d.binned.lo() + w * static_cast<double>(first);
        h.hi = d.binned.lo() + w * static_cast<double>(last);
        h.counts.assign(c.begin() + static_cast<std::ptrdiff_t>(first), c.begin() + static_cast<std::ptrdiff_t>(last));
        return h;
    }
    // The bins span the permutations' values; the plot's axis stretches to
    // the observed value if it lies beyond them.
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    long long n = 0;
    for (double v : d.values)
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            ++n;
        }
    if (n == 0) lo = hi = std::isfinite(d.observed) ? d.observed : 0.0;
    if (!(hi > lo)) {
        const double pad = std::max(std::abs(lo), 1.0) * 1e-3;
        lo -= pad;
        hi += pad;
    }
    const int bins = std::clamp(static_cast<int>(std::lround(2.0 * std::cbrt(static_cast<double>(std::max(1LL, n))))), 10, 80);
    h.lo = lo;
    h.hi = hi;
    h.counts.assign(static_cast<std::size_t>(bins), 0);
    for (double v : d.values) {
        if (!std::isfinite(v)) continue;
        auto b = static_cast<long long>((v - lo) / (hi - lo) * bins);
        b = std::clamp<long long>(b, 0, bins - 1);
        ++h.counts[static_cast<std::size_t>(b)];
    }
    return h;
}

// One loop's recording: either every value, or the binned counts of each
// worker.
class DistributionLog::Recording : public PermutationRecorder::Loop {
public:
    Recording(DistributionLog& log, int loop, long long nperm, const std::vector<double>& observed, int workers)
        : log_(log), loop_(loop), nperm_(nperm), observed_(observed), nstats_(observed.size()), keep_(nperm <= kKeepEvery) {
        if (keep_) {
            values_.assign(nstats_, std::vector<double>(static_cast<std::size_t>(nperm), 0.0));
            return;
        }
        sample_.assign(static_cast<std::size_t>(kSample) * nstats_, 0.0);
        workers_.resize(static_cast<std::size_t>(std::max(1, workers)));
    }

    void record(int worker, long long index, const double* stats) override {
        if (keep_) {
            for (std::size_t s = 0; s < nstats_; ++s) values_[s][static_cast<std::size_t>(index)] = stats[s];
            return;
        }
        if (index < kSample) {
            std::copy(stats, stats + nstats_,
                      sample_.begin() + static_cast<std::ptrdiff_t>(index * static_cast<long long>(nstats_)));
            // The worker recording the last value of the sample fixes the
            // ranges; the others hold their values until then.
            if (sampled_.fetch_add(1, std::memory_order_acq_rel) + 1 == kSample) {
                fix_ranges();
                ready_.store(true, std::memory_order_release);
            }
            return;
        }
        Worker& w = workers_[static_cast<std::size_t>(worker)];
        if (!ready_.load(std::memory_order_acquire)) {
            w.pending.insert(w.pending.end(), stats, stats + nstats_);
            return;
        }
        w.start(ranges_);
        w.flush();
        for (std::size_t s = 0; s < nstats_; ++s) w.bins[s].add(stats[s]);
    }

    void finish(const std::vector<long long>& exceeded, const std::vector<long long>& reached) override {
        std::vector<StatisticDistribution> out(nstats_);
        for (std::size_t s = 0; s < nstats_; ++s) {
            auto& d = out[s];
            d.loop = loop_;
            d.statistic = static_cast<int>(s);
            d.observed = observed_[s];
            d.permutations = nperm_;
            d.exceeded = s < exceeded.size() ? exceeded[s] : 0;
            d.reached = s < reached.size() ? reached[s] : 0;
            if (keep_) d.values = std::move(values_[s]);
        }
        if (!keep_) {
            if (!ready_.load(std::memory_order_acquire)) fix_ranges();
            std::vector<BinnedValues> all = ranges_;
            for (std::size_t i = 0; i < static_cast<std::size_t>(std::min(nperm_, kSample)); ++i)
                for (std::size_t s = 0; s < nstats_; ++s) all[s].add(sample_[i * nstats_ + s]);
            for (auto& w : workers_) {
                w.start(ranges_);
                w.flush();
                for (std::size_t s = 0; s < nstats_; ++s) all[s].merge(w.bins[s]);
            }
            for (std::size_t s = 0; s < nstats_; ++s) out[s].binned = std::move(all[s]);
        }
        log_.add(std::move(out));
    }

private:
    struct Worker {
        std::vector<BinnedValues> bins;
        std::vector<double> pending;
        void start(const std::vector<BinnedValues>& ranges) {
            if (bins.empty()) bins = ranges;
        }
        void flush() {
            if (pending.empty()) return;
            const std::size_t n = bins.size();
            for (std::size_t i = 0; i < pending.size(); ++i) bins[i % n].add(pending[i]);
            pending.clear();
            pending.shrink_to_fit();
        }
    };

    void fix_ranges() {
        ranges_.clear();
        const std::size_t n = static_cast<std::size_t>(std::min(nperm_, kSample));
        for (std::size_t s = 0; s < nstats_; ++s) {
            std::vector<double> first(n);
            for (std::size_t i = 0; i < n; ++i) first[i] = sample_[i * nstats_ + s];
            ranges_.push_back(BinnedValues::around(first, observed_[s]));
        }
    }

    DistributionLog& log_;
    int loop_;
    long long nperm_;
    std::vector<double> observed_;
    std::size_t nstats_;
    bool keep_;
    std::vector<std::vector<double>> values_;  // per statistic, in permutation order
    std::vector<double> sample_;
    std::atomic<long long> sampled_{0};
    std::atomic<bool> ready_{false};
    std::vector<BinnedValues> ranges_;  // empty counts, first-level ranges
    std::vector<Worker> workers_;
};

void DistributionLog::start(const std::string& action) {
    std::lock_guard<std::mutex> lock(mutex_);
    action_ = action;
    done_.clear();
    names_.clear();
    regression_.reset();
    figures_.reset();
}

void DistributionLog::keep_figures(const ToolkitFigures& figures) {
    std::lock_guard<std::mutex> lock(mutex_);
    figures_ = figures;
}

void DistributionLog::keep_regression_scores(const RegressionScores& scores) {
    std::lock_guard<std::mutex> lock(mutex_);
    regression_ = scores;
}

void DistributionLog::name_statistics(int loop, const std::vector<std::string>& names, PValueRule rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_[loop] = {names, rule};
}

std::unique_ptr<PermutationRecorder::Loop> DistributionLog::begin(int loop, long long nperm, const std::vector<double>& observed,
                                                                  int workers) {
    return std::make_unique<Recording>(*this, loop, nperm, observed, workers);
}

void DistributionLog::add(std::vector<StatisticDistribution> d) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& x : d) {
        const auto named = names_.find(x.loop);
        if (named != names_.end()) {
            const auto& [names, rule] = named->second;
            if (static_cast<std::size_t>(x.statistic) < names.size()) x.name = names[static_cast<std::size_t>(x.statistic)];
            x.rule = rule;
        }
        done_.push_back(std::move(x));
    }
}

}  // namespace quillan
