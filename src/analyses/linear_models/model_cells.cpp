#include "analyses/linear_models/model_cells.hpp"

#include <algorithm>
#include <unordered_map>

namespace quillan {

CellLayout cell_layout(const ModelDesign& d) {
    CellLayout l;
    const auto n = static_cast<std::size_t>(d.x.rows());
    l.cell_of.assign(n, 0);
    l.cells = 1;
    // The cells numbered one factor at a time: (cell so far, level) pairs in
    // order of first appearance.
    for (const ModelVariable& v : d.variables) {
        if (!v.is_factor()) continue;
        std::unordered_map<long long, int> number;
        const auto levels = static_cast<long long>(v.levels.size());
        for (std::size_t i = 0; i < n; ++i) {
            const long long key = static_cast<long long>(l.cell_of[i]) * levels + v.codes[i];
            l.cell_of[i] = number.emplace(key, static_cast<int>(number.size())).first->second;
        }
        l.cells = static_cast<int>(number.size());
    }
    l.monomials.push_back({});
    for (const int term : d.assign) {
        std::vector<int> covariates;
        if (term > 0)
            for (const int v : d.formula.terms[static_cast<std::size_t>(term) - 1].variables)
                if (!d.variables[static_cast<std::size_t>(v)].is_factor()) covariates.push_back(v);
        auto it = std::find(l.monomials.begin(), l.monomials.end(), covariates);
        if (it == l.monomials.end()) it = l.monomials.insert(l.monomials.end(), covariates);
        l.monomial_of_column.push_back(static_cast<int>(it - l.monomials.begin()));
    }
    return l;
}

double cell_sums_work(const CellLayout& layout, const ModelDesign& d, int terms, int df, long long coordinates) {
    const double n = static_cast<double>(d.x.rows()), q = d.rank(), p = static_cast<double>(coordinates);
    const double k = static_cast<double>(layout.monomials.size()), rows = k * layout.cells;
    // An addition scattered into the cell sums counts three (it is a load,
    // an add and a store, where a product's multiply-add streams); each of
    // the small products costs about 600 on its own, whatever its size.
    const double gather = 3 * k * n * p + k * k * n;
    const double cross = rows * rows * q + rows * q * q + rows * q * p;
    const double calls = 600.0 * (3 + 3 * terms);
    return gather + cross + terms * q * q * p + (df + terms * q) * q * p + calls;
}

CellSums::CellSums(const ModelDesign& d, CellLayout layout, const std::vector<Term>& terms)
    : layout_(std::move(layout)), n_(static_cast<int>(d.x.rows())), q_(d.rank()) {
    const Eigen::HouseholderQR<Eigen::MatrixXd> qr(d.x);
    const Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(n_, q_);
    const Eigen::MatrixXd s_inverse =
        qr.matrixQR().topRows(q_).triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(q_, q_));
    const Eigen::MatrixXd& first = *terms.front().residuals;
    e_ = first - q * (q.transpose() * first);
    for (const Term& t : terms) {
        d_.push_back(s_inverse * (q.transpose() * *t.residuals));
        df_.push_back(t.df);
        Eigen::MatrixXd w(q_, t.df + q_);
        if (t.added) w << s_inverse * (q.transpose() * t.added->leftCols(t.df)), s_inverse;
        else w = s_inverse;
        w_.push_back(std::move(w));
    }
    const auto k = static_cast<Eigen::Index>(layout_.monomials.size());
    weights_ = Eigen::MatrixXd::Ones(n_, k);
    for (Eigen::Index m = 1; m < k; ++m)
        for (const int v : layout_.monomials[static_cast<std::size_t>(m)])
            weights_.col(m) = weights_.col(m).cwiseProduct(
                Eigen::Map<const Eigen::VectorXd>(d.variables[static_cast<std::size_t>(v)].values.data(), n_));
    // The design's columns with every covariate 1: each cell's indicators.
    std::vector<ModelVariable> ones = d.variables;
    for (auto& v : ones)
        if (!v.is_factor()) std::fill(v.values.begin(), v.values.end(), 1.0);
    const Eigen::MatrixXd indicators = design_columns(d, ones);
    columns_ = Eigen::MatrixXd::Zero(k * layout_.cells, q_);
    for (int i = n_ - 1; i >= 0; --i)
        for (int j = 0; j < q_; ++j)
            columns_(layout_.monomial_of_column[static_cast<std::size_t>(j)] * layout_.cells +
                         layout_.cell_of[static_cast<std::size_t>(i)],
                     j) = indicators(i, j);
}

void CellSums::move(const std::vector<int>& perm, Scratch& s) const {
    const auto p = e_.cols();
    const Eigen::Index cells = layout_.cells, k = weights_.cols(), rows = k * cells;
    s.sums.setZero(rows, p);
    s.counts.setZero(rows, rows);
    // Row i takes the residual of row perm[i]: the residuals are read in
    // their own order, each added to the cell of the row it goes to, so the
    // table streams through memory and only the small sums are scattered.
    s.to.resize(perm.size());
    for (int i = 0; i < n_; ++i) s.to[static_cast<std::size_t>(perm[static_cast<std::size_t>(i)])] = i;
    for (int from = 0; from < n_; ++from) {
        const int i = s.to[static_cast<std::size_t>(from)];
        const Eigen::Index c = layout_.cell_of[static_cast<std::size_t>(i)],
                           source = layout_.cell_of[static_cast<std::size_t>(from)];
        const auto moved = e_.row(from);
        s.sums.row(c) += moved;
        s.counts(c, source) += 1;
        for (Eigen::Index m = 1; m < k; ++m) s.sums.row(m * cells + c) += weights_(i, m) * moved;
        if (k == 1) continue;
        for (Eigen::Index a = 0; a < k; ++a)
            for (Eigen::Index b = a == 0 ? 1 : 0; b < k; ++b)
                s.counts(a * cells + c, b * cells + source) += weights_(i, a) * weights_(from, b);
    }
    s.moved.noalias() = columns_.transpose() * s.sums;
    s.cross.noalias() = columns_.transpose() * (s.counts * columns_);
}

const Eigen::MatrixXd& CellSums::design_products(std::size_t j, Scratch& s) const {
    s.product = s.moved;
    s.product.noalias() += s.cross * d_[j];
    return s.product;
}

Eigen::MatrixXd CellSums::cell_sums(std::size_t j, const Scratch& s) const {
    const Eigen::Index cells = layout_.cells;
    return s.sums.topRows(cells) + s.counts.topRows(cells) * (columns_ * d_[j]);
}

void CellSums::sums(const std::vector<int>& perm, Scratch& s, double* ss, double* fitted) const {
    move(perm, s);
    for (std::size_t j = 0; j < d_.size(); ++j) {
        s.terms_of.noalias() = w_[j].transpose() * design_products(j, s);
        ss[j] = s.terms_of.topRows(df_[j]).squaredNorm();
        fitted[j] = s.terms_of.bottomRows(q_).squaredNorm();
    }
}

}  // namespace quillan
