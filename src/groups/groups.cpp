#include "groups/groups.hpp"

#include "platform/console.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quillan {

namespace {

// Codes that are all whole numbers in a span not much wider than their
// count (group files number their groups 1, 2, 3, ...) are numbered through
// a table indexed by the code: one look-up per element instead of a search
// whose branches the processor cannot predict.  `lo` receives the smallest
// code and `span` the width of the range.
bool whole_codes(std::span<const double> codes, std::int64_t& lo, std::size_t& span) {
    if (codes.empty()) return false;
    std::int64_t mn = 0, mx = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const double c = codes[i];
        if (!(c >= -1e9 && c <= 1e9)) return false;  // not-a-number fails too
        const std::int64_t v = static_cast<std::int64_t>(c);
        if (static_cast<double>(v) != c) return false;
        if (i == 0 || v < mn) mn = v;
        if (i == 0 || v > mx) mx = v;
    }
    lo = mn;
    span = static_cast<std::size_t>(mx - mn) + 1;
    return span <= 4 * codes.size() + 64;
}

// The table's slots hold a group number, or -1; every call leaves them all
// at -1, so nothing is cleared before a call.
thread_local std::vector<int> t_slot;

std::vector<int>& slots(std::size_t span) {
    if (t_slot.size() < span) t_slot.resize(span, -1);
    return t_slot;
}

}  // namespace

std::size_t number_groups(std::span<const double> codes, std::span<int> group_of, Codes& gcodes,
                          std::vector<std::size_t>& ssize) {
    if (group_of.size() < codes.size()) throw QuillanError("number_groups: the output holds fewer entries than codes.");
    gcodes.clear();
    ssize.clear();
    std::int64_t lo;
    std::size_t span;
    if (whole_codes(codes, lo, span)) {
        // Equal codes share a slot (0 and -0 too, as they compare equal), and
        // a group is numbered when its slot is first met: the first-occurrence
        // numbering of the search below.
        std::vector<int>& slot = slots(span);
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const std::size_t at = static_cast<std::size_t>(static_cast<std::int64_t>(codes[i]) - lo);
            int g = slot[at];
            if (g < 0) {
                g = static_cast<int>(gcodes.size());
                slot[at] = g;
                gcodes.push_back(codes[i]);
                ssize.push_back(0);
            }
            ++ssize[static_cast<std::size_t>(g)];
            group_of[i] = g;
        }
        for (const double c : gcodes) slot[static_cast<std::size_t>(static_cast<std::int64_t>(c) - lo)] = -1;
        return gcodes.size();
    }
    // Each code is held once in gcodes, so the group of the previous element
    // is tried first: when it matches it is the only match, and the numbering
    // is that of the plain linear search.
    std::size_t last = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const double c = codes[i];
        std::size_t g = gcodes.size();
        if (!gcodes.empty() && gcodes[last] == c) {
            g = last;
        } else {
            for (std::size_t j = 0; j < gcodes.size(); ++j)
                if (gcodes[j] == c) {
                    g = j;
                    break;
                }
        }
        if (g == gcodes.size()) {
            gcodes.push_back(c);
            ssize.push_back(0);
        }
        ++ssize[g];
        group_of[i] = static_cast<int>(g);
        last = g;
    }
    return gcodes.size();
}

SplitGroups split_by_group(const Matrix& data, const Codes& glist, const std::vector<double>& clist) {
    const std::size_t m = static_cast<std::size_t>(data.rows());
    if (m == 0) throw QuillanError("split_groups: the landmark table has no rows.");
    if (glist.size() < m)
        throw QuillanError("The group list has " + std::to_string(glist.size()) + " codes for " + std::to_string(m) +
                           " specimens.");
    if (clist.size() < m)
        throw QuillanError("The covariate list has " + std::to_string(clist.size()) + " values for " + std::to_string(m) +
                           " specimens.");
    SplitGroups s;
    std::vector<int> group_of(m);
    const std::size_t ng = number_groups(std::span<const double>(glist.data(), m), group_of, s.gcodes, s.ssize);
    s.dlist.resize(ng);
    s.splitc.resize(ng);
    s.d_ord.resize(ng);
    for (std::size_t g = 0; g < ng; ++g) {
        s.dlist[g].resize(static_cast<Eigen::Index>(s.ssize[g]), data.cols());
        s.splitc[g].reserve(s.ssize[g]);
        s.d_ord[g].reserve(s.ssize[g]);
    }
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t g = static_cast<std::size_t>(group_of[i]);
        s.dlist[g].row(static_cast<Eigen::Index>(s.d_ord[g].size())) = data.row(static_cast<Eigen::Index>(i));
        s.splitc[g].push_back(clist[i]);
        s.d_ord[g].push_back(i + 1);
    }
    return s;
}

