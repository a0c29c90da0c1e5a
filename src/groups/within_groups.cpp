#include "groups/within_groups.hpp"

#include "groups/groups.hpp"
#include "platform/error.hpp"

#include <string>

namespace quillan {

double WithinGroups::total() const {
    double s = 0.0;
    for (double v : wgsd) s += v;
    return s;
}

void within_group_ss(const ShapeTable& table, std::span<const double> codes, WithinGroupsScratch& scratch, WithinGroups& out,
                     std::span<const int> row_of) {
    const std::size_t n = table.rows();
    if (codes.size() < n)
        throw QuillanError("The group list has " + std::to_string(codes.size()) + " codes for " + std::to_string(n) +
                           " specimens.");
    if (!row_of.empty() && row_of.size() < n)
        throw QuillanError("sq_d_wg: the row map has " + std::to_string(row_of.size()) + " entries for " + std::to_string(n) +
                           " specimens.");
    WithinGroupsScratch& s = scratch;
    if (s.group_of_.size() < n) {
        s.group_of_.resize(n);
        s.members_.resize(n);
    }
    const std::size_t ng = number_groups(codes.first(n), std::span<int>(s.group_of_.data(), n), out.gcodes, out.ssize);

    // Each group's rows as a list of table rows, in position order.
    if (s.start_.size() < ng) {
        s.start_.resize(ng);
        s.fill_.resize(ng);
    }
    std::size_t at = 0;
    for (std::size_t g = 0; g < ng; ++g) {
        s.start_[g] = s.fill_[g] = at;
        at += out.ssize[g];
    }
    for (std::size_t i = 0; i < n; ++i) {
        const int r = row_of.empty() ? static_cast<int>(i) : row_of[i];
        if (r < 0 || static_cast<std::size_t>(r) >= n)
            throw QuillanError("sq_d_wg: row map entry " + std::to_string(r) + " is not a row of the table.");
        s.members_[s.fill_[static_cast<std::size_t>(s.group_of_[i])]++] = r;
    }

    out.wgsd.assign(ng, 0.0);
    out.single_codes.clear();
    // A specimen lies on its own consensus: its entry stays 0.
    for (std::size_t g = 0; g < ng; ++g)
        if (out.ssize[g] == 1) out.single_codes.push_back(out.gcodes[g]);
    groups_ss(table, std::span<const int>(s.members_.data(), n), std::span<const std::size_t>(s.start_.data(), ng),
              std::span<const std::size_t>(out.ssize.data(), ng), s.work_, std::span<double>(out.wgsd.data(), ng));
}

WithinSum within_group_ss_sum(const ShapeTable& table, std::span<const double> codes, WithinGroupsScratch& scratch,
                              std::span<const int> row_of) {
    WithinGroups& r = scratch.result_;
    within_group_ss(table, codes, scratch, r, row_of);
    return WithinSum{r.total(), r.wgsd.size(), r.single_codes.size()};
}

void within_group_ss_sums(const ShapeTable& table, std::span<const std::span<const double>> groupings,
                          WithinGroupsScratch& scratch, std::span<WithinSum> out) {
    const std::size_t n = table.rows();
    if (out.size() < groupings.size()) throw QuillanError("within_group_ss_sums: fewer results than groupings.");
    for (const auto& codes : groupings)
        if (codes.size() < n)
            throw QuillanError("The group list has " + std::to_string(codes.size()) + " codes for " + std::to_string(n) +
                               " specimens.");
    WithinGroupsScratch& s = scratch;
    WithinGroups& w = s.result_;
    if (s.group_of_.size() < n) s.group_of_.resize(n);
    if (s.members_.size() < groupings.size() * n) s.members_.resize(groupings.size() * n);
    s.start_.clear();
    s.sizes_.clear();
    // Each grouping's groups in turn, numbered as within_group_ss numbers
    // them, their rows listed one group after another.
    std::size_t at = 0;
    for (std::size_t c = 0; c < groupings.size(); ++c) {
        const std::size_t ng = number_groups(groupings[c].first(n), std::span<int>(s.group_of_.data(), n), w.gcodes, w.ssize);
        if (s.fill_.size() < ng) s.fill_.resize(ng);
        std::size_t singles = 0;
        for (std::size_t g = 0; g < ng; ++g) {
            s.start_.push_back(at);
            s.sizes_.push_back(w.ssize[g]);
            s.fill_[g] = at;
            at += w.ssize[g];
            singles += w.ssize[g] == 1 ? 1 : 0;
        }
        for (std::size_t i = 0; i < n; ++i) s.members_[s.fill_[static_cast<std::size_t>(s.group_of_[i])]++] = static_cast<int>(i);
        out[c] = WithinSum{0.0, ng, singles};
    }
    const std::size_t total = s.sizes_.size();
    s.ss_.assign(total, 0.0);  // a group of one specimen keeps its 0
    groups_ss(table, std::span<const int>(s.members_.data(), at), std::span<const std::size_t>(s.start_.data(), total),
              std::span<const std::size_t>(s.sizes_.data(), total), s.work_, std::span<double>(s.ss_.data(), total));
    // Each grouping's sum from its first group to its last, as WithinGroups::total adds them.
    std::size_t g = 0;
    for (std::size_t c = 0; c < groupings.size(); ++c) {
        double sum = 0.0;
        for (std::size_t e = g + out[c].groups; g < e; ++g) sum += s.ss_[g];
        out[c].sum = sum;
    }
}

WithinGroups within_group_ss(const Matrix& data, const Codes& glist) {
    const ShapeTable table(data);
    WithinGroupsScratch scratch;
    WithinGroups out;
    within_group_ss(table, glist, scratch, out);
    return out;
}

}  // namespace quillan
