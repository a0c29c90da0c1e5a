// Scoring groupings.  (Straightforward version; the geometry module's fast
// path takes its place.)
#include "analyses/scoring.hpp"

#include "platform/error.hpp"
#include "platform/format.hpp"

#include <cmath>

namespace quillan {

struct PreparedTable::Impl {
    int n = 0, k = 0;
    std::vector<double> z;  // n rows of 2k, centred and scaled
    double tssd = 0;
};

namespace {

void center_scale(double* r, int k) {
    double cx = 0, cy = 0;
    for (int j = 0; j < k; ++j) { cx += r[2 * j]; cy += r[2 * j + 1]; }
    cx /= k; cy /= k;
    double s = 0;
    for (int j = 0; j < k; ++j) {
        r[2 * j] -= cx; r[2 * j + 1] -= cy;
        s += r[2 * j] * r[2 * j] + r[2 * j + 1] * r[2 * j + 1];
    }
    s = std::sqrt(s);
    for (int j = 0; j < 2 * k; ++j) r[j] /= s;
}

void fit(double* r, const double* ref, int k) {
    double b1 = 0, b2 = 0, s = 0, cx = 0, cy = 0;
    for (int j = 0; j < k; ++j) {
        const double x = r[2 * j], y = r[2 * j + 1], rx = ref[2 * j], ry = ref[2 * j + 1];
        b1 += rx * x + ry * y;
        b2 += x * ry - y * rx;
        cx += x; cy += y;
    }
    cx /= k; cy /= k;
    for (int j = 0; j < k; ++j) s += (r[2 * j] - cx) * (r[2 * j] - cx) + (r[2 * j + 1] - cy) * (r[2 * j + 1] - cy);
    for (int j = 0; j < k; ++j) {
        const double x = r[2 * j], y = r[2 * j + 1];
        r[2 * j] = (x * b1 - y * b2) / s;
        r[2 * j + 1] = (y * b1 + x * b2) / s;
    }
}

// Within-group sum of squared distances of rows (already centred and scaled).
double group_ss(std::vector<double>& block, int n, int k, std::vector<double>& ref, std::vector<double>& old) {
    const int w = 2 * k;
    ref.assign(block.begin(), block.begin() + w);
    old.resize(static_cast<std::size_t>(w));
    const double tol = 1.4901161193847656e-08 * k;
    double xd = 1;
    while (xd > tol) {
        for (int i = 0; i < n; ++i) fit(&block[static_cast<std::size_t>(i * w)], ref.data(), k);
        old = ref;
        for (int q = 0; q < w; ++q) {
            double s = 0;
            for (int i = 0; i < n; ++i) s += block[static_cast<std::size_t>(i * w + q)];
            ref[static_cast<std::size_t>(q)] = s / n;
        }
        double cx = 0, cy = 0, cs = 0;
        for (int j = 0; j < k; ++j) { cx += ref[2 * j]; cy += ref[2 * j + 1]; }
        cx /= k; cy /= k;
        for (int j = 0; j < k; ++j) cs += (ref[2 * j] - cx) * (ref[2 * j] - cx) + (ref[2 * j + 1] - cy) * (ref[2 * j + 1] - cy);
        cs = std::sqrt(cs);
        for (int q = 0; q < w; ++q) ref[static_cast<std::size_t>(q)] /= cs;
        xd = 0;
        for (int q = 0; q < w; ++q) xd += (ref[static_cast<std::size_t>(q)] - old[static_cast<std::size_t>(q)]) * (ref[static_cast<std::size_t>(q)] - old[static_cast<std::size_t>(q)]);
    }
    double ss = 0;
    for (int i = 0; i < n; ++i) {
        double* r = &block[static_cast<std::size_t>(i * w)];
        center_scale(r, k);
        fit(r, ref.data(), k);
        double d = 0;
        for (int q = 0; q < w; ++q) d += (r[q] - ref[static_cast<std::size_t>(q)]) * (r[q] - ref[static_cast<std::size_t>(q)]);
        ss += d;
    }
    return ss;
}

}  // namespace

PreparedTable::PreparedTable(const Matrix& data) : impl_(std::make_unique<Impl>()) {
    if (data.cols() < 3 || data.cols() % 2 == 0) throw QuillanError("The landmark table must have an odd number of columns.");
    impl_->n = static_cast<int>(data.rows());
    impl_->k = static_cast<int>((data.cols() - 1) / 2);
    const int w = 2 * impl_->k;
    impl_->z.resize(static_cast<std::size_t>(impl_->n * w));
    for (int i = 0; i < impl_->n; ++i) {
        for (int q = 0; q < w; ++q) impl_->z[static_cast<std::size_t>(i * w + q)] = data(i, q);
        center_scale(&impl_->z[static_cast<std::size_t>(i * w)], impl_->k);
    }
    Scorer s(*this);
    impl_->tssd = s.score(Codes(static_cast<std::size_t>(impl_->n), 1.0)).sum();
}

PreparedTable::~PreparedTable() = default;
int PreparedTable::specimens() const { return impl_->n; }
double PreparedTable::total_ss() const { return impl_->tssd; }

double GroupSums::sum() const {
    double s = 0;
    for (double v : wgsd) s += v;
    return s;
}

int GroupSums::specimens() const {
    int s = 0;
    for (int v : ssize) s += v;
    return s;
}

struct Scorer::Impl {
    const PreparedTable::Impl* t;
    GroupSums out;
    std::vector<std::vector<int>> members;
    std::vector<double> block, ref, old;
};

Scorer::Scorer(const PreparedTable& table) : impl_(std::make_unique<Impl>()) { impl_->t = &table.impl(); }
Scorer::~Scorer() = default;

const GroupSums& Scorer::score(const Codes& codes, const int* row_of) {
    Impl& s = *impl_;
    const int n = s.t->n, k = s.t->k, w = 2 * k;
    if (static_cast<int>(codes.size()) < n) throw QuillanError("too few codes");
    s.out.gcodes.clear();
    s.out.ssize.clear();
    s.out.wgsd.clear();
    s.out.single_codes.clear();
    s.members.clear();
    for (int i = 0; i < n; ++i) {
        std::size_t g = 0;
        while (g < s.out.gcodes.size() && !(s.out.gcodes[g] == codes[static_cast<std::size_t>(i)])) ++g;
        if (g == s.out.gcodes.size()) {
            s.out.gcodes.push_back(codes[static_cast<std::size_t>(i)]);
            s.out.ssize.push_back(0);
            s.members.emplace_back();
        }
        s.out.ssize[g]++;
        s.members[g].push_back(row_of ? row_of[i] : i);
    }
    for (std::size_t g = 0; g < s.members.size(); ++g) {
        const auto& rows = s.members[g];
        if (rows.size() < 2) {
            s.out.wgsd.push_back(0.0);
            s.out.single_codes.push_back(s.out.gcodes[g]);
            continue;
        }
        s.block.resize(rows.size() * static_cast<std::size_t>(w));
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (int q = 0; q < w; ++q) s.block[i * static_cast<std::size_t>(w) + static_cast<std::size_t>(q)] = s.t->z[static_cast<std::size_t>(rows[i] * w + q)];
        s.out.wgsd.push_back(group_ss(s.block, static_cast<int>(rows.size()), k, s.ref, s.old));
    }
    return s.out;
}

void permute_codes(const Codes& in, const std::vector<int>& rp, Codes& out) {
    out.resize(rp.size());
    for (std::size_t i = 0; i < rp.size(); ++i) out[i] = in[static_cast<std::size_t>(rp[i])];
}

void CellCoder::code(const Codes& a, const Codes& b, Codes& cells) {
    pairs_.clear();
    cells.resize(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::size_t j = 0;
        const std::size_t count = pairs_.size() / 2;
        while (j < count && !(pairs_[2 * j] == a[i] && pairs_[2 * j + 1] == b[i])) ++j;
        if (j == count) {
            pairs_.push_back(a[i]);
            pairs_.push_back(b[i]);
        }
        cells[i] = static_cast<double>(j + 1);
    }
}

}  // namespace quillan