Matrix unsplit_by_group(const std::vector<Matrix>& X, const std::vector<std::vector<std::size_t>>& d_ord, std::size_t ngroups) {
    if (ngroups > X.size() || ngroups > d_ord.size())
        throw QuillanError("unsplit_groups: " + std::to_string(ngroups) + " groups asked for, but only " +
                           std::to_string(std::min(X.size(), d_ord.size())) + " blocks given.");
    // Size the result first: as many rows as the largest row number stored,
    // the width of the blocks.
    std::size_t rows = 0;
    Eigen::Index cols = -1;
    for (std::size_t i = 0; i < ngroups; ++i) {
        if (d_ord[i].empty()) continue;
        if (d_ord[i].size() > static_cast<std::size_t>(X[i].rows()))
            throw QuillanError("unsplit_groups: block " + std::to_string(i + 1) + " has " + std::to_string(X[i].rows()) +
                               " rows for " + std::to_string(d_ord[i].size()) + " row numbers.");
        if (cols < 0) cols = X[i].cols();
        if (X[i].cols() != cols)
            throw QuillanError("unsplit_groups: the blocks have different numbers of columns (" + std::to_string(cols) + " and " +
                               std::to_string(X[i].cols()) + ").");
        for (std::size_t r : d_ord[i]) {
            if (r == 0) throw QuillanError("unsplit_groups: row numbers count from 1.");
            rows = std::max(rows, r);
        }
    }
    if (cols < 0) return Matrix();
    Matrix y = Matrix::Zero(static_cast<Eigen::Index>(rows), cols);
    for (std::size_t i = 0; i < ngroups; ++i)
        for (std::size_t j = 0; j < d_ord[i].size(); ++j)
            y.row(static_cast<Eigen::Index>(d_ord[i][j] - 1)) = X[i].row(static_cast<Eigen::Index>(j));
    return y;
}

namespace {

// Cells are looked up by linear search up to this many, through the table
// beyond.
constexpr std::size_t kLinearCells = 12;

std::uint64_t key_bits(double v) {
    if (v == 0) v = 0.0;  // 0 and -0 are the same code
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

std::size_t slot_hash(double a, double b) {
    std::uint64_t h = key_bits(a) * 0x9E3779B97F4A7C15ull;
    h ^= key_bits(b) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h);
}

}  // namespace

void CellScratch::rebuild(std::size_t slots) {
    if (slot_cell_.size() < slots) {
        slot_cell_.assign(slots, 0);
        slot_stamp_.assign(slots, 0);
        stamp_ = 0;
    }
    if (++stamp_ == 0) {  // stamps wrapped: clear them once
        std::fill(slot_stamp_.begin(), slot_stamp_.end(), 0u);
        stamp_ = 1;
    }
    indexed_ = true;
    for (std::size_t c = 0; c < first_.size(); ++c)
        if (first_[c] == first_[c] && second_[c] == second_[c]) index(c);
}

void CellScratch::index(std::size_t cell) {
    const std::size_t mask = slot_cell_.size() - 1;
    std::size_t h = slot_hash(first_[cell], second_[cell]) & mask;
    while (slot_stamp_[h] == stamp_) h = (h + 1) & mask;
    slot_stamp_[h] = stamp_;
    slot_cell_[h] = static_cast<std::uint32_t>(cell);
}

