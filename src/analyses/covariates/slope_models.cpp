#include "analyses/covariates/slope_models.hpp"

#include "analyses/common.hpp"
#include "analyses/covariates/covariate.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/scoring.hpp"
#include "geometry/geometry.hpp"
#include "geometry/shape_table.hpp"
#include "groups/groups.hpp"
#include "platform/console.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <span>

namespace quillan {

namespace {

Matrix row_values(std::initializer_list<double> v) {
    Matrix m(1, static_cast<Eigen::Index>(v.size()));
    Eigen::Index j = 0;
    for (double d : v) m(0, j++) = d;
    return m;
}

double count(long long c) { return static_cast<double>(c); }

// The unexplained sum of one group of rows: its residuals from its own
// consensus go to `res` (n rows of 2k), its covariate `z` less the group's
// mean to `zr` (and the consensus's coordinates to `consensus`, when given),
// and the residuals are regressed on that.  Every sum of a group goes
// through here, so the same rows with the same covariate give the same sum to
// the last bit, observed or shuffled.
double group_unexplained(const ShapeTable& table, std::span<const int> rows, const double* z, ShapeScratch& work, double* res,
                         double* zr, double* consensus = nullptr) {
    const std::size_t n = rows.size();
    const std::size_t m1 = table.coordinates();
    if (n == 1 && !consensus) {
        // A single specimen is its own consensus and lies on any line.
        std::fill(res, res + m1, 0.0);
        zr[0] = 0.0;
        return 0.0;
    }
    consensus_residuals(table, rows, work, res, consensus);
    double zm = 0.0;
    for (std::size_t r = 0; r < n; ++r) zm += z[r];
    zm /= static_cast<double>(n);
    for (std::size_t r = 0; r < n; ++r) zr[r] = z[r] - zm;
    return residual_ss(zr, n, res, m1, static_cast<std::ptrdiff_t>(m1));
}

// The different-slopes sum of any coding of a table's rows, for the
// permutation loops: one per thread, allocating nothing once its buffers
// have grown.
class CodingSlopes {
public:
    // `degenerate` is set when a group has a single specimen or one
    // covariate value for all its specimens.
    double sum(const ShapeTable& table, std::span<const double> codes, const double* clist, bool& degenerate) {
        const std::size_t n = table.rows();
        const std::size_t m1 = table.coordinates();
        if (group_of_.size() < n) {
            group_of_.resize(n);
            members_.resize(n);
            z_.resize(n);
            zr_.resize(n);
            res_.resize(m1 * n);
        }
        const std::size_t ng = number_groups(codes.first(n), std::span<int>(group_of_.data(), n), gcodes_, ssize_);
        if (start_.size() < ng) {
            start_.resize(ng);
            fill_.resize(ng);
        }
        std::size_t at = 0;
        for (std::size_t g = 0; g < ng; ++g) {
            start_[g] = fill_[g] = at;
            at += ssize_[g];
        }
        for (std::size_t i = 0; i < n; ++i) members_[fill_[static_cast<std::size_t>(group_of_[i])]++] = static_cast<int>(i);
        double total = 0.0;
        for (std::size_t g = 0; g < ng; ++g) {
            const std::span<const int> rows(members_.data() + start_[g], ssize_[g]);
            for (std::size_t r = 0; r < rows.size(); ++r) z_[r] = clist[rows[r]];
            if (rows.size() == 1 || !has_two_values(z_.data(), rows.size())) degenerate = true;
            total += group_unexplained(table, rows, z_.data(), work_, res_.data(), zr_.data());
        }
        return total;
    }

private:
    ShapeScratch work_;
    std::vector<int> group_of_, members_;
    std::vector<std::size_t> start_, fill_, ssize_;
    Codes gcodes_;
    std::vector<double> z_, zr_, res_;
};

// The residuals of every group of a grouping, computed once and reused by
// every permutation.
//
// A group's residuals come out in the orientation of its own consensus,
// which its first specimen sets: turning that one specimen turns them all.
// Each group's own lines do not depend on that, but lines through several
// groups' residuals would, so the pooled copy (`totresid`) has every group
// turned so that its consensus best fits the consensus of all the
// specimens, taken in table order.
struct GroupResiduals {
    std::size_t m1 = 0, ntot = 0;
    std::vector<std::size_t> ng, ncum;  // sizes, and ncum[i] = specimens before group i (ngroups + 1 entries)
    std::vector<double> own;            // rows of 2k: each group's residuals as they come, one group after another
    std::vector<double> totresid;       // the same rows, each group turned into the common orientation
    std::vector<double> ztot;           // each group's covariate less its mean, group after group
    std::vector<double> ssunexplain;    // per group

