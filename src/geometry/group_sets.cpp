// groups_ss: the within-group sums of many small groups, several groups per
// sweep (one group per vector lane, see LaneGroups in tile_ops.hpp).
#include "geometry/consensus_iteration.hpp"
#include "geometry/shape_table.hpp"
#include "geometry/tile_ops.hpp"
#include "platform/error.hpp"

#include <algorithm>

namespace quillan {

namespace {

// The tiles of one set of groups stay within this many bytes, so that its
// passes run from the second-level cache; larger groups go one at a time,
// where the tiles of a group already fill the lanes.
constexpr std::size_t kSetBytes = 256 * 1024;

struct Groups {
    const ShapeTable& table;
    std::span<const int> members;
    std::span<const std::size_t> start;
    std::span<const std::size_t> size;
    std::span<double> out;

    std::span<const int> rows(std::size_t g) const { return members.subspan(start[g], size[g]); }
};

void one_by_one(const Groups& gs, ShapeScratch& work) {
    for (std::size_t g = 0; g < gs.size.size(); ++g)
        if (gs.size[g] > 1) gs.out[g] = group_ss(gs.table, gs.rows(g), work);
}

bool rows_valid(const Groups& gs) {
    for (std::size_t g = 0; g < gs.size.size(); ++g) {
        if (gs.start[g] > gs.members.size() || gs.size[g] > gs.members.size() - gs.start[g]) return false;
        for (const int r : gs.rows(g))
            if (r < 0 || static_cast<std::size_t>(r) >= gs.table.rows()) return false;
    }
    return true;
}

// Superimposes the groups order[0 .. c) side by side; false when one fails.
bool run_set(const Groups& gs, const kernels::KernelOps& ops, const std::size_t* order, std::size_t c, std::size_t rows,
             LineVector& buf, ShapeScratch& work) {
    const std::size_t lanes = static_cast<std::size_t>(ops.lanes);
    const bool space = gs.table.dimensions() == 3;
    kernels::LaneGroups lg;
    lg.table = &gs.table;
    lg.k = gs.table.landmarks();
    lg.max_passes = kMaxConsensusPasses;
    for (std::size_t l = 0; l < lanes; ++l) {
        const std::size_t g = order[l < c ? l : 0];  // a spare lane repeats the first group
        lg.rows[l] = gs.members.data() + gs.start[g];
        lg.n[l] = gs.size[g];
    }
    const std::size_t room = kernels::lane_groups_room(rows, lg.k, ops.lanes, gs.table.dimensions());
    if (buf.size() < room) buf.resize(room);
    lg.buf = buf.data();
    if (!(space ? ops.lane_groups_space(lg) : ops.lane_groups(lg))) return false;
    for (std::size_t l = 0; l < c; ++l) {
        gs.out[order[l]] = lg.ss[l];
        work.passes += lg.passes[l];
        work.row_passes += lg.passes[l] * lg.n[l];
    }
    return true;
}

// Configurations in space: every group of two or more goes into a set, the
// largest groups first, as many to a set as the widest lanes hold (the last,
// of the smallest groups, in the narrowest variant that holds what is left).  A group superimposed on
// its own turns each specimen by a singular value decomposition, many times
// dearer than its share of a set's sweep, so no group is worth taking alone.
void space_groups(const Groups& gs, ShapeScratch& work, std::vector<std::size_t>& order, LineVector& buf) {
    order.clear();
    for (std::size_t g = 0; g < gs.size.size(); ++g)
        if (gs.size[g] > 1) order.push_back(g);
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return gs.size[a] != gs.size[b] ? gs.size[a] > gs.size[b] : a < b; });
    const std::size_t widest = static_cast<std::size_t>(kernels::ops_for_rows(kernels::kMaxLanes).lanes);
    try {
        for (std::size_t done = 0; done < order.size();) {
            const std::size_t c = std::min(widest, order.size() - done);
            std::size_t w = widest;
            while (w / 2 >= c && w / 2 >= 2) w /= 2;
            const kernels::KernelOps& v = kernels::ops_for_rows(w);
            const std::size_t count = std::min(c, static_cast<std::size_t>(v.lanes));
            if (!run_set(gs, v, order.data() + done, count, gs.size[order[done]], buf, work)) return one_by_one(gs, work);
            done += count;
        }
    } catch (const QuillanError&) {
        one_by_one(gs, work);
        throw;
    }
}

}  // namespace

