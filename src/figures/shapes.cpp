#include "figures/shapes.hpp"

#include "geometry/geometry.hpp"
#include "groups/groups.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"

#include <algorithm>

namespace quillan {

Shape2 shape_of_row(const Matrix& table, Eigen::Index row, int landmarks) {
    Shape2 s(static_cast<std::size_t>(landmarks));
    for (int j = 0; j < landmarks; ++j) s[static_cast<std::size_t>(j)] = {table(row, 2 * j), table(row, 2 * j + 1)};
    return s;
}

Superimposition superimpose(const Matrix& landmark_table, int dimensions) {
    const Consensus c = full_procrustes_consensus(landmark_table, dimensions);
    Superimposition s;
    s.dimensions = dimensions;
    s.landmarks = static_cast<int>(landmark_table.cols() / dimensions);
    s.aligned = c.xpt.leftCols(dimensions * s.landmarks);
    s.consensus_row = c.y.row(0).head(dimensions * s.landmarks);
    if (dimensions == 2) s.consensus = shape_of_row(c.y, 0, s.landmarks);
    return s;
}

Shape2 view_of_row(const Eigen::RowVectorXd& row, int dimensions, int across, int up) {
    const auto k = static_cast<std::size_t>(row.size() / dimensions);
    Shape2 out(k);
    for (std::size_t j = 0; j < k; ++j) {
        const auto at = static_cast<Eigen::Index>(j) * dimensions;
        out[j] = {row(at + across), row(at + up)};
    }
    return out;
}

Superimposition plane_view(const Superimposition& s, int across, int up) {
    Superimposition v;
    v.landmarks = s.landmarks;
    v.aligned.resize(s.aligned.rows(), 2 * s.landmarks);
    for (int j = 0; j < s.landmarks; ++j) {
        v.aligned.col(2 * j) = s.aligned.col(s.dimensions * j + across);
        v.aligned.col(2 * j + 1) = s.aligned.col(s.dimensions * j + up);
    }
    v.consensus = view_of_row(s.consensus_row, s.dimensions, across, up);
    v.consensus_row.resize(2 * s.landmarks);
    for (int j = 0; j < s.landmarks; ++j) {
        v.consensus_row(2 * j) = v.consensus[static_cast<std::size_t>(j)].x;
        v.consensus_row(2 * j + 1) = v.consensus[static_cast<std::size_t>(j)].y;
    }
    return v;
}

std::string specimen_label(int specimen, const std::vector<std::string>& ids) {
    std::string label = "Specimen " + std::to_string(specimen + 1) + " (line " + std::to_string(specimen + 1) + ")";
    if (specimen >= 0 && static_cast<std::size_t>(specimen) < ids.size() && !ids[static_cast<std::size_t>(specimen)].empty())
        label += ", ID " + ids[static_cast<std::size_t>(specimen)];
    return label;
}

std::string group_label(double code, const std::string& name) { return name.empty() ? "Group " + format_number(code) : name; }

std::string cell_label(double code1, double code2, const std::string& name1, const std::string& name2) {
    if (name1.empty() || name2.empty()) return "Cell " + format_number(code1) + " x " + format_number(code2);
    return name1 + " x " + name2;
}

namespace {

// The level name of `code` in column `column`, or "" when none is known.
std::string level_name(const LevelNames& names, std::size_t column, double code) {
    if (column >= names.size() || code < 1 || code != static_cast<double>(static_cast<long long>(code))) return {};
    const auto k = static_cast<std::size_t>(code) - 1;
    return k < names[column].size() ? names[column][k] : std::string();
}

}  // namespace

Grouping make_grouping(const Matrix& group_list, int n, GroupBy by, const LevelNames& names) {
    Grouping g;
    g.group_of.assign(static_cast<std::size_t>(n), 0);
    if (by == GroupBy::None || group_list.size() == 0) {
        g.names = {"All specimens"};
        g.keys = {"all"};
        return g;
    }
    const Eigen::Index need = by == GroupBy::First ? 1 : 2;
    if (group_list.cols() < need)
        throw QuillanError("The group file has " + std::to_string(group_list.cols()) + " column(s); colouring by " +
                           (by == GroupBy::Second ? "the second grouping" : "cells") + " needs two.");
    if (group_list.rows() != n)
        throw QuillanError("The group file has " + std::to_string(group_list.rows()) + " specimens, but the landmark file has " +
                           std::to_string(n) + ".");
    g.factor = by == GroupBy::First ? "G1" : by == GroupBy::Second ? "G2" : "G1 x G2";
    const Codes c1 = column_codes(group_list, 0);
    Codes codes, gcodes;
    std::vector<std::pair<double, double>> pairs;  // the codes behind each cell
    if (by == GroupBy::First) {
        codes = c1;
    } else if (by == GroupBy::Second) {
        codes = column_codes(group_list, 1);
    } else {
        const Codes c2 = column_codes(group_list, 1);
        // Cells numbered by first appearance of each pair of codes.
        codes.resize(c1.size());
        for (std::size_t i = 0; i < c1.size(); ++i) {
            std::size_t cell = 0;
            while (cell < pairs.size() && !(pairs[cell].first == c1[i] && pairs[cell].second == c2[i])) ++cell;
            if (cell == pairs.size()) pairs.emplace_back(c1[i], c2[i]);
            codes[i] = static_cast<double>(cell + 1);
        }
    }
    std::vector<std::size_t> ssize;
    number_groups(codes, g.group_of, gcodes, ssize);
    for (double code : gcodes) {
        if (by == GroupBy::Cells) {
            const auto& p = pairs[static_cast<std::size_t>(code) - 1];
            const std::string n1 = level_name(names, 0, p.first), n2 = level_name(names, 1, p.second);
            g.names.push_back(cell_label(p.first, p.second, n1, n2));
            g.keys.push_back((n1.empty() ? format_number(p.first) : n1) + "x" + (n2.empty() ? format_number(p.second) : n2));
        } else {
            const std::string name = level_name(names, by == GroupBy::Second ? 1 : 0, code);
            g.names.push_back(group_label(code, name));
            g.keys.push_back(name.empty() ? format_number(code) : name);
        }
    }
    return g;
}

std::vector<Eigen::RowVectorXd> group_means(const Superimposition& s, const Grouping& g) {
    std::vector<Eigen::RowVectorXd> sums(static_cast<std::size_t>(g.groups()), Eigen::RowVectorXd::Zero(s.aligned.cols()));
    std::vector<int> counts(static_cast<std::size_t>(g.groups()), 0);
    for (int i = 0; i < s.specimens(); ++i) {
        const auto k = static_cast<std::size_t>(g.group_of[static_cast<std::size_t>(i)]);
        sums[k] += s.aligned.row(i);
        ++counts[k];
    }
    for (std::size_t k = 0; k < sums.size(); ++k) sums[k] /= static_cast<double>(std::max(1, counts[k]));
    return sums;
}

Eigen::RowVectorXd magnify(const Eigen::RowVectorXd& consensus, const Eigen::RowVectorXd& target, double magnification) {
    return consensus + magnification * (target - consensus);
}

void Bounds::add(double x, double y) {
    if (empty) {
        xmin = xmax = x;
        ymin = ymax = y;
        empty = false;
        return;
    }
    xmin = std::min(xmin, x);
    xmax = std::max(xmax, x);
    ymin = std::min(ymin, y);
    ymax = std::max(ymax, y);
}

}  // namespace quillan
