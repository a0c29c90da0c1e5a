// Trees and data for the analyses on a phylogeny, built in the tests: from
// a parent/length list, or from the files tests/expected/phylo's R script
// writes (a tree as ape numbers its nodes, one row a node; the data one row
// a specimen, in an order other than the tips').
#pragma once

#include "analyses/phylo/phylo_tree.hpp"
#include "support/fixtures.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <string>
#include <vector>

namespace quillan::test {

// Tips 0 .. labels.size()-1, the root next; parent -1 for the root.
inline PhyloTree tree_of(std::vector<int> parent, std::vector<double> length, std::vector<std::string> labels) {
    PhyloTree t;
    t.parent = std::move(parent);
    t.length = std::move(length);
    t.labels = std::move(labels);
    t.source = "test.tre";
    return t;
}

// CASE_tree.csv of tests/expected/phylo: node,parent,length,label, 1-based.
inline PhyloTree expected_tree(const std::string& name) {
    const auto rows = expected_csv("phylo/" + name + "_tree.csv");
    PhyloTree t;
    t.source = name + ".tre";
    for (auto r = rows.begin() + 1; r < rows.end(); ++r) {
        t.parent.push_back(std::stoi(r->at(1)) - 1);
        t.length.push_back(std::stod(r->at(2)));
        if (r->size() > 3 && !r->at(3).empty()) t.labels.push_back(r->at(3));
    }
    return t;
}

// Tips P01 .. P40 (the specimens of plethodon.csv) and `extra` on a comb
// whose tips are not all as far from the root.
inline PhyloTree plethodon_tree(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> labels;
    for (int i = 1; i <= 40; ++i) labels.push_back((i < 10 ? "P0" : "P") + std::to_string(i));
    labels.insert(labels.end(), extra.begin(), extra.end());
    const auto m = static_cast<int>(labels.size());
    std::vector<int> parent(static_cast<std::size_t>(2 * m - 1));
    std::vector<double> length(parent.size(), 0.1);
    for (int i = 0; i < m; ++i) {
        parent[static_cast<std::size_t>(i)] = m + std::min(i, m - 2);
        length[static_cast<std::size_t>(i)] = 0.1 * (m - i) + 0.05 * (i % 3);
    }
    for (int k = 0; k < m - 1; ++k) parent[static_cast<std::size_t>(m + k)] = k == 0 ? -1 : m + k - 1;
    length[static_cast<std::size_t>(m)] = 0;
    return tree_of(parent, length, labels);
}

struct TreeCase {
    PhyloTree tree;
    std::vector<std::string> names;
    Eigen::MatrixXd x;            // the shape columns
    std::vector<double> cov;      // the covariate, when the case has one
    std::vector<std::string> g;   // the factor, when the case has one
    std::vector<int> tip_of_row;  // each row's tip
};

// CASE_data.csv: name, then cov and g where present, then the shape columns.
inline TreeCase expected_tree_case(const std::string& name) {
    TreeCase c;
    c.tree = expected_tree(name);
    const auto rows = expected_csv("phylo/" + name + "_data.csv");
    const auto& head = rows.front();
    std::size_t first = 1;
    while (first < head.size() && (head[first] == "cov" || head[first] == "g" || head[first] == "logcs")) ++first;
    c.x.resize(static_cast<Eigen::Index>(rows.size() - 1), static_cast<Eigen::Index>(head.size() - first));
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto& r = rows[i];
        c.names.push_back(r[0]);
        for (std::size_t j = 1; j < first; ++j) {
            if (head[j] == "g") c.g.push_back(r[j]);
            else c.cov.push_back(std::stod(r[j]));
        }
        for (std::size_t j = first; j < head.size(); ++j)
            c.x(static_cast<Eigen::Index>(i - 1), static_cast<Eigen::Index>(j - first)) = std::stod(r[j]);
        for (int t = 0; t < c.tree.tip_count(); ++t)
            if (c.tree.labels[static_cast<std::size_t>(t)] == r[0]) c.tip_of_row.push_back(t);
    }
    return c;
}

}  // namespace quillan::test