    const double* block(std::size_t i) const { return own.data() + ncum[i] * m1; }
};

// Turns the residual rows of a group (n rows of 2k) by the rotation that
// best fits its consensus `c` onto the reference consensus `ref`.
void turn_onto(const double* c, const double* ref, std::size_t m1, const double* rows, std::size_t n, double* out) {
    double b1 = 0.0, b2 = 0.0;
    for (std::size_t q = 0; q < m1; q += 2) {
        b1 += ref[q] * c[q] + ref[q + 1] * c[q + 1];
        b2 += c[q] * ref[q + 1] - c[q + 1] * ref[q];
    }
    const double theta = std::atan2(b2, b1), cs = std::cos(theta), sn = std::sin(theta);
    for (std::size_t i = 0; i < n * m1; i += 2) {
        const double x = rows[i], y = rows[i + 1];
        out[i] = x * cs - y * sn;
        out[i + 1] = x * sn + y * cs;
    }
}

GroupResiduals group_residuals(const ShapeTable& table, const CovGroups& groups) {
    check_slope_groups(groups);
    GroupResiduals p;
    const std::size_t ngroups = groups.size();
    p.m1 = table.coordinates();
    p.ncum.assign(ngroups + 1, 0);
    for (std::size_t i = 0; i < ngroups; ++i) {
        p.ng.push_back(groups.rows[i].size());
        p.ncum[i + 1] = p.ncum[i] + p.ng[i];
    }
    p.ntot = p.ncum[ngroups];
    p.own.resize(p.m1 * p.ntot);
    p.totresid.resize(p.m1 * p.ntot);
    p.ztot.resize(p.ntot);
    ShapeScratch work;
    std::vector<int> all;
    for (const auto& rows : groups.rows) all.insert(all.end(), rows.begin(), rows.end());
    std::sort(all.begin(), all.end());
    std::vector<double> common(p.m1), consensus(p.m1);
    consensus_residuals(table, all, work, p.totresid.data(), common.data());
    for (std::size_t i = 0; i < ngroups; ++i) {
        double* own = p.own.data() + p.ncum[i] * p.m1;
        p.ssunexplain.push_back(
            group_unexplained(table, groups.rows[i], groups.z[i].data(), work, own, p.ztot.data() + p.ncum[i], consensus.data()));
        double* out = p.totresid.data() + p.ncum[i] * p.m1;
        if (table.dimensions() == 3) turn_rows_in_space(consensus.data(), common.data(), table.landmarks(), own, p.ng[i], out);
        else turn_onto(consensus.data(), common.data(), p.m1, own, p.ng[i], out);
    }
    return p;
}

struct CovariateShuffle {
    std::vector<int> perm;
    std::vector<double> zp;
};

struct RandomGroups {
    std::vector<int> nlist;
    std::vector<double> z, zc, res;
};

// The covariate shuffled within each group (different slopes), then over
// all specimens (common slope), from one stream per permutation.
void count_shuffled_covariates(PermutationEngine& engine, const GroupResiduals& p, int stream, SlopeModels& y) {
    const std::size_t ngroups = p.ng.size(), ntot = p.ntot, m1 = p.m1;
    const auto stride = static_cast<std::ptrdiff_t>(m1);
    const auto slopes = engine.run<CovariateShuffle>(
        y.nperm, {y.ssunexplain_ss, y.ssunexplain_ms}, {Exceeds::Less, Exceeds::Less},
        [&] {
            auto s = std::make_unique<CovariateShuffle>();
            s->perm.reserve(ntot);
            s->zp.resize(ntot);
            return s;
        },
        [&](CovariateShuffle& s, long long, Rng& rng, double* stats) {
            double ms = 0.0;
            for (std::size_t i = 0; i < ngroups; ++i) {
                const std::size_t n = p.ng[i];
                randperm(s.perm, static_cast<int>(n), rng);
                const double* zr = p.ztot.data() + p.ncum[i];
                for (std::size_t r = 0; r < n; ++r) s.zp[r] = zr[s.perm[r]];
                ms += residual_ss(s.zp.data(), n, p.block(i), m1, stride);
            }
            randperm(s.perm, static_cast<int>(ntot), rng);
            for (std::size_t r = 0; r < ntot; ++r) s.zp[r] = p.ztot[static_cast<std::size_t>(s.perm[r])];
            stats[0] = residual_ss(s.zp.data(), ntot, p.totresid.data(), m1, stride);
            stats[1] = ms;
            return false;
        },
        stream);
    y.exc_ss = slopes.counts[0];
    y.exc_ms = slopes.counts[1];
    y.exc_ss_ge = slopes.counts_ge[0];
    y.exc_ms_ge = slopes.counts_ge[1];
}

// Random groups of the real groups' sizes, drawn from the pooled residuals
// with their covariate values; each group's covariate is centred again on
// its own mean.
void count_random_groups(PermutationEngine& engine, const GroupResiduals& p, int stream, SlopeModels& y) {
    const std::size_t ngroups = p.ng.size(), ntot = p.ntot, m1 = p.m1;
    const auto stride = static_cast<std::ptrdiff_t>(m1);
    std::size_t largest = 0;
    for (std::size_t n : p.ng) largest = std::max(largest, n);
    const auto random_groups = engine.run<RandomGroups>(
        y.nperm, {y.ssunexplain_ms}, {Exceeds::Less},
        [&] {
            auto s = std::make_unique<RandomGroups>();
            s->nlist.reserve(ntot);
            s->z.resize(largest);
            s->zc.resize(largest);
            s->res.resize(largest * m1);
            return s;
        },
        [&](RandomGroups& s, long long, Rng& rng, double* stats) {
            randperm(s.nlist, static_cast<int>(ntot), rng);
            double ms = 0.0;
            for (std::size_t i = 0; i < ngroups; ++i) {
                const std::size_t n = p.ng[i];
                const int* picked = s.nlist.data() + p.ncum[i];
                for (std::size_t r = 0; r < n; ++r) {
                    const double* row = p.totresid.data() + static_cast<std::size_t>(picked[r]) * m1;
                    std::copy(row, row + m1, s.res.data() + r * m1);
                }
                double zm = 0.0;
                for (std::size_t r = 0; r < n; ++r) {
                    s.z[r] = p.ztot[static_cast<std::size_t>(picked[r])];
                    zm += s.z[r];
                }
                zm /= static_cast<double>(n);
                for (std::size_t r = 0; r < n; ++r) s.zc[r] = s.z[r] - zm;
                ms += residual_ss(s.zc.data(), n, s.res.data(), m1, stride);
            }
            stats[0] = ms;
            return false;
        },
        stream);
    y.cdraw_exc = random_groups.counts[0];
    y.cdraw_exc_ge = random_groups.counts_ge[0];
}

}  // namespace

SlopeModels test_slope_models(PermutationEngine& engine, Console& console, const ShapeTable& table, const CovGroups& groups,
                              double sstotal, long long nperm, SlopeEcho echo, StreamIds streams) {
    const bool with_df = echo == SlopeEcho::WithDegreesOfFreedom;
    if (groups.size() == 0) throw QuillanError("The slope models need at least one group of specimens.");
    const GroupResiduals p = group_residuals(table, groups);
    const std::size_t ngroups = groups.size(), ntot = p.ntot, m1 = p.m1;

    SlopeModels y;
    y.sstotal = sstotal;
    y.ntot = static_cast<double>(ntot);
    y.ngroups = static_cast<double>(ngroups);
    y.df_per_unit = with_df ? shape_df_per_unit(table.width(), table.dimensions()) : 0.0;
    y.nperm = nperm;
    const auto stride = static_cast<std::ptrdiff_t>(m1);
    y.ssunexplain_ss = residual_ss(p.ztot.data(), ntot, p.totresid.data(), m1, stride);
    y.ssunexplain_ms = 0.0;
    for (double s : p.ssunexplain) y.ssunexplain_ms += s;

    count_shuffled_covariates(engine, p, streams.at(0), y);
    console.echo("(sstotal-ssunexplain_ss)/ntot", y.explained_ss() / y.ntot);
    console.echo("(sstotal-ssunexplain_ms)/ntot", y.explained_ms() / y.ntot);
    console.echo("exc_ss", count(y.exc_ss));
    console.echo("exc_ms", count(y.exc_ms));
    console.echo("y", Value(row_values({y.explained_ss() / y.ntot, y.explained_ms() / y.ntot, y.explained_ss() / y.ssunexplain_ss,
                                        y.explained_ms() / y.ssunexplain_ms, count(y.exc_ss), count(y.exc_ms), count(nperm)})));

    count_random_groups(engine, p, streams.at(1), y);
    console.echo("cdraw_exc", count(y.cdraw_exc));
    console.echo("sstotal", y.sstotal);
    console.echo("ssunexplain_ss", y.ssunexplain_ss);
    console.echo("ssunexplain_ms", y.ssunexplain_ms);
    console.echo("y", Value(with_df ? y.result13() : y.result8()));
    return y;
}

namespace {

// Per-group blocks stacked into one table, each block a group.
struct StackedBlocks {
    Matrix data;
    CovGroups groups;
};

StackedBlocks stack_blocks(const std::vector<Matrix>& X, const std::vector<std::vector<double>>& z, std::size_t ngroups,
                           const char* op) {
    if (ngroups > X.size() || ngroups > z.size())
        throw QuillanError(std::string(op) + ": " + std::to_string(ngroups) + " groups asked for, but only " +
                           std::to_string(std::min(X.size(), z.size())) + " blocks given.");
    StackedBlocks s;
    Eigen::Index rows = 0, cols = -1;
    for (std::size_t i = 0; i < ngroups; ++i) {
        if (cols >= 0 && X[i].cols() != cols)
            throw QuillanError(std::string(op) + ": the blocks have different numbers of columns (" + std::to_string(cols) +
                               " and " + std::to_string(X[i].cols()) + ").");
        cols = X[i].cols();
        if (z[i].size() != static_cast<std::size_t>(X[i].rows()))
            throw QuillanError(std::string(op) + ": group " + std::to_string(i + 1) + " has " + std::to_string(X[i].rows()) +
                               " specimens but " + std::to_string(z[i].size()) + " covariate values.");
        rows += X[i].rows();
    }
    s.data.resize(rows, std::max<Eigen::Index>(cols, 0));
    Eigen::Index at = 0;
    for (std::size_t i = 0; i < ngroups; ++i) {
        std::vector<int> members;
        for (Eigen::Index r = 0; r < X[i].rows(); ++r) {
            s.data.row(at) = X[i].row(r);
            members.push_back(static_cast<int>(at++));
        }
        s.groups.rows.push_back(std::move(members));
        s.groups.z.push_back(z[i]);
        s.groups.names.push_back("Group " + std::to_string(i + 1));
    }
    return s;
}

}  // namespace

CovariateInputs read_covariate_inputs(ActionEnv& env) {
    const Workspace& ws = env.ws();
    CovariateInputs in;
    in.nperm = read_nperm(env);
    in.landmarks = &require_landmarks(env);
    in.dimensions = ws.dimensions;
    // A list of several columns is not refused: its first column defines the groups.
    in.codes = column_codes(require_groups(env), 0);
    in.groups = cov_groups(in.codes, column_codes(require_covariate(env), 0), group_name);
    // One group has one slope only: the different-slopes model is the common
    // one, and a permutation test of the two would compare a model with itself.
    require_testable_grouping(static_cast<int>(in.groups.size()), static_cast<int>(in.codes.size()), "The group file");
    check_slope_groups(in.groups);
    return in;
}

std::string group_name(double code) {
    std::string s = "Group ";
    s += format_number(code);
    return s;
}

std::string variable_group(double code, int variable) {
    return "group " + format_number(code) + " of grouping variable " + std::to_string(variable);
}

namespace {

std::string with_capital(std::string name) {
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

}  // namespace

std::string first_variable_group(double code) { return with_capital(variable_group(code, 1)); }

std::string second_variable_group(double code) { return with_capital(variable_group(code, 2)); }

std::string cell_of(const CombinedCode& cells, double cell) {
    const Eigen::Index row = static_cast<Eigen::Index>(cell) - 1;
    return "cell of G1 = " + format_number(cells.ccode(row, 1)) + " and G2 = " + format_number(cells.ccode(row, 2));
}

std::string cell_name(const CombinedCode& cells, double cell) { return "The " + cell_of(cells, cell); }

CovGroups cov_groups(const Codes& codes, const std::vector<double>& clist, const std::function<std::string(double)>& name_of) {
    const std::size_t n = codes.size();
    if (clist.size() < n)
        throw QuillanError("The covariate list has " + std::to_string(clist.size()) + " values for " + std::to_string(n) +
                           " specimens.");
    std::vector<int> group_of(n);
    Codes gcodes;
    std::vector<std::size_t> ssize;
    const std::size_t ng = number_groups(codes, group_of, gcodes, ssize);
    CovGroups g;
    g.rows.resize(ng);
    g.z.resize(ng);
    for (std::size_t i = 0; i < ng; ++i) {
        g.rows[i].reserve(ssize[i]);
        g.z[i].reserve(ssize[i]);
        g.names.push_back(name_of(gcodes[i]));
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(group_of[i]);
        g.rows[k].push_back(static_cast<int>(i));
        g.z[k].push_back(clist[i]);
    }
    return g;
}

void check_slope_groups(const CovGroups& groups) {
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const std::string& name = groups.names[i];
        const std::vector<double>& z = groups.z[i];
        if (z.empty()) throw QuillanError(name + " has no specimens.");
        if (z.size() == 1)
            throw Refused(name +
                          " has a single specimen, so its own slope on the covariate cannot be fitted: the slope models "
                          "need at least two specimens in every group.");
        for (double v : z)
            if (!std::isfinite(v)) throw QuillanError(name + " has a covariate value that is not a finite number.");
        if (!has_two_values(z))
            throw Refused(name + " has the same covariate value (" + format_number(z.front()) + ") for all its " +
                          std::to_string(z.size()) + " specimens, so its own slope on the covariate cannot be fitted.");
    }
}

double different_slopes_ss(const ShapeTable& table, const CovGroups& groups) {
    check_slope_groups(groups);
    const std::size_t m1 = table.coordinates();
    ShapeScratch work;
    double total = 0.0;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const std::size_t n = groups.rows[i].size();
        std::vector<double> res(m1 * n), zr(n);
        total += group_unexplained(table, groups.rows[i], groups.z[i].data(), work, res.data(), zr.data());
    }
    return total;
}

