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
// `on_design` is L (groups x q): a permutation then needs only X'PR.  The
// coefficients are those of `d`; the fitted values are those of `columns`'
// design, the same as `d` but after a generalized model, where `d` holds
// the transformed columns and `columns` the specimens' own.
struct GroupOperator {
    Eigen::MatrixXd op, on_design;
};

GroupOperator group_operator(const ModelDesign& d, const ModelDesign& columns, const Grouping& g, int covariate,
                             PairwiseMeans means, Eigen::VectorXd& sizes) {
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
        const Eigen::MatrixXd rows = per_group * design_columns(columns, at_mean);
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
    const Eigen::MatrixXd rows = per_group * columns.x;
    return {rows * coefficients, rows * xtx_inverse};
}

struct PairScratch : TableCompanion::Work {
    std::vector<int> perm, inverse;
    Eigen::MatrixXd gathered, rows;
    CellSums::Scratch cells;
};

// A permutation's group rows, op P R: the product of op's moved columns with
// the residuals (groups x n x p), or, when that is the more work, from the
// moved residuals' products with the design or sums over its cells
// (model_cells.hpp), which op's rows are combinations of.  When the model's
// table moves the same residuals by cell sums on the same permutation, its
// sums serve as they are.
class MovedRows {
public:
    MovedRows(const ModelDesign& d, const GroupOperator& g, const Eigen::MatrixXd& residuals, ModelTestOptions::Sums sums)
        : g_(g), residuals_(residuals) {
        using Sums = ModelTestOptions::Sums;
        CellLayout layout = cell_layout(d);
        if (g.on_design.size() == 0) {  // plain means: each cell's share of each group
            on_cells_ = Eigen::MatrixXd::Zero(g.op.rows(), layout.cells);
            for (Eigen::Index i = 0; i < g.op.cols(); ++i)
                on_cells_.col(layout.cell_of[static_cast<std::size_t>(i)]) = g.op.col(i);
        }
        const double products = static_cast<double>(g.op.rows()) * static_cast<double>(residuals.size());
        if (sums == Sums::Chosen ? cell_sums_work(layout, d, 1, 0, residuals.cols()) >= products : sums != Sums::Cells) return;
        cells_ = std::make_unique<CellSums>(d, std::move(layout), std::vector<CellSums::Term>{{&residuals, nullptr, 0}});
    }
    void rows(const std::vector<int>& perm, const CellSums* shared, std::size_t term, CellSums::Scratch* moved,
              PairScratch& s) const {
        if (shared && moved) return from_cells(*shared, term, *moved, s);
        if (cells_) {
            cells_->move(perm, s.cells);
            return from_cells(*cells_, 0, s.cells, s);
        }
        const auto n = static_cast<Eigen::Index>(perm.size());
        s.inverse.resize(perm.size());
        for (Eigen::Index i = 0; i < n; ++i)
            s.inverse[static_cast<std::size_t>(perm[static_cast<std::size_t>(i)])] = static_cast<int>(i);
        s.gathered.resize(g_.op.rows(), n);
        for (Eigen::Index l = 0; l < n; ++l) s.gathered.col(l) = g_.op.col(s.inverse[static_cast<std::size_t>(l)]);
        s.rows.noalias() = s.gathered * residuals_;
    }

private:
    void from_cells(const CellSums& cells, std::size_t term, CellSums::Scratch& moved, PairScratch& s) const {
        if (on_cells_.size() > 0) s.rows.noalias() = on_cells_ * cells.cell_sums(term, moved);
        else s.rows.noalias() = g_.on_design * cells.design_products(term, moved);
    }

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
std::vector<std::string> statistic_names(const std::vector<std::string>& levels, bool slopes) {
    std::vector<std::string> names;
    for (std::size_t a = 0; a < levels.size(); ++a)
        for (std::size_t b = a + 1; b < levels.size(); ++b) {
            const std::string pair = levels[a] + " and " + levels[b];
            names.push_back(std::string(slopes ? "Slopes" : "Means") + " of " + pair + ": distance");
            if (!slopes) continue;
            names.push_back("Slopes of " + pair + ": difference of lengths");
            names.push_back("Slopes of " + pair + ": angle (degrees)");
        }
    return names;
}

}  // namespace

