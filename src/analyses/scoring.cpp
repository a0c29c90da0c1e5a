// Scoring groupings on the geometry module's prepared table.
#include "analyses/scoring.hpp"

#include "geometry/shape_table.hpp"
#include "groups/groups.hpp"
#include "groups/within_groups.hpp"
#include "platform/error.hpp"

namespace quillan {

struct PreparedTable::Impl {
    Impl(const Matrix& data, int dimensions) : table(data, {}, dimensions) {}
    ShapeTable table;
    double total_ss = 0;
};

PreparedTable::PreparedTable(const Matrix& data, int dimensions) : impl_(std::make_unique<Impl>(data, dimensions)) {
    ShapeScratch work;
    impl_->total_ss = whole_table_ss(impl_->table, work);
}

PreparedTable::~PreparedTable() = default;
int PreparedTable::specimens() const { return static_cast<int>(impl_->table.rows()); }
double PreparedTable::total_ss() const { return impl_->total_ss; }
const ShapeTable& PreparedTable::shapes() const { return impl_->table; }

int GroupSums::specimens() const {
    int s = 0;
    for (int v : ssize) s += v;
    return s;
}

struct Scorer::Impl {
    const ShapeTable* table;
    WithinGroupsScratch scratch;
    std::vector<std::span<const double>> groupings;
    std::vector<WithinSum> sums;
    WithinGroups within;
    GroupSums out;
};

Scorer::Scorer(const PreparedTable& table) : impl_(std::make_unique<Impl>()) { impl_->table = &table.impl().table; }
Scorer::~Scorer() = default;

const GroupSums& Scorer::score(const Codes& codes) {
    Impl& s = *impl_;
    within_group_ss(*s.table, std::span<const double>(codes.data(), codes.size()), s.scratch, s.within);
    s.out.wgsd.assign(s.within.wgsd.begin(), s.within.wgsd.end());
    s.out.gcodes.assign(s.within.gcodes.begin(), s.within.gcodes.end());
    s.out.ssize.assign(s.within.ssize.begin(), s.within.ssize.end());
    s.out.single_codes.assign(s.within.single_codes.begin(), s.within.single_codes.end());
    s.out.total = s.within.total();
    return s.out;
}

double Scorer::sum(const Codes& codes, bool& single) {
    Impl& s = *impl_;
    const WithinSum w = within_group_ss_sum(*s.table, std::span<const double>(codes.data(), codes.size()), s.scratch);
    single = single || w.singles > 0;
    return w.sum;
}

void Scorer::sums(std::initializer_list<const Codes*> groupings, double* within, bool& single) {
    Impl& s = *impl_;
    s.groupings.clear();
    for (const Codes* c : groupings) s.groupings.emplace_back(c->data(), c->size());
    s.sums.resize(s.groupings.size());
    within_group_ss_sums(*s.table, s.groupings, s.scratch, s.sums);
    for (std::size_t c = 0; c < s.sums.size(); ++c) {
        within[c] = s.sums[c].sum;
        single = single || s.sums[c].singles > 0;
    }
}

void permute_codes(const Codes& in, const std::vector<int>& rp, Codes& out) {
    out.resize(rp.size());
    for (std::size_t i = 0; i < rp.size(); ++i) out[i] = in[static_cast<std::size_t>(rp[i])];
}

void CellCoder::code(const Codes& a, const Codes& b, Codes& cells) {
    cells.resize(a.size());
    cell_codes(std::span<const double>(a.data(), a.size()), std::span<const double>(b.data(), b.size()),
               std::span<double>(cells.data(), cells.size()), scratch_);
}

int CellCoder::cells() const { return static_cast<int>(scratch_.cells()); }

}  // namespace quillan