double different_slopes_ss(const std::vector<Matrix>& X, const std::vector<std::vector<double>>& z, std::size_t ngroups) {
    if (ngroups == 0) return 0.0;
    const StackedBlocks s = stack_blocks(X, z, ngroups, "group_cov_ss");
    check_slope_groups(s.groups);
    const ShapeTable table(s.data);
    return different_slopes_ss(table, s.groups);
}

double coding_different_slopes_ss(const ShapeTable& table, const Codes& codes, const std::vector<double>& clist,
                                  bool* degenerate) {
    if (codes.size() < table.rows() || clist.size() < table.rows())
        throw QuillanError("coding_cov_ss: the coding and the covariate need one value per specimen.");
    CodingSlopes slopes;
    bool flag = false;
    const double sum = slopes.sum(table, codes, clist.data(), flag);
    if (degenerate) *degenerate = flag;
    return sum;
}

Matrix SlopeModels::result13() const {
    return row_values({sstotal, explained_ss(), explained_ms(), f_ss(), df1up(), df1low(), f_ms(), df2up(), df2low(),
                       count(exc_ss), count(exc_ms), count(cdraw_exc), count(nperm)});
}

Matrix SlopeModels::result8() const {
    return row_values(
        {explained_ss(), explained_ms(), f_ss(), f_ms(), count(exc_ss), count(exc_ms), count(cdraw_exc), count(nperm)});
}