PairwiseTest test_of(double observed, long long count_ge, double z, long long nperm) {
    return {observed, z, (static_cast<double>(count_ge) + 1) / (static_cast<double>(nperm) + 1), count_ge};
}

namespace {

std::vector<ReportTable::Column> pair_columns(const std::vector<std::string>& groups,
                                              const std::vector<PairColumns>& statistics) {
    std::size_t w = 6;
    for (const auto& g : groups) w = std::max(w, g.size() + 1);
    std::vector<ReportTable::Column> columns{{"", w, true}, {"", w + 1, true}};
    for (const PairColumns& c : statistics) {
        columns.push_back({c.header, 11, false, c.key, false, c.gap});
        columns.push_back({"Z", 9, false, c.key + "_Z"});
        columns.push_back({c.p_header, c.p_width, false, c.key + "_p"});
    }
    return columns;
}

}  // namespace

PairsTable::PairsTable(const std::vector<std::string>& groups, std::vector<PairColumns> statistics)
    : statistics_(std::move(statistics)), table_(pair_columns(groups, statistics_)) {
    table_.trim_lines();
}

void PairsTable::add(const std::string& model, const std::string& first, const std::string& second,
                     const std::vector<PairwiseTest>& tests) {
    std::vector<ReportTable::Cell> cells{ReportTable::words(first), ReportTable::words(" " + second)};
    for (std::size_t s = 0; s < statistics_.size(); ++s) {
        const PairColumns& c = statistics_[s];
        const PairwiseTest& t = tests.at(s);
        cells.push_back(ReportTable::as(c.format, t.observed));
        cells.push_back(ReportTable::as("%.4f", t.z));
        cells.push_back({formatted("%.4g", t.p) + std::string(c.p_tail, ' '), t.p});
    }
    table_.row(model, std::move(cells));
    tests_.push_back(tests);
}

void PairsTable::record(ResultRecord& rec, long long nperm) const {
    table_.record(rec, [&](std::size_t i, RecordedModel& m) {
        for (std::size_t s = 0; s < statistics_.size(); ++s) {
            const PairwiseTest& t = tests_[i][s];
            m.test(statistics_[s].key, t.observed, t.count_ge, t.count_ge, nperm, t.p, false);
        }
    });
}

class GroupRows::Plan {
public:
    // The transformed columns of a generalized model are no functions of
    // the cells, so its permutations take the products.
    Plan(const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type, const std::string& factor, PairwiseMeans means,
         ModelTestOptions::Sums sums, const ModelDesign* untransformed)
        : g(grouping_of(design, factor)),
          cov(means == PairwiseMeans::Plain ? -1 : slope_covariate(design, g)),
          covariate(cov >= 0 ? design.variables[static_cast<std::size_t>(cov)].name : ""),
          ops(group_operator(design, untransformed ? *untransformed : design, g, cov, means, sizes)),
          null(last_term_null_model(shapes, design, type)),
          base(ops.op * null.fitted),
          rows(ops.op * shapes),
          moved(design, ops, null.residuals, untransformed ? ModelTestOptions::Sums::Products : sums) {}

    Grouping g;
    int cov;
    std::string covariate;  // the slopes' covariate; empty: means
    Eigen::VectorXd sizes;
    GroupOperator ops;
    NullModel null;
    Eigen::MatrixXd base, rows;
    MovedRows moved;
};

GroupRows::GroupRows(const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type, const std::string& factor,
                     PairwiseMeans means, ModelTestOptions::Sums sums, const ModelDesign* untransformed)
    : plan_(std::make_unique<Plan>(shapes, design, type, factor, means, sums, untransformed)) {}

GroupRows::~GroupRows() = default;

const std::vector<std::string>& GroupRows::groups() const { return plan_->g.levels; }
const std::vector<int>& GroupRows::codes() const { return plan_->g.codes; }
const Eigen::VectorXd& GroupRows::sizes() const { return plan_->sizes; }
const std::string& GroupRows::covariate() const { return plan_->covariate; }
const Eigen::MatrixXd& GroupRows::observed() const { return plan_->rows; }
std::unique_ptr<TableCompanion::Work> GroupRows::work() const { return std::make_unique<PairScratch>(); }

