#include "analyses/linear_models/linear_model.hpp"

#include "analyses/linear_models/model_cells.hpp"
#include "analyses/permutation_recorder.hpp"
#include "geometry/paced_basis.hpp"
#include "platform/error.hpp"
#include "platform/random.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

namespace quillan {

namespace {

Eigen::MatrixXd columns_of(const Eigen::MatrixXd& x, const std::vector<int>& cols) {
    Eigen::MatrixXd out(x.rows(), static_cast<Eigen::Index>(cols.size()));
    for (std::size_t j = 0; j < cols.size(); ++j) out.col(static_cast<Eigen::Index>(j)) = x.col(cols[j]);
    return out;
}

// An orthonormal basis of the columns of x (independent columns).
Eigen::MatrixXd basis_of(const Eigen::MatrixXd& x) {
    if (x.cols() == 0) return Eigen::MatrixXd(x.rows(), 0);
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(x);
    return qr.householderQ() * Eigen::MatrixXd::Identity(x.rows(), x.cols());
}

// x less its projection on the columns of the orthonormal q.  A term of
// thousands of columns (the individuals of a symmetry table) is projected
// a panel of columns at a time, each a point where the action may stop.
void project_off(Eigen::MatrixXd& x, const Eigen::MatrixXd& q, const std::function<void()>& stop_point) {
    constexpr Eigen::Index kPanel = 64;
    if (x.cols() < 2 * kPanel) {
        x -= q * (q.transpose() * x);
        return;
    }
    for (Eigen::Index j = 0; j < x.cols(); j += kPanel) {
        stop_point();
        auto panel = x.middleCols(j, std::min(kPanel, x.cols() - j));
        panel -= q * (q.transpose() * panel);
    }
}

// What one term's permutations need: [D, Q] where D is the basis of what
// the term adds to its reduced model and Q that of the whole model, and the
// residuals R its permutations move.  With few specimens and many
// coordinates, the n x n forms instead: DD' and R R' (QQ' is every term's).
struct TermBasis {
    int df = 0;
    Eigen::MatrixXd w;
    Eigen::MatrixXd residuals;
    double residual_norm2 = 0;
    Eigen::MatrixXd added_hat, gram;
};

using Sums = ModelTestOptions::Sums;

}  // namespace

struct PreparedModel {
    int n = 0, rank = 0;
    std::vector<TermBasis> terms;
    Sums sums = Sums::Products;
    Eigen::MatrixXd model_hat;
    std::unique_ptr<CellSums> cells;
};

namespace {

using Prepared = PreparedModel;

// A permutation moves the residuals' rows, so with P the permutation the
// sums of squares are |D'PR|^2 and |Q'PR|^2: products of (df + rank) x n by
// n x p; or, as sum over a, b of (DD')[a,b] (RR')[perm a, perm b], n^2/2
// terms of each whatever p is; or from the cell sums of the moved rows
// (model_cells.hpp), about n p additions per monomial of the design for all
// terms at once.  The least work is chosen; the forms only while their
// n x n matrices are small (1.3 MB each at 400 specimens), so that memory
// grows with n, not n^2.
// The residuals of `y` about the intercept: its column means, or in a
// generalized model its projection on the transformed intercept, the
// first column of the design `x`.
Eigen::MatrixXd about_intercept(const Eigen::MatrixXd& y, const Eigen::MatrixXd& x, bool generalized) {
    if (!generalized) return y.rowwise() - y.colwise().mean();
    const Eigen::VectorXd q = x.col(0).normalized();
    return y - q * (q.transpose() * y);
}

struct Work {
    double products = 0, forms = 0;
    int df = 0;
};

Work products_and_forms(const Prepared& p, Eigen::Index coordinates) {
    constexpr int kLargestForms = 400;
    Work w;
    for (const auto& t : p.terms) {
        w.products += static_cast<double>(t.df + p.rank) * static_cast<double>(coordinates) * p.n;
        w.df += t.df;
    }
    w.forms = p.n <= kLargestForms ? 2.0 * p.n * p.n * static_cast<double>(p.terms.size()) : w.products;
    return w;
}

Sums least_work(const Prepared& p, const ModelDesign& d, const CellLayout& layout, Eigen::Index coordinates, bool generalized) {
    const Work w = products_and_forms(p, coordinates);
    // The columns of a generalized design are no functions of the cells.
    const double cells =
        generalized ? w.products + w.forms : cell_sums_work(layout, d, static_cast<int>(p.terms.size()), w.df, coordinates);
    if (cells < w.products && cells < w.forms) return Sums::Cells;
    return w.forms < w.products ? Sums::Forms : Sums::Products;
}

// The bases are decompositions of the whole design: for a factor of
// thousands of levels (the individuals of a symmetry table) each takes
// seconds, so each is a step, and each panel of its columns a point, where
// the action may stop.
// These are each term's bases, on a design `x` of independent columns.
Prepared prepare_bases(const Eigen::MatrixXd& y, const Eigen::MatrixXd& x, const std::vector<TermModels>& models,
                       Randomization randomization, const PermutationEngine& engine, bool generalized = false) {
    Prepared p;
    p.n = static_cast<int>(y.rows());
    p.rank = static_cast<int>(x.cols());
    const auto steps = static_cast<long long>(2 * models.size() + 1);
    long long done = 0;
    const auto stop_point = [&] { engine.step(done, steps); };
    const auto paced = [&](const Eigen::MatrixXd& m) {
        const Eigen::MatrixXd q = paced_basis(m, stop_point);
        ++done;
        return q;
    };
    const Eigen::MatrixXd qfull = paced(x);
    const Eigen::MatrixXd centred = about_intercept(y, x, generalized);
    for (const TermModels& m : models) {
        TermBasis t;
        const Eigen::MatrixXd qr = paced(columns_of(x, m.reduced));
        std::vector<int> added;
        for (int c : m.full)
            if (std::find(m.reduced.begin(), m.reduced.end(), c) == m.reduced.end()) added.push_back(c);
        Eigen::MatrixXd extra = columns_of(x, added);
        project_off(extra, qr, stop_point);
        const Eigen::MatrixXd diff = paced(extra);
        t.df = static_cast<int>(diff.cols());
        t.w.resize(p.n, diff.cols() + qfull.cols());
        t.w << diff, qfull;
        t.residuals = randomization == Randomization::Rows ? centred : Eigen::MatrixXd(y - qr * (qr.transpose() * y));
        t.residual_norm2 = t.residuals.squaredNorm();
        p.terms.push_back(std::move(t));
    }
    return p;
}

void prepare_forms(Prepared& p) {
    p.model_hat = p.terms.empty() ? Eigen::MatrixXd() : Eigen::MatrixXd(p.terms.front().w.rightCols(p.rank));
    p.model_hat = p.model_hat * p.model_hat.transpose();
    for (auto& t : p.terms) {
        const auto d = t.w.leftCols(t.df);
        t.added_hat = d * d.transpose();
        t.gram = t.residuals * t.residuals.transpose();
    }
}

Prepared prepare(const Eigen::MatrixXd& y, const ModelDesign& d, const ModelTestOptions& test, const PermutationEngine& engine) {
    Prepared p = prepare_bases(y, d.x, term_models(d, test.ss_type), test.randomization, engine, test.generalized);
    CellLayout layout = cell_layout(d);
    p.sums = test.sums == Sums::Chosen ? least_work(p, d, layout, y.cols(), test.generalized) : test.sums;
    if (test.generalized && p.sums == Sums::Cells) throw QuillanError("sums over cells asked of a generalized model");
    if (p.sums == Sums::Cells) {
        std::vector<CellSums::Term> terms;
        for (const auto& t : p.terms) terms.push_back({&t.residuals, &t.w, t.df});
        p.cells = std::make_unique<CellSums>(d, std::move(layout), terms);
    }
    if (p.sums == Sums::Forms) prepare_forms(p);
    return p;
}

// Sum over a, b of h1[a,b] g[perm a, perm b] and the same of h2, every
// matrix symmetric: the diagonal once and each pair below it twice.  Four
// running sums each, so that the additions need not wait on each other.
std::pair<double, double> permuted_forms(const Eigen::MatrixXd& h1, const Eigen::MatrixXd& h2, const Eigen::MatrixXd& g,
                                         const std::vector<int>& perm) {
    const int n = static_cast<int>(perm.size());
    const int* pi = perm.data();
    double diagonal1 = 0, diagonal2 = 0, below1 = 0, below2 = 0;
    for (int a = 0; a < n; ++a) {
        const double* c1 = h1.col(a).data();
        const double* c2 = h2.col(a).data();
        const double* ga = g.col(pi[a]).data();
        double x[4] = {0, 0, 0, 0}, y[4] = {0, 0, 0, 0};
        int b = 0;
        for (; b + 4 <= a; b += 4)
            for (int k = 0; k < 4; ++k) {
                const double v = ga[pi[b + k]];
                x[k] += c1[b + k] * v;
                y[k] += c2[b + k] * v;
            }
        for (; b < a; ++b) {
            const double v = ga[pi[b]];
            x[0] += c1[b] * v;
            y[0] += c2[b] * v;
        }
        below1 += (x[0] + x[1]) + (x[2] + x[3]);
        below2 += (y[0] + y[1]) + (y[2] + y[3]);
        diagonal1 += c1[a] * ga[pi[a]];
        diagonal2 += c2[a] * ga[pi[a]];
    }
    return {diagonal1 + 2 * below1, diagonal2 + 2 * below2};
}

// A worker's scratch space.
struct TermScratch {
    std::vector<int> perm, inverse;
    Eigen::MatrixXd gathered, product;
    std::vector<double> ss, rss;
    CellSums::Scratch cells;
    std::unique_ptr<TableCompanion::Work> companion;
};

void inverse_of(const std::vector<int>& perm, std::vector<int>& inverse) {
    inverse.resize(perm.size());
    for (std::size_t i = 0; i < perm.size(); ++i) inverse[static_cast<std::size_t>(perm[i])] = static_cast<int>(i);
}

// Term j's SS and residual SS by products or forms, its residuals' rows
// moved by `perm` (null: unmoved); the products read the inverse of `perm`
// from `s.inverse`.
void one_term_sums(const Prepared& p, std::size_t j, const std::vector<int>* perm, TermScratch& s, double& ss, double& rss) {
    const TermBasis& t = p.terms[j];
    if (perm && p.sums == Sums::Forms) {
        const auto [added, model] = permuted_forms(t.added_hat, p.model_hat, t.gram, *perm);
        ss = added;
        rss = t.residual_norm2 - model;
        return;
    }
    if (perm) {
        s.gathered.resize(t.w.rows(), t.w.cols());
        for (int l = 0; l < p.n; ++l) s.gathered.row(l) = t.w.row(s.inverse[static_cast<std::size_t>(l)]);
        s.product.noalias() = s.gathered.transpose() * t.residuals;
    } else {
        s.product.noalias() = t.w.transpose() * t.residuals;
    }
    ss = s.product.topRows(t.df).squaredNorm();
    rss = t.residual_norm2 - s.product.bottomRows(p.rank).squaredNorm();
}

// The SS and residual SS of every term with the residuals' rows moved by
// `perm` (row i takes the residual of row perm[i]); null: unmoved.
void term_sums(const Prepared& p, const std::vector<int>* perm, TermScratch& s) {
    s.ss.assign(p.terms.size(), 0);
    s.rss.assign(p.terms.size(), 0);
    if (perm && p.sums == Sums::Cells) {
        p.cells->sums(*perm, s.cells, s.ss.data(), s.rss.data());
        for (std::size_t j = 0; j < p.terms.size(); ++j) s.rss[j] = p.terms[j].residual_norm2 - s.rss[j];
        return;
    }
    if (perm && p.sums == Sums::Products) inverse_of(*perm, s.inverse);
    for (std::size_t j = 0; j < p.terms.size(); ++j) one_term_sums(p, j, perm, s, s.ss[j], s.rss[j]);
}

struct Listed {
    std::vector<int> terms;  // the terms with degrees of freedom, in order
    std::vector<int> error;  // per listed term: the term of its denominator, -1 the residuals
};

void f_ratios(const Prepared& p, const Listed& listed, int dfe, const TermScratch& s, double* f) {
    for (std::size_t i = 0; i < listed.terms.size(); ++i) {
        const auto j = static_cast<std::size_t>(listed.terms[i]);
        const int e = listed.error[i];
        const double denominator =
            e < 0 ? s.rss[j] / dfe : s.ss[static_cast<std::size_t>(e)] / p.terms[static_cast<std::size_t>(e)].df;
        f[i] = (s.ss[j] / p.terms[j].df) / denominator;
    }
}

Listed listed_terms(const Prepared& p, const ModelDesign& d, const ModelTestOptions& test) {
    Listed l;
    for (std::size_t j = 0; j < p.terms.size(); ++j) {
        if (p.terms[j].df == 0) continue;
        const int e = j < test.error.size() ? test.error[j] : -1;
        if (e >= 0 && p.terms[static_cast<std::size_t>(e)].df == 0)
            throw Refused("The error term \"" + d.formula.label(static_cast<std::size_t>(e)) +
                          "\" has no degrees of freedom of its own in this model, so it cannot be a denominator.");
        l.terms.push_back(static_cast<int>(j));
        l.error.push_back(e);
    }
    return l;
}

}  // namespace

NullModel last_term_null_model(const Eigen::MatrixXd& shapes, const ModelDesign& design, SsType type) {
    const Eigen::MatrixXd q = basis_of(columns_of(design.x, term_models(design, type).back().reduced));
    NullModel m;
    m.fitted = q * (q.transpose() * shapes);
    m.residuals = shapes - m.fitted;
    return m;
}

RegressionScores regression_scores(const Eigen::MatrixXd& shapes, const ModelDesign& design) {
    RegressionScores out;
    const auto first = [&](bool factor) {
        for (std::size_t v = 0; v < design.variables.size(); ++v)
            if (design.variables[v].is_factor() == factor) return static_cast<int>(v);
        return -1;
    };
    const int cov = first(false), factor = first(true);
    if (cov < 0) return out;
    const Eigen::Index n = shapes.rows();
    const ModelVariable& c = design.variables[static_cast<std::size_t>(cov)];
    const Eigen::Map<const Eigen::VectorXd> x(c.values.data(), n);
    const Eigen::MatrixXd q = basis_of(design.x);
    const Eigen::MatrixXd fitted = q * (q.transpose() * shapes);
    // The covariate first, then the model's columns that it and the ones
    // before leave anything of (its own column is one of them, and goes),
    // as R's least squares keeps the columns of a rank-deficient design.
    Eigen::MatrixXd kept(n, design.x.cols() + 1), orthonormal(n, design.x.cols() + 1);
    Eigen::Index k = 0;
    for (Eigen::Index j = -1; j < design.x.cols(); ++j) {
        const Eigen::VectorXd column = j < 0 ? Eigen::VectorXd(x) : Eigen::VectorXd(design.x.col(j));
        Eigen::VectorXd rest = column;
        for (Eigen::Index i = 0; i < k; ++i) rest -= orthonormal.col(i).dot(rest) * orthonormal.col(i);
        if (rest.norm() <= 1e-7 * column.norm()) continue;
        kept.col(k) = column;
        orthonormal.col(k++) = rest.normalized();
    }
    const Eigen::RowVectorXd b = kept.leftCols(k).colPivHouseholderQr().solve(fitted).row(0);
    const Eigen::VectorXd direction = b.transpose() / b.norm();
    const Eigen::VectorXd score = (shapes.rowwise() - shapes.colwise().mean()) * direction;
    out.covariate = design.formula.variables[static_cast<std::size_t>(cov)].label();
    out.x = c.values;
    out.score.assign(score.data(), score.data() + n);
    if (factor >= 0) {
        const ModelVariable& f = design.variables[static_cast<std::size_t>(factor)];
        out.factor = design.formula.variables[static_cast<std::size_t>(factor)].label();
        out.levels = f.levels;
        out.group_of = f.codes;
    }
    return out;
}

ModelTable test_linear_model(PermutationEngine& engine, const Eigen::MatrixXd& shapes, const ModelDesign& design,
                             const ModelTestOptions& test, int loop, const TableCompanion* companion) {
    Prepared p = prepare(shapes, design, test, engine);
    const Listed listed = listed_terms(p, design, test);
    ModelTable table;
    table.residual_df = p.n - p.rank;
    table.total_df = p.n - 1;
    table.total_ss = about_intercept(shapes, design.x, test.generalized).squaredNorm();
    table.nperm = test.nperm;
    TermScratch observed;
    term_sums(p, nullptr, observed);
    if (p.sums == Sums::Cells)  // the permutations need none of the n-row matrices any more
        for (auto& t : p.terms) t.w = t.residuals = Eigen::MatrixXd();
    table.residual_ss = observed.rss.empty() ? table.total_ss : observed.rss.front();
    std::vector<double> f(listed.terms.size());
    f_ratios(p, listed, table.residual_df, observed, f.data());
    // The companion's statistics follow the F ratios in each permutation's
    // row.  The cell sums of the last term's residuals are the companion's
    // to reuse only when they are the reduced model's residuals.
    std::vector<double> all = f;
    if (companion) all.insert(all.end(), companion->observed().begin(), companion->observed().end());
    const CellSums* shared = p.sums == Sums::Cells && test.randomization == Randomization::Residuals ? p.cells.get() : nullptr;
    const std::size_t last = p.terms.empty() ? 0 : p.terms.size() - 1;

    table.seed = engine.seed();
    const std::vector<Exceeds> how(all.size(), Exceeds::Greater);
    const int dfe = table.residual_df;
    EffectSample sample(engine.options(), test.nperm, all.size());
    if (PermutationRecorder* recorder = engine.options().recorder) {
        std::vector<std::string> names;
        for (int j : listed.terms)
            names.push_back(names.size() < test.statistic_names.size()
                                ? test.statistic_names[names.size()]
                                : "Linear model: F ratio of " + design.formula.label(static_cast<std::size_t>(j)));
        if (companion)
            for (auto& name : companion->names()) names.push_back(std::move(name));
        recorder->name_statistics(loop, names, PValueRule::ReachedWithObserved);
    }
    auto result = engine.run<TermScratch>(
        test.nperm, all, how,
        [companion] {
            auto s = std::make_unique<TermScratch>();
            if (companion) s->companion = companion->work();
            return s;
        },
        [&](TermScratch& s, long long index, Rng& rng, double* stats) {
            randperm(s.perm, p.n, rng);
            term_sums(p, &s.perm, s);
            f_ratios(p, listed, dfe, s, stats);
            if (companion)
                companion->statistics(s.perm, shared, last, shared ? &s.cells : nullptr, *s.companion, stats + f.size());
            sample.note(index, stats);
            return false;
        },
        loop, sample.engine_keeps());
    for (std::size_t i = 0; i < listed.terms.size(); ++i) {
        const auto j = static_cast<std::size_t>(listed.terms[i]);
        ModelTermRow row;
        row.label = design.formula.label(j);
        row.term = static_cast<int>(j);
        row.df = p.terms[j].df;
        row.ss = observed.ss[j];
        row.ms = row.ss / row.df;
        row.rsq = row.ss / table.total_ss;
        row.f = f[i];
        row.count_ge = result.counts_ge[i];
        row.p = (static_cast<double>(row.count_ge) + 1) / (static_cast<double>(test.nperm) + 1);
        row.z = sample.z(result, i, f[i]);
        if (listed.error[i] >= 0) row.error = design.formula.label(static_cast<std::size_t>(listed.error[i]));
        table.terms.push_back(row);
    }
    for (std::size_t i = f.size(); i < all.size(); ++i) {
        table.companion.count_ge.push_back(result.counts_ge[i]);
        table.companion.z.push_back(sample.z(result, i, all[i]));
    }
    return table;
}

namespace {
struct SumsScratch : TermPermutationSums::Scratch {
    TermScratch sums;
};
}  // namespace

TermPermutationSums::TermPermutationSums(const Eigen::MatrixXd& y, const Eigen::MatrixXd& x,
                                         const std::vector<TermModels>& models, const PermutationEngine& engine)
    : p_(std::make_unique<PreparedModel>(prepare_bases(y, x, models, Randomization::Residuals, engine))) {
    const Work w = products_and_forms(*p_, y.cols());
    p_->sums = w.forms < w.products ? Sums::Forms : Sums::Products;
    if (p_->sums == Sums::Forms) prepare_forms(*p_);
}

TermPermutationSums::~TermPermutationSums() = default;

int TermPermutationSums::df(std::size_t term) const { return p_->terms[term].df; }

std::unique_ptr<TermPermutationSums::Scratch> TermPermutationSums::scratch() const { return std::make_unique<SumsScratch>(); }

std::pair<double, double> TermPermutationSums::sums(std::size_t term, const std::vector<int>* perm, Scratch& scratch) const {
    TermScratch& s = static_cast<SumsScratch&>(scratch).sums;
    if (perm && p_->sums == Sums::Products) inverse_of(*perm, s.inverse);
    double ss = 0, rss = 0;
    one_term_sums(*p_, term, perm, s, ss, rss);
    return {ss, rss};
}

}  // namespace quillan