SlopeModels test_slope_models(PermutationEngine& engine, Console& console, const std::vector<Matrix>& X,
                              const std::vector<std::vector<double>>& z, std::size_t ngroups, double sstotal, long long nperm,
                              SlopeEcho echo, const char* op) {
    const StackedBlocks s = stack_blocks(X, z, ngroups, op);
    if (ngroups == 0) throw QuillanError(std::string(op) + ": the slope models need at least one group of specimens.");
    check_slope_groups(s.groups);
    const ShapeTable table(s.data);
    return test_slope_models(engine, console, table, s.groups, sstotal, nperm, echo);
}

Matrix TwoGroupCov::result() const {
    return row_values({unexplained_g1, unexplained_g2, unexplained_cells, count(exceeded_g1), count(exceeded_g2)});
}

namespace {

struct CellShuffle {
    std::vector<int> p, q;
    Codes p1, p2, bc1, bc2;
    CellCoder coder;
    CodingSlopes slopes;
};

}  // namespace

TwoGroupCov two_variable_slopes_test(PermutationEngine& engine, Console& console, const ShapeTable& table, const Codes& glist1,
                                     const Codes& glist2, const std::vector<double>& clist, long long nperms, StreamIds streams) {
    const std::size_t n = glist1.size();
    if (n != table.rows())
        throw QuillanError("twogroupcov: the first grouping has " + std::to_string(n) + " codes for " +
                           std::to_string(table.rows()) + " specimens.");
    if (glist2.size() < n)
        throw QuillanError("twogroupcov: the second grouping has " + std::to_string(glist2.size()) + " codes for " +
                           std::to_string(n) + " specimens.");
    if (clist.size() < n)
        throw QuillanError("twogroupcov: the covariate has " + std::to_string(clist.size()) + " values for " + std::to_string(n) +
                           " specimens.");
    const Codes g1 = glist1, g2(glist2.begin(), glist2.begin() + static_cast<std::ptrdiff_t>(n));

    // The observed groupings: each variable alone and the cells.
    const CombinedCode cells = cell_codes(g1, g2, &console);
    check_slope_groups(cov_groups(g1, clist, first_variable_group));
    check_slope_groups(cov_groups(g2, clist, second_variable_group));
    check_slope_groups(cov_groups(cells.cell_list, clist, [&cells](double c) { return cell_name(cells, c); }));
    TwoGroupCov y;
    {
        CodingSlopes slopes;
        bool degenerate = false;
        y.unexplained_g1 = slopes.sum(table, g1, clist.data(), degenerate);
        y.unexplained_g2 = slopes.sum(table, g2, clist.data(), degenerate);
        y.unexplained_cells = slopes.sum(table, cells.cell_list, clist.data(), degenerate);
    }
    console.echo("[ya yb yc]", Value(row_values({y.unexplained_g1, y.unexplained_g2, y.unexplained_cells})));

    // The cells with the second variable shuffled (the first kept), then with
    // the first shuffled (the second kept).
    const auto result = engine.run<CellShuffle>(
        nperms, {y.unexplained_cells, y.unexplained_cells}, {Exceeds::Less, Exceeds::Less},
        [] { return std::make_unique<CellShuffle>(); },
        [&](CellShuffle& s, long long, Rng& rng, double* stats) {
            randperm(s.p, static_cast<int>(n), rng);
            randperm(s.q, static_cast<int>(n), rng);
            permute_codes(g2, s.p, s.p2);
            s.coder.code(g1, s.p2, s.bc1);
            permute_codes(g1, s.q, s.p1);
            s.coder.code(s.p1, g2, s.bc2);
            bool degenerate = false;
            stats[0] = s.slopes.sum(table, s.bc1, clist.data(), degenerate);
            stats[1] = s.slopes.sum(table, s.bc2, clist.data(), degenerate);
            return degenerate;
        },
        streams.at(0));
    y.exceeded_g1 = result.counts[0];
    y.exceeded_g2 = result.counts[1];
    y.exc1_ge = result.counts_ge[0];
    y.exc2_ge = result.counts_ge[1];
    console.echo("exc1", count(y.exceeded_g1));
    console.echo("exc2", count(y.exceeded_g2));
    if (result.single_groups > 0)
        console.line(format_expand_reuse(
            "In %i of the %i permutations a shuffled coding formed a cell of a single specimen (fitted exactly, it "
            "adds nothing) or a cell whose specimens share one covariate value (fitted by its mean).",
            {count(result.single_groups), count(nperms)}));
    return y;
}

TwoGroupCov two_variable_slopes_test(PermutationEngine& engine, Console& console, const Matrix& data, const Codes& glist1,
                                     const Codes& glist2, const std::vector<double>& clist, long long nperms, StreamIds streams) {
    const ShapeTable table(data);
    return two_variable_slopes_test(engine, console, table, glist1, glist2, clist, nperms, streams);
}

}  // namespace quillan
