#include "analyses/linear_models/measurement_error.hpp"

#include "analyses/linear_models/linear_model.hpp"
#include "analyses/permutation_recorder.hpp"
#include "platform/error.hpp"
#include "platform/random.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <tuple>

namespace quillan {

namespace {

int levels_of(const std::vector<int>& codes) { return codes.empty() ? 0 : *std::max_element(codes.begin(), codes.end()) + 1; }

std::string name_of(const std::vector<std::string>& names, int code) {
    return static_cast<std::size_t>(code) < names.size() ? names[static_cast<std::size_t>(code)] : std::to_string(code + 1);
}

// The design's columns in R's order (intercept, subjects 2..S, replicates
// 2..R, groups:replicates 2..G x 2..R), each kept only when it is no
// combination of the columns before it; and where each block starts.
struct Columns {
    Eigen::MatrixXd x;
    std::vector<int> subjects, replicates, interaction;  // column indexes of each block
};

Columns design_columns(const MeasurementErrorDesign& d) {
    const auto n = static_cast<Eigen::Index>(d.subject.size());
    std::vector<Eigen::VectorXd> kept, basis;
    Columns c;
    const auto offer = [&](const Eigen::VectorXd& col, std::vector<int>& block) {
        Eigen::VectorXd r = col;
        for (int pass = 0; pass < 2; ++pass)
            for (const auto& q : basis) r -= q.dot(r) * q;
        if (col.norm() == 0 || r.norm() <= 1e-7 * col.norm()) return;
        basis.push_back(r / r.norm());
        block.push_back(static_cast<int>(kept.size()));
        kept.push_back(col);
    };
    const auto indicator = [&](const std::vector<int>& codes, int level) {
        Eigen::VectorXd v(n);
        for (Eigen::Index i = 0; i < n; ++i) v(i) = codes[static_cast<std::size_t>(i)] == level ? 1.0 : 0.0;
        return v;
    };
    std::vector<int> intercept;
    offer(Eigen::VectorXd::Ones(n), intercept);
    for (int s = 1; s < levels_of(d.subject); ++s) offer(indicator(d.subject, s), c.subjects);
    for (int r = 1; r < levels_of(d.replicate); ++r) offer(indicator(d.replicate, r), c.replicates);
    if (d.grouped())
        for (int r = 1; r < levels_of(d.replicate); ++r)
            for (int g = 1; g < levels_of(d.group); ++g)
                offer(indicator(d.group, g).cwiseProduct(indicator(d.replicate, r)), c.interaction);
    c.x.resize(n, static_cast<Eigen::Index>(kept.size()));
    for (std::size_t j = 0; j < kept.size(); ++j) c.x.col(static_cast<Eigen::Index>(j)) = kept[j];
    return c;
}

std::vector<int> joined(std::initializer_list<const std::vector<int>*> blocks) {
    std::vector<int> out = {0};
    for (const auto* b : blocks) out.insert(out.end(), b->begin(), b->end());
    std::sort(out.begin(), out.end());
    return out;
}

// Within-subject II: the subjects against the whole model without them;
// the replicates after the subjects; their interaction with the groups
// after everything else.
std::vector<TermModels> within_subject_models(const Columns& c, bool grouped) {
    const auto& s = c.subjects;
    const auto& r = c.replicates;
    const auto& gr = c.interaction;
    std::vector<TermModels> m = {{joined({&s, &r, &gr}), joined({&r, &gr})}, {joined({&s, &r}), joined({&s})}};
    if (grouped) m.push_back({joined({&s, &r, &gr}), joined({&s, &r})});
    return m;
}

Eigen::MatrixXd fitted(const Eigen::MatrixXd& x, const Eigen::MatrixXd& y) {
    if (x.cols() == 0) return Eigen::MatrixXd::Zero(y.rows(), y.cols());
    const Eigen::HouseholderQR<Eigen::MatrixXd> qr(x);
    const Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(x.rows(), x.cols());
    return q * (q.transpose() * y);
}

Eigen::MatrixXd columns(const Eigen::MatrixXd& x, const std::vector<int>& cols) {
    Eigen::MatrixXd out(x.rows(), static_cast<Eigen::Index>(cols.size()));
    for (std::size_t j = 0; j < cols.size(); ++j) out.col(static_cast<Eigen::Index>(j)) = x.col(cols[j]);
    return out;
}

// Each row's mean of its level of `codes`.
Eigen::MatrixXd level_means(const Eigen::MatrixXd& y, const std::vector<int>& codes) {
    const int levels = levels_of(codes);
    Eigen::MatrixXd sums = Eigen::MatrixXd::Zero(levels, y.cols());
    Eigen::VectorXd count = Eigen::VectorXd::Zero(levels);
    for (Eigen::Index i = 0; i < y.rows(); ++i) {
        sums.row(codes[static_cast<std::size_t>(i)]) += y.row(i);
        count(codes[static_cast<std::size_t>(i)]) += 1;
    }
    Eigen::MatrixXd out(y.rows(), y.cols());
    for (Eigen::Index i = 0; i < y.rows(); ++i)
        out.row(i) = sums.row(codes[static_cast<std::size_t>(i)]) / count(codes[static_cast<std::size_t>(i)]);
    return out;
}

struct Worker {
    std::vector<int> free, within, scratch;
    std::unique_ptr<TermPermutationSums::Scratch> sums;
};

// The observed SNR of each term and the permutations' counts and effect sizes.
void permutation_tests(PermutationEngine& engine, const TermPermutationSums& sums, const MeasurementErrorDesign& d,
                       long long nperm, int loop, MeasurementErrorResult& out) {
    const std::size_t terms = out.rows.size() - 2;
    const double random_ss = out.rows[terms].ss;
    std::vector<double> observed;
    std::vector<std::string> names;
    for (std::size_t t = 0; t < terms; ++t) {
        out.rows[t].snr = out.rows[t].ss / random_ss;
        observed.push_back(out.rows[t].snr);
        names.push_back("Measurement error: SNR of " + out.rows[t].label);
    }
    if (PermutationRecorder* recorder = engine.options().recorder)
        recorder->name_statistics(loop, names, PValueRule::ReachedWithObserved);
    const WithinSubjects within(d.subject);
    const int n = static_cast<int>(d.subject.size());
    EffectSample sample(engine.options(), nperm, terms);
    out.seed = engine.seed();
    const auto result = engine.run<Worker>(
        nperm, observed, std::vector<Exceeds>(terms, Exceeds::Greater),
        [&sums] {
            auto w = std::make_unique<Worker>();
            w->sums = sums.scratch();
            return w;
        },
        [&](Worker& w, long long index, Rng& rng, double* stats) {
            randperm(w.free, n, rng);
            within.draw(w.within, rng, w.scratch);
            for (std::size_t t = 0; t < terms; ++t) {
                const auto [ss, rss] = sums.sums(t, t == 0 ? &w.free : &w.within, *w.sums);
                stats[t] = ss / rss;
            }
            sample.note(index, stats);
            return false;
        },
        loop, sample.engine_keeps());
    for (std::size_t t = 0; t < terms; ++t) {
        MeasurementErrorRow& r = out.rows[t];
        r.tested = true;
        r.count_ge = result.counts_ge[t];
        r.p = (static_cast<double>(r.count_ge) + 1) / (static_cast<double>(nperm) + 1);
        r.z = sample.z(result, t, r.snr);
    }
}

// The positive real parts of the eigenvalues of a^-1 b, largest first;
// those below 1e-10 are rounding of zero.
std::vector<double> positive_eigenvalues(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
    const Eigen::MatrixXd m = a.partialPivLu().solve(b);
    const Eigen::EigenSolver<Eigen::MatrixXd> es(m, false);
    std::vector<double> out;
    for (Eigen::Index k = 0; k < es.eigenvalues().size(); ++k)
        if (es.eigenvalues()(k).real() > 1e-10) out.push_back(es.eigenvalues()(k).real());
    std::sort(out.rbegin(), out.rend());
    return out;
}

struct Sscp {
    Eigen::MatrixXd between, systematic, error;
};

MultivariateIcc multivariate_icc(const Sscp& s, const MeasurementErrorResult& r, int df_error) {
    MultivariateIcc m;
    const double ns = r.subjects, nr = r.replicates;
    const Eigen::MatrixXd bs = s.between / (ns - 1), bm = s.systematic / (nr - 1), e = s.error / df_error;
    const Eigen::MatrixXd ws = (s.error + s.systematic) / (df_error + nr - 1);
    const Eigen::MatrixXd a[3] = {bs + (nr - 1) * ws, bs + (nr - 1) * e + nr / ns * (bm - e), bs + (nr - 1) * e};
    for (const Eigen::MatrixXd& each : a) {
        Eigen::FullPivLU<Eigen::MatrixXd> lu(each);
        lu.setThreshold(1e-10);
        if (!lu.isInvertible()) {
            m.refusal = "The multivariate ICC is not computed: with " + std::to_string(r.columns) +
                        " shape columns the mean cross-product matrices are singular (of rank " + std::to_string(lu.rank()) +
                        "), so they cannot be inverted; the principal component scores (--me-data pcs) avoid this.";
            return m;
        }
    }
    m.icc = positive_eigenvalues(a[0], bs - ws);
    m.icc_a = positive_eigenvalues(a[1], bs - e);
    m.icc_c = positive_eigenvalues(a[2], bs - e);
    return m;
}

// The ICCs of the dispersions and of the matrices, as RRPP's ICCstats
// finds them with the systematic error as the within-subject term: with
// groups, of the data less their groups' means, the subjects taken after
// the intercept alone.
void intraclass_correlations(const Eigen::MatrixXd& y, const MeasurementErrorDesign& d, const Columns& c,
                             MeasurementErrorResult& r) {
    const MeasurementErrorRow &subjects = r.rows[0], &systematic = r.rows[1], &random = r.rows[r.rows.size() - 2];
    Sscp s;
    const Eigen::MatrixXd full = fitted(c.x, y), by_subject = level_means(y, d.subject);
    if (d.grouped()) {
        const Eigen::MatrixXd less = y - level_means(y, d.group);
        const Eigen::MatrixXd between = level_means(less, d.subject).rowwise() - less.colwise().mean();
        s.between = between.transpose() * between;
    } else {
        const Eigen::MatrixXd between = full - fitted(columns(c.x, joined({&c.replicates})), y);
        s.between = between.transpose() * between;
    }
    const Eigen::MatrixXd sys = fitted(columns(c.x, joined({&c.subjects, &c.replicates})), y) - by_subject;
    s.systematic = sys.transpose() * sys;
    s.error = (y - full).transpose() * (y - full);
    const double msbs = s.between.trace() / subjects.df;
    const double msws = (systematic.ss + random.ss) / (systematic.df + random.df);
    const double msbm = systematic.ms, mse = random.ms;
    const double ns = r.subjects, nr = r.replicates;
    r.icc.icc = (msbs - msws) / (msbs + (nr - 1) * msws);
    r.icc.icc_a = (msbs - mse) / (msbs + (nr - 1) * mse + nr / ns * (msbm - mse));
    r.icc.icc_c = (msbs - mse) / (msbs + (nr - 1) * mse);
    r.multivariate = multivariate_icc(s, r, random.df);
}

// The one-way Procrustes ANOVA of the subjects and its repeatability, r the
// replicates per subject (Lessells and Boag's n0 when they differ).
void repeatability(const Eigen::MatrixXd& y, const MeasurementErrorDesign& d, double total_ss, MeasurementErrorResult& r) {
    const double within = (y - level_means(y, d.subject)).squaredNorm();
    const double n = r.specimens, s = r.subjects;
    std::vector<double> count(static_cast<std::size_t>(r.subjects), 0);
    for (int code : d.subject) count[static_cast<std::size_t>(code)] += 1;
    double squares = 0;
    for (double c : count) squares += c * c;
    r.replicates_per_subject = (n - squares / n) / (s - 1);
    r.ms_among = (total_ss - within) / (s - 1);
    r.ms_within = within / (n - s);
    r.repeatability = (r.ms_among - r.ms_within) / (r.ms_among + (r.replicates_per_subject - 1) * r.ms_within);
}

}  // namespace

WithinSubjects::WithinSubjects(const std::vector<int>& subject) : rows_(static_cast<std::size_t>(levels_of(subject))) {
    for (std::size_t i = 0; i < subject.size(); ++i) rows_[static_cast<std::size_t>(subject[i])].push_back(static_cast<int>(i));
    for (const auto& r : rows_) count_ += r.size();
}

void WithinSubjects::draw(std::vector<int>& perm, Rng& rng, std::vector<int>& scratch) const {
    perm.resize(count_);
    for (const auto& rows : rows_) {
        scratch = rows;
        for (std::size_t k = scratch.size(); k > 1; --k) std::swap(scratch[k - 1], scratch[rng.below(k)]);
        for (std::size_t k = 0; k < rows.size(); ++k) perm[static_cast<std::size_t>(rows[k])] = scratch[k];
    }
}

void check_measurement_error_design(const MeasurementErrorDesign& d) {
    const int subjects = levels_of(d.subject);
    if (subjects < 2) throw Refused("Measurement error needs at least two subjects; the subjects factor has one.");
    if (levels_of(d.replicate) < 2)
        throw Refused("Measurement error needs at least two replicates; the replicates factor has one.");
    std::vector<int> count(static_cast<std::size_t>(subjects), 0), group(static_cast<std::size_t>(subjects), -1);
    for (std::size_t i = 0; i < d.subject.size(); ++i) {
        const auto s = static_cast<std::size_t>(d.subject[i]);
        ++count[s];
        if (!d.grouped()) continue;
        if (group[s] >= 0 && group[s] != d.group[i])
            throw Refused("Subject " + name_of(d.subject_names, d.subject[i]) + " is in two groups (" +
                          name_of(d.group_names, group[s]) + " and " + name_of(d.group_names, d.group[i]) +
                          "): the groups must be groups of subjects.");
        group[s] = d.group[i];
    }
    for (int s = 0; s < subjects; ++s)
        if (count[static_cast<std::size_t>(s)] < 2)
            throw Refused("Subject " + name_of(d.subject_names, s) +
                          " is measured once: every subject needs two or more replicate measurements.");
    if (d.grouped() && levels_of(d.group) < 2) throw Refused("The groups factor has a single group; leave it out.");
}

Eigen::MatrixXd principal_scores(const Eigen::MatrixXd& y, double tolerance) {
    const Eigen::MatrixXd centred = y.rowwise() - y.colwise().mean();
    const Eigen::BDCSVD<Eigen::MatrixXd> svd(centred, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const Eigen::VectorXd sv = svd.singularValues();
    Eigen::Index keep = 0;
    while (keep < sv.size() && sv(keep) > tolerance * sv(0)) ++keep;
    return centred * svd.matrixV().leftCols(keep);
}

MeasurementErrorResult measurement_error_test(PermutationEngine& engine, const Eigen::MatrixXd& y,
                                              const MeasurementErrorDesign& d, long long nperm, int loop) {
    check_measurement_error_design(d);
    const Columns c = design_columns(d);
    const int n = static_cast<int>(y.rows());
    if (c.replicates.empty())
        throw Refused("No subject was measured in two different replicates, so the replicates tell nothing of the error.");
    if (c.x.cols() >= n)
        throw Refused("The model has " + std::to_string(c.x.cols()) + " parameters for " + std::to_string(n) +
                      " specimens: no measurement is left for the random error.");
    const std::vector<TermModels> models = within_subject_models(c, d.grouped());
    const TermPermutationSums sums(y, c.x, models, engine);
    MeasurementErrorResult r;
    r.subjects = levels_of(d.subject);
    r.replicates = levels_of(d.replicate);
    r.specimens = n;
    r.columns = static_cast<int>(y.cols());
    r.nperm = nperm;
    const double total = (y.rowwise() - y.colwise().mean()).squaredNorm();
    const double within = (y - level_means(y, d.subject)).squaredNorm();
    const char* labels[] = {"Subjects", "Systematic ME", "Systematic ME:Groups"};
    double random_ss = total;
    for (std::size_t t = 0; t < models.size(); ++t) {
        MeasurementErrorRow row;
        row.label = labels[t];
        row.df = sums.df(t);
        std::tie(row.ss, random_ss) = sums.sums(t, nullptr, *sums.scratch());
        row.ms = row.ss / row.df;
        row.rsq = row.ss / total;
        row.has_eta = t > 0;
        row.eta = row.ss / within;
        r.rows.push_back(row);
    }
    MeasurementErrorRow random{.label = "Random ME", .df = n - static_cast<int>(c.x.cols()), .ss = random_ss};
    random.ms = random.ss / random.df;
    random.rsq = random.ss / total;
    random.has_eta = true;
    random.eta = random.ss / within;
    r.rows.push_back(random);
    r.rows.push_back({.label = "Total", .df = n - 1, .ss = total});
    permutation_tests(engine, sums, d, nperm, loop, r);
    intraclass_correlations(y, d, c, r);
    repeatability(y, d, total, r);
    return r;
}

}  // namespace quillan