const Eigen::MatrixXd& GroupRows::permuted(const std::vector<int>& perm, const CellSums* cells, std::size_t last,
                                           CellSums::Scratch* moved, TableCompanion::Work& work) const {
    auto& s = static_cast<PairScratch&>(work);
    plan_->moved.rows(perm, cells, last, moved, s);
    s.rows += plan_->base;
    return s.rows;
}

PairwiseComparisons::PairwiseComparisons(const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type,
                                         const std::string& factor, PairwiseMeans means, ModelTestOptions::Sums sums,
                                         const ModelDesign* untransformed)
    : rows_(shapes, design, type, factor, means, sums, untransformed),
      factor_(factor),
      means_(means),
      generalized_(untransformed != nullptr) {
    const std::size_t groups = rows_.groups().size();
    observed_.resize((rows_.covariate().empty() ? 1 : 3) * groups * (groups - 1) / 2);
    pair_statistics(rows_.observed(), !rows_.covariate().empty(), observed_.data());
}

std::vector<std::string> PairwiseComparisons::names() const {
    return statistic_names(rows_.groups(), !rows_.covariate().empty());
}

void PairwiseComparisons::statistics(const std::vector<int>& perm, const CellSums* cells, std::size_t last,
                                     CellSums::Scratch* moved, Work& work, double* stats) const {
    pair_statistics(rows_.permuted(perm, cells, last, moved, work), !rows_.covariate().empty(), stats);
}

PairwiseResult PairwiseComparisons::result(const CompanionCounts& counts, long long nperm) const {
    PairwiseResult out;
    out.factor = factor_;
    out.covariate = rows_.covariate();
    out.means = means_;
    out.generalized = generalized_;
    out.groups = rows_.groups();
    out.nperm = nperm;
    const auto groups = static_cast<Eigen::Index>(out.groups.size());
    for (Eigen::Index a = 0; a < groups; ++a) {
        out.sizes.push_back(rows_.sizes()(a));
        out.lengths.push_back(rows_.observed().row(a).norm());
    }
    std::size_t s = 0;
    const auto next = [&] {
        const PairwiseTest t = test_of(observed_[s], counts.count_ge[s], counts.z[s], nperm);
        ++s;
        return t;
    };
    for (Eigen::Index a = 0; a < groups; ++a)
        for (Eigen::Index b = a + 1; b < groups; ++b) {
            GroupPair pair{out.groups[static_cast<std::size_t>(a)], out.groups[static_cast<std::size_t>(b)], {}, {}, {}};
            pair.distance = next();
            if (!out.covariate.empty()) {
                pair.length = next();
                pair.angle = next();
            }
            out.pairs.push_back(pair);
        }
    return out;
}

PairwiseResult compare_groups(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type,
                              const std::string& factor, PairwiseMeans means, long long nperm, int loop,
                              ModelTestOptions::Sums sums) {
    const PairwiseComparisons c(shapes, design, type, factor, means, sums);
    const std::vector<double>& observed = c.observed();
    EffectSample sample(engine.options(), nperm, observed.size());
    if (PermutationRecorder* recorder = engine.options().recorder)
        recorder->name_statistics(loop, c.names(), PValueRule::ReachedWithObserved);
    auto result = engine.run<PairScratch>(
        nperm, observed, std::vector<Exceeds>(observed.size(), Exceeds::Greater), [] { return std::make_unique<PairScratch>(); },
        [&](PairScratch& s, long long index, Rng& rng, double* stats) {
            randperm(s.perm, static_cast<int>(shapes.rows()), rng);
            c.statistics(s.perm, nullptr, 0, nullptr, s, stats);
            sample.note(index, stats);
            return false;
        },
        loop, sample.engine_keeps());
    CompanionCounts counts;
    for (std::size_t i = 0; i < observed.size(); ++i) {
        counts.count_ge.push_back(result.counts_ge[i]);
        counts.z.push_back(sample.z(result, i, observed[i]));
    }
    return c.result(counts, nperm);
}

}  // namespace quillan
