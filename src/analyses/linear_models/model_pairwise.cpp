#include "analyses/linear_models/model_pairwise.hpp"

#include "analyses/linear_models/model_cells.hpp"
#include "analyses/permutation_recorder.hpp"
#include "platform/error.hpp"
#include "platform/random.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>

namespace quillan {

namespace {

// The groups of `name`: one variable of the model, or the cells of several
// joined by ':'.  Codes are 0-based, in the order of the levels.
struct Grouping {
    std::vector<int> codes;
    std::vector<std::string> levels;
    std::vector<int> variables;
};

Grouping grouping_of(const ModelDesign& d, const std::string& name) {
    std::string known;
    for (const auto& v : d.variables)
        if (v.is_factor()) known += (known.empty() ? "" : ", ") + v.name;
    Grouping g;
    std::vector<std::vector<int>> cells(static_cast<std::size_t>(d.x.rows()));
    for (std::size_t from = 0; from <= name.size();) {
        const std::size_t colon = std::min(name.find(':', from), name.size());
        const std::string part = name.substr(from, colon - from);
        const auto it =
            std::find_if(d.variables.begin(), d.variables.end(), [&](const ModelVariable& v) { return v.name == part; });
        if (it == d.variables.end() || !it->is_factor())
            throw Refused("The groups to compare, \"" + name +
                          "\", must be a factor of the model (or factors joined by \":\"); "
                          "the model's factors are: " +
                          (known.empty() ? "none" : known) + ".");
        const int variable = static_cast<int>(it - d.variables.begin());
        if (std::find(g.variables.begin(), g.variables.end(), variable) != g.variables.end())
            throw Refused("The groups to compare, \"" + name + "\", name \"" + part + "\" twice: each factor is named once.");
        g.variables.push_back(variable);
        for (std::size_t i = 0; i < cells.size(); ++i) cells[i].push_back(it->codes[i]);
        from = colon + 1;
    }
    std::map<std::vector<int>, int> index;
    for (const auto& c : cells) index.emplace(c, 0);
    for (auto& [cell, code] : index) {
        code = static_cast<int>(g.levels.size());
        std::string label;
        for (std::size_t k = 0; k < cell.size(); ++k)
            label +=
                (k ? "." : "") + d.variables[static_cast<std::size_t>(g.variables[k])].levels[static_cast<std::size_t>(cell[k])];
        g.levels.push_back(label);
    }
    for (const auto& c : cells) g.codes.push_back(index[c]);
    return g;
}

// The covariate that meets all of the grouping's factors in one term, or -1.
int slope_covariate(const ModelDesign& d, const Grouping& g) {
    for (const auto& t : d.formula.terms)
        for (int v : t.variables) {
            if (d.variables[static_cast<std::size_t>(v)].is_factor()) continue;
            const bool all = std::all_of(g.variables.begin(), g.variables.end(), [&](int f) {
                return std::find(t.variables.begin(), t.variables.end(), f) != t.variables.end();
            });
            if (all) return v;
        }
    return -1;
}

// The matrix taking the shapes to the groups' means (or slopes) of the
// model's fitted values: rows of `per_group` times the hat of the model;
// for plain means `per_group` alone.  Save for plain means it is L X', and
// `on_design` is L (groups x q): a permutation then needs only X'PR.
struct GroupOperator {
    Eigen::MatrixXd op, on_design;
};

GroupOperator group_operator(const ModelDesign& d, const Grouping& g, int covariate, PairwiseMeans means,
                             Eigen::VectorXd& sizes) {
    const Eigen::Index n = d.x.rows();
    const auto groups = static_cast<Eigen::Index>(g.levels.size());
    // The least-squares coefficients' map from the shapes, R^-1 Q' (q x n),
    // without any n x n matrix.
    const Eigen::HouseholderQR<Eigen::MatrixXd> qr(d.x);
    const Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(n, d.x.cols());
    const auto s = qr.matrixQR().topRows(d.x.cols()).triangularView<Eigen::Upper>();
    const Eigen::MatrixXd coefficients = s.solve(q.transpose());
    const Eigen::MatrixXd s_inverse = s.solve(Eigen::MatrixXd::Identity(d.x.cols(), d.x.cols()));
    const Eigen::MatrixXd xtx_inverse = s_inverse * s_inverse.transpose();
    sizes = Eigen::VectorXd::Zero(groups);
    for (int c : g.codes) sizes(c) += 1;
    Eigen::MatrixXd per_group = Eigen::MatrixXd::Zero(groups, n);
    if (covariate < 0) {
        for (Eigen::Index i = 0; i < n; ++i)
            per_group(g.codes[static_cast<std::size_t>(i)], i) = 1 / sizes(g.codes[static_cast<std::size_t>(i)]);
        if (means == PairwiseMeans::Plain) return {per_group, {}};
        std::vector<ModelVariable> at_mean = d.variables;
        for (auto& v : at_mean)
            if (!v.is_factor())
                std::fill(v.values.begin(), v.values.end(), Eigen::Map<const Eigen::VectorXd>(v.values.data(), n).mean());
        const Eigen::MatrixXd rows = per_group * design_columns(d, at_mean);
        return {rows * coefficients, rows * xtx_inverse};
    }
    const std::vector<double>& x = d.variables[static_cast<std::size_t>(covariate)].values;
    Eigen::VectorXd mean = Eigen::VectorXd::Zero(groups), sxx = Eigen::VectorXd::Zero(groups);
    for (Eigen::Index i = 0; i < n; ++i) mean(g.codes[static_cast<std::size_t>(i)]) += x[static_cast<std::size_t>(i)];
    mean = mean.cwiseQuotient(sizes);
    for (Eigen::Index i = 0; i < n; ++i) {
        const double dx = x[static_cast<std::size_t>(i)] - mean(g.codes[static_cast<std::size_t>(i)]);
        sxx(g.codes[static_cast<std::size_t>(i)]) += dx * dx;
    }
    for (Eigen::Index i = 0; i < n; ++i) {
        const int c = g.codes[static_cast<std::size_t>(i)];
        per_group(c, i) = (x[static_cast<std::size_t>(i)] - mean(c)) / sxx(c);
    }
    const Eigen::MatrixXd rows = per_group * d.x;
    return {rows * coefficients, rows * xtx_inverse};
}

struct Scratch {
    std::vector<int> perm, inverse;
    Eigen::MatrixXd gathered, rows;
    CellSums::Scratch cells;
};

// A permutation's group rows, op P R: the product of op's moved columns with
// the residuals (groups x n x p), or, when that is the more work, from the
// moved residuals' products with the design or sums over its cells
// (model_cells.hpp), which op's rows are combinations of.
class MovedRows {
public:
    MovedRows(const ModelDesign& d, const GroupOperator& g, const Eigen::MatrixXd& residuals, ModelTestOptions::Sums sums)
        : g_(g), residuals_(residuals) {
        using Sums = ModelTestOptions::Sums;
        CellLayout layout = cell_layout(d);
        const double products = static_cast<double>(g.op.rows()) * static_cast<double>(residuals.size());
        if (sums == Sums::Chosen ? cell_sums_work(layout, d, 1, 0, residuals.cols()) >= products : sums != Sums::Cells) return;
        if (g.on_design.size() == 0) {  // plain means: each cell's share of each group
            on_cells_ = Eigen::MatrixXd::Zero(g.op.rows(), layout.cells);
            for (Eigen::Index i = 0; i < g.op.cols(); ++i)
                on_cells_.col(layout.cell_of[static_cast<std::size_t>(i)]) = g.op.col(i);
        }
        cells_ = std::make_unique<CellSums>(d, std::move(layout), std::vector<CellSums::Term>{{&residuals, nullptr, 0}});
    }
    void rows(const std::vector<int>& perm, Scratch& s) const {
        const auto n = static_cast<Eigen::Index>(perm.size());
        if (cells_) {
            cells_->move(perm, s.cells);
            if (on_cells_.size() > 0) s.rows.noalias() = on_cells_ * cells_->cell_sums(0, s.cells);
            else s.rows.noalias() = g_.on_design * cells_->design_products(0, s.cells);
            return;
        }
        s.inverse.resize(perm.size());
        for (Eigen::Index i = 0; i < n; ++i)
            s.inverse[static_cast<std::size_t>(perm[static_cast<std::size_t>(i)])] = static_cast<int>(i);
        s.gathered.resize(g_.op.rows(), n);
        for (Eigen::Index l = 0; l < n; ++l) s.gathered.col(l) = g_.op.col(s.inverse[static_cast<std::size_t>(l)]);
        s.rows.noalias() = s.gathered * residuals_;
    }

private:
    const GroupOperator& g_;
    const Eigen::MatrixXd& residuals_;
    std::unique_ptr<CellSums> cells_;
    Eigen::MatrixXd on_cells_;
};

// The statistics of one set of group rows: per pair the distance and, for
// slopes, the difference of lengths and the angle in degrees.
void pair_statistics(const Eigen::MatrixXd& rows, bool slopes, double* stats) {
    const Eigen::Index groups = rows.rows();
    int s = 0;
    for (Eigen::Index a = 0; a < groups; ++a)
        for (Eigen::Index b = a + 1; b < groups; ++b) {
            stats[s++] = (rows.row(a) - rows.row(b)).norm();
            if (!slopes) continue;
            const double la = rows.row(a).norm(), lb = rows.row(b).norm();
            stats[s++] = std::fabs(la - lb);
            const double r = std::clamp(rows.row(a).dot(rows.row(b)) / (la * lb), -1.0, 1.0);
            stats[s++] = std::acos(r) * 180 / std::numbers::pi;
        }
}

// The histograms' titles of the comparisons, in the order of pair_statistics.
std::vector<std::string> statistic_names(const Grouping& g, bool slopes) {
    std::vector<std::string> names;
    for (std::size_t a = 0; a < g.levels.size(); ++a)
        for (std::size_t b = a + 1; b < g.levels.size(); ++b) {
            const std::string pair = g.levels[a] + " and " + g.levels[b];
            names.push_back(std::string(slopes ? "Slopes" : "Means") + " of " + pair + ": distance");
            if (!slopes) continue;
            names.push_back("Slopes of " + pair + ": difference of lengths");
            names.push_back("Slopes of " + pair + ": angle (degrees)");
        }
    return names;
}

PairwiseTest test_of(const PermutationResult& r, const EffectSample& sample, const std::vector<double>& observed, std::size_t s,
                     long long nperm) {
    PairwiseTest t;
    t.observed = observed[s];
    t.count_ge = r.counts_ge[s];
    t.p = (static_cast<double>(t.count_ge) + 1) / (static_cast<double>(nperm) + 1);
    t.z = sample.z(r, s, observed[s]);
    return t;
}

}  // namespace

PairwiseResult compare_groups(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type,
                              const std::string& factor, PairwiseMeans means, long long nperm, int loop,
                              ModelTestOptions::Sums sums) {
    const Grouping g = grouping_of(design, factor);
    const int cov = means == PairwiseMeans::Plain ? -1 : slope_covariate(design, g);
    Eigen::VectorXd sizes;
    const GroupOperator ops = group_operator(design, g, cov, means, sizes);
    const Eigen::MatrixXd& op = ops.op;
    const NullModel null = last_term_null_model(shapes, design, type);
    const Eigen::MatrixXd base = op * null.fitted;
    const bool slopes = cov >= 0;
    const auto groups = static_cast<Eigen::Index>(g.levels.size());
    const std::size_t per_pair = slopes ? 3 : 1, npairs = static_cast<std::size_t>(groups * (groups - 1) / 2);
    std::vector<double> observed(per_pair * npairs);
    pair_statistics(op * shapes, slopes, observed.data());
    const MovedRows moved(design, ops, null.residuals, sums);
    EffectSample sample(engine.options(), nperm, observed.size());
    if (PermutationRecorder* recorder = engine.options().recorder)
        recorder->name_statistics(loop, statistic_names(g, slopes), PValueRule::ReachedWithObserved);
    auto result = engine.run<Scratch>(
        nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater), [] { return std::make_unique<Scratch>(); },
        [&](Scratch& s, long long index, Rng& rng, double* stats) {
            randperm(s.perm, static_cast<int>(shapes.rows()), rng);
            moved.rows(s.perm, s);
            s.rows += base;
            pair_statistics(s.rows, slopes, stats);
            sample.note(index, stats);
            return false;
        },
        loop, sample.engine_keeps());
    PairwiseResult out;
    out.factor = factor;
    out.covariate = slopes ? design.variables[static_cast<std::size_t>(cov)].name : "";
    out.means = means;
    out.groups = g.levels;
    out.nperm = nperm;
    const Eigen::MatrixXd rows = op * shapes;
    for (Eigen::Index a = 0; a < groups; ++a) {
        out.sizes.push_back(sizes(a));
        out.lengths.push_back(rows.row(a).norm());
    }
    std::size_t s = 0;
    for (Eigen::Index a = 0; a < groups; ++a)
        for (Eigen::Index b = a + 1; b < groups; ++b) {
            GroupPair p{g.levels[static_cast<std::size_t>(a)], g.levels[static_cast<std::size_t>(b)], {}, {}, {}};
            p.distance = test_of(result, sample, observed, s++, nperm);
            if (slopes) {
                p.length = test_of(result, sample, observed, s++, nperm);
                p.angle = test_of(result, sample, observed, s++, nperm);
            }
            out.pairs.push_back(p);
        }
    return out;
}

}  // namespace quillan