std::size_t CellScratch::find_or_add(double a, double b) {
    const std::size_t n = first_.size();
    if (!indexed_) {
        for (std::size_t j = 0; j < n; ++j)
            if (first_[j] == a && second_[j] == b) return j;
    } else {
        const std::size_t mask = slot_cell_.size() - 1;
        for (std::size_t h = slot_hash(a, b) & mask; slot_stamp_[h] == stamp_; h = (h + 1) & mask) {
            const std::size_t j = slot_cell_[h];
            if (first_[j] == a && second_[j] == b) return j;
        }
    }
    first_.push_back(a);
    second_.push_back(b);
    if (indexed_ && 2 * first_.size() <= slot_cell_.size()) {
        index(n);
    } else if (first_.size() > kLinearCells) {
        std::size_t slots = 64;
        while (slots < 4 * first_.size()) slots *= 2;
        rebuild(slots);
    }
    return n;
}

std::size_t cell_codes(std::span<const double> glist1, std::span<const double> glist2, std::span<double> cell_list,
                       CellScratch& cells) {
    const std::size_t m = glist1.size();
    if (m == 0) throw QuillanError("combined_code: the first code vector is empty.");
    if (glist2.size() < m)
        throw QuillanError("combined_code: the second code vector has " + std::to_string(glist2.size()) + " codes for " +
                           std::to_string(m) + " specimens.");
    if (cell_list.size() < m) throw QuillanError("combined_code: the output holds fewer than " + std::to_string(m) + " codes.");
    cells.first_.clear();
    cells.second_.clear();
    cells.indexed_ = false;
    std::int64_t lo1, lo2;
    std::size_t span1, span2;
    if (whole_codes(glist1.first(m), lo1, span1) && whole_codes(glist2.first(m), lo2, span2) && span1 * span2 <= 4 * m + 64) {
        // Both codes whole numbers in narrow ranges: the cell of a pair is
        // found through a table indexed by the pair, numbered when first met.
        std::vector<int>& slot = slots(span1 * span2);
        auto at = [&](double a, double b) {
            return static_cast<std::size_t>(static_cast<std::int64_t>(a) - lo1) * span2 +
                   static_cast<std::size_t>(static_cast<std::int64_t>(b) - lo2);
        };
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t s = at(glist1[i], glist2[i]);
            int cell = slot[s];
            if (cell < 0) {
                cell = static_cast<int>(cells.first_.size());
                slot[s] = cell;
                cells.first_.push_back(glist1[i]);
                cells.second_.push_back(glist2[i]);
            }
            cell_list[i] = static_cast<double>(cell + 1);
        }
        for (std::size_t c = 0; c < cells.first_.size(); ++c) slot[at(cells.first_[c], cells.second_[c])] = -1;
        return cells.first_.size();
    }
    // A pair is held once, so the previous element's cell, when it matches,
    // is the only match; a not-a-number code matches nothing.  The numbering
    // is that of a linear search over the cells in order.
    std::size_t last = 0;
    for (std::size_t i = 0; i < m; ++i) {
        const double a = glist1[i];
        const double b = glist2[i];
        std::size_t cell;
        if (i > 0 && cells.first_[last] == a && cells.second_[last] == b) {
            cell = last;
        } else if (a != a || b != b) {
            cell = cells.first_.size();
            cells.first_.push_back(a);
            cells.second_.push_back(b);
        } else {
            cell = cells.find_or_add(a, b);
        }
        cell_list[i] = static_cast<double>(cell + 1);
        last = cell;
    }
    return cells.first_.size();
}

CombinedCode cell_codes(const Codes& glist1, const Codes& glist2, Console* console) {
    CombinedCode r;
    r.cell_list.resize(glist1.size());
    CellScratch cells;
    const std::size_t n = cell_codes(glist1, glist2, r.cell_list, cells);
    r.ccode.resize(static_cast<Eigen::Index>(n), 3);
    for (std::size_t j = 0; j < n; ++j) {
        const Eigen::Index row = static_cast<Eigen::Index>(j);
        r.ccode(row, 0) = static_cast<double>(j + 1);
        r.ccode(row, 1) = cells.first(j);
        r.ccode(row, 2) = cells.second(j);
    }
    if (console) console->echo("ccount", static_cast<double>(n));
    return r;
}

}  // namespace quillan