void groups_ss(const ShapeTable& table, std::span<const int> members, std::span<const std::size_t> start,
               std::span<const std::size_t> size, ShapeScratch& work, std::span<double> out) {
    const Groups gs{table, members, start, size, out};
    const kernels::KernelOps& ops = kernels::ops_for_rows(static_cast<std::size_t>(kernels::kMaxLanes));
    const std::size_t lanes = static_cast<std::size_t>(ops.lanes);
    if (ops.lane_groups == nullptr || lanes < 2 || !rows_valid(gs)) return one_by_one(gs, work);
    if (table.dimensions() == 3) return space_groups(gs, work, work.order_, work.lanes_);
    const std::size_t row_bytes = 2 * static_cast<std::size_t>(table.landmarks()) * lanes * sizeof(double);  // widest
    // The groups that may share tiles, smallest first, so that each set holds
    // groups of similar sizes.
    std::vector<std::size_t>& order = work.order_;
    order.clear();
    for (std::size_t g = 0; g < size.size(); ++g)
        if (size[g] > 1 && size[g] * row_bytes <= kSetBytes) order.push_back(g);
    // (std::sort with the group number breaking ties: stable_sort would take a buffer every call)
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return size[a] != size[b] ? size[a] < size[b] : a < b; });
    // Costs in eighths of a tile of the widest lanes.  A group on its own
    // takes its tiles and about two tiles' worth for a consensus of its own.
    // A set takes as many tiles as its largest group has rows, each about an
    // eighth dearer than a group's own tile: every lane goes on until the
    // slowest settles, and lanes past their group's end are masked.
    auto alone = [&](std::size_t i) { return 8 * ((size[order[i]] + lanes - 1) / lanes + 2); };
    auto set_cost = [&](std::size_t last) { return 9 * size[order[last]]; };
    try {
        std::size_t done = 0;
        while (done < order.size()) {
            // The widest variant whose lanes the next groups fill well (a
            // narrower one, which gives the same numbers, for fewer groups).
            const kernels::KernelOps* use = nullptr;
            std::size_t c = 0;
            for (std::size_t w = lanes; w >= 2 && use == nullptr; w /= 2) {
                const kernels::KernelOps& v = kernels::ops_for_rows(w);
                const std::size_t vl = static_cast<std::size_t>(v.lanes);
                if (vl != w || v.lane_groups == nullptr) continue;
                const std::size_t most = std::min(vl, order.size() - done);
                // The set of the next c groups that, with the others of the
                // `most` on their own, costs least; taken when it costs no
                // more than its groups would one by one.
                std::size_t best = 0;
                for (std::size_t m = 2; m <= most; ++m) {
                    std::size_t cost = set_cost(done + m - 1), rest = 0;
                    for (std::size_t i = done + m; i < done + most; ++i) rest += alone(i);
                    if (c == 0 || cost + rest <= best) {
                        best = cost + rest;
                        c = m;
                    }
                }
                std::size_t one_by_one_cost = 0;
                for (std::size_t i = done; i < done + c; ++i) one_by_one_cost += alone(i);
                if (c >= 2 && set_cost(done + c - 1) <= one_by_one_cost) use = &v;
                else c = 0;
            }
            if (use == nullptr) {  // the smallest group goes alone
                out[order[done]] = group_ss(table, gs.rows(order[done]), work);
                ++done;
                continue;
            }
            if (!run_set(gs, *use, order.data() + done, c, size[order[done + c - 1]], work.lanes_, work))
                return one_by_one(gs, work);
            done += c;
        }
        for (std::size_t g = 0; g < size.size(); ++g)
            if (size[g] > 1 && size[g] * row_bytes > kSetBytes) out[g] = group_ss(table, gs.rows(g), work);
    } catch (const QuillanError&) {
        // The first group that fails, in group order, says why.
        one_by_one(gs, work);
        throw;
    }
}

}  // namespace quillan
