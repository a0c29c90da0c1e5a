#include "analyses/linear_models/model_design.hpp"

#include "analyses/covariates/covariate_checks.hpp"
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "platform/stop_request.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace quillan {

ModelVariable ModelVariable::factor_of_codes(const std::string& name, const std::vector<double>& codes) {
    const std::set<double> distinct(codes.begin(), codes.end());
    ModelVariable v;
    v.name = name;
    std::map<double, int> index;
    for (double c : distinct) {
        index[c] = static_cast<int>(v.levels.size());
        v.levels.push_back(format_expand_reuse("%g", {c}));
    }
    for (double c : codes) v.codes.push_back(index[c]);
    return v;
}

ModelVariable ModelVariable::factor_of_words(const std::string& name, const std::vector<std::string>& words) {
    const std::set<std::string> distinct(words.begin(), words.end());
    ModelVariable v;
    v.name = name;
    v.levels.assign(distinct.begin(), distinct.end());
    for (const auto& w : words)
        v.codes.push_back(static_cast<int>(std::lower_bound(v.levels.begin(), v.levels.end(), w) - v.levels.begin()));
    return v;
}

ModelRequest model_request_of(const OptionValues& options) {
    ModelRequest q;
    if (options.has("formula")) q.formula = options.text("formula");
    if (options.has("ss-type")) q.ss_type = options.choice<SsType>("ss-type");
    if (options.has("alignment")) q.alignment = options.choice<Alignment>("alignment");
    if (options.has("gpa-steps")) q.gpa_steps = options.choice<GpaSteps>("gpa-steps");
    if (options.has("permute")) q.randomization = options.choice<Randomization>("permute");
    if (options.has("error")) q.error = options.text("error");
    if (options.has("pairwise")) q.pairwise = options.text("pairwise");
    if (options.has("pairwise-means")) q.means = options.choice<PairwiseMeans>("pairwise-means");
    return q;
}

namespace {

std::string known_names(const ModelVariables& known) {
    std::string text;
    for (const auto& v : known) text += (text.empty() ? "" : ", ") + v.name;
    return text.empty() ? "none" : text;
}

[[noreturn]] void refuse_at(const FormulaVariable& v, const std::string& what) {
    throw Refused("The formula's \"" + v.label() + "\" (column " + std::to_string(v.column + 1) + ") " + what);
}

// The formula's variable `fv` as the model uses it: found among `known`,
// log taken, checked.
ModelVariable resolve(const FormulaVariable& fv, const ModelVariables& known, int n) {
    auto it = std::find_if(known.begin(), known.end(), [&](const ModelVariable& k) { return k.name == fv.name; });
    if (it == known.end()) refuse_at(fv, "names nothing loaded; the names known are: " + known_names(known) + ".");
    ModelVariable v = *it;
    const std::size_t count = v.is_factor() ? v.codes.size() : v.values.size();
    if (count != static_cast<std::size_t>(n))
        refuse_at(fv, "has " + std::to_string(count) + " values, but there are " + std::to_string(n) + " specimens.");
    if (v.is_factor()) {
        if (fv.logged) refuse_at(fv, "is a factor; log() applies to a covariate only.");
        if (std::set<int>(v.codes.begin(), v.codes.end()).size() < 2)
            refuse_at(fv, "is a factor with a single level among the specimens; it cannot be a term.");
        return v;
    }
    for (std::size_t i = 0; i < v.values.size(); ++i) {
        double& x = v.values[i];
        if (fv.logged) {
            if (!(x > 0))
                refuse_at(fv, "needs values above 0, but specimen " + std::to_string(i + 1) + " has " +
                                  format_expand_reuse("%g", {x}) + ".");
            x = std::log(x);
        }
        if (!std::isfinite(x))
            refuse_at(fv, "is neither a factor nor a covariate: specimen " + std::to_string(i + 1) + " has no finite value.");
        if (std::fabs(x) > kMaxCovariateMagnitude)
            refuse_at(fv, "has " + format_expand_reuse("%g", {x}) + " at specimen " + std::to_string(i + 1) +
                              ", too large for the fits of a model (values up to 1e100 in size can be fitted): rescale it.");
    }
    if (std::all_of(v.values.begin(), v.values.end(), [&](double x) { return x == v.values.front(); }))
        refuse_at(fv, "is a covariate with the same value for every specimen; it cannot be a term.");
    v.name = fv.label();
    return v;
}

bool has_term(const ParsedFormula& f, const std::vector<int>& vars) {
    if (vars.empty()) return true;  // the intercept
    return std::any_of(f.terms.begin(), f.terms.end(), [&](const FormulaTerm& t) { return t.variables == vars; });
}

// R's factor matrix entry of variable `v` in term `t`: 0 absent, 1 present
// (with contrasts, or a covariate), 2 a factor coded by all its levels
// because the term without it is not in the model.
int factor_entry(const ParsedFormula& f, const std::vector<ModelVariable>& vars, std::size_t t, int v) {
    const auto& tv = f.terms[t].variables;
    if (std::find(tv.begin(), tv.end(), v) == tv.end()) return 0;
    if (!vars[static_cast<std::size_t>(v)].is_factor()) return 1;
    std::vector<int> rest;
    for (int w : tv)
        if (w != v) rest.push_back(w);
    return has_term(f, rest) ? 1 : 2;
}

struct Column {
    std::string name;
    Eigen::VectorXd x;
};

// How a variable enters a term: as its levels from `first` on (a factor:
// `count` indicators) or as itself (a covariate: one column).
struct Part {
    const ModelVariable* var;
    int first = 0;
    int count = 1;
};

std::vector<Part> term_parts(const ParsedFormula& f, const std::vector<ModelVariable>& vars, std::size_t t) {
    std::vector<Part> parts;
    for (int v : f.terms[t].variables) {
        const ModelVariable& var = vars[static_cast<std::size_t>(v)];
        if (!var.is_factor()) {
            parts.push_back({&var, 0, 1});
            continue;
        }
        const int first = factor_entry(f, vars, t, v) == 1 ? 1 : 0;
        parts.push_back({&var, first, static_cast<int>(var.levels.size()) - first});
    }
    return parts;
}

// The number of columns of a term, the product of its parts' counts; a
// product past 2^62 is counted as 2^62.
long long column_count(const std::vector<Part>& parts) {
    constexpr long long kMost = 1LL << 62;
    long long count = 1;
    for (const Part& p : parts) count = p.count > 0 && count > kMost / p.count ? kMost : count * p.count;
    return count;
}

// The column of a term at `cell` (one part per variable): the product of
// the parts' indicators and covariates, named as R names it.
Column cell_column(const std::vector<Part>& parts, const std::vector<int>& cell, int n) {
    Column c{"", Eigen::VectorXd::Ones(n)};
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const ModelVariable& var = *parts[k].var;
        std::string name = var.name;
        if (var.is_factor()) {
            const int level = parts[k].first + cell[k];
            name += var.levels[static_cast<std::size_t>(level)];
            for (int i = 0; i < n; ++i)
                if (var.codes[static_cast<std::size_t>(i)] != level) c.x(i) = 0;
        } else {
            c.x = c.x.cwiseProduct(Eigen::Map<const Eigen::VectorXd>(var.values.data(), n));
        }
        c.name += (k ? ":" : "") + name;
    }
    return c;
}

// The cells of a term that hold at least one specimen, in the order of its
// columns (the first variable varying fastest).  Every other column is zero
// and is left out unbuilt, so a term of many levels crossed costs its
// specimens, not the product of its levels.
std::vector<std::vector<int>> occupied_cells(const std::vector<Part>& parts, int n) {
    auto column_order = [](const std::vector<int>& a, const std::vector<int>& b) {
        return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
    };
    std::set<std::vector<int>, decltype(column_order)> cells(column_order);
    for (int i = 0; i < n; ++i) {
        std::vector<int> cell;
        for (const Part& p : parts) {
            const int code = p.var->is_factor() ? p.var->codes[static_cast<std::size_t>(i)] : 0;
            if (code < p.first) break;
            cell.push_back(code - p.first);
        }
        if (cell.size() == parts.size()) cells.insert(std::move(cell));
    }
    return {cells.begin(), cells.end()};
}

// Crossed factors (every margin of the term in the model) must meet in
// every cell: an empty cell leaves an interaction that cannot be estimated.
void require_full_cells(const ParsedFormula& f, const std::vector<ModelVariable>& vars, int n) {
    for (std::size_t t = 0; t < f.terms.size(); ++t) {
        const auto& tv = f.terms[t].variables;
        if (tv.size() < 2) continue;
        bool crossed = true;
        std::size_t cells = 1;
        for (int v : tv) {
            crossed =
                crossed && vars[static_cast<std::size_t>(v)].is_factor() && factor_entry(f, vars, t, v) == 1 && has_term(f, {v});
            if (crossed) cells *= vars[static_cast<std::size_t>(v)].levels.size();
        }
        if (!crossed) continue;
        std::set<std::vector<int>> seen;
        for (int i = 0; i < n; ++i) {
            std::vector<int> cell;
            for (int v : tv) cell.push_back(vars[static_cast<std::size_t>(v)].codes[static_cast<std::size_t>(i)]);
            seen.insert(cell);
        }
        if (seen.size() == cells) continue;
        std::vector<int> cell(tv.size(), 0);
        for (;;) {  // the first empty cell, to name it
            if (!seen.count(cell)) break;
            for (std::size_t k = 0; k < cell.size(); ++k) {
                if (++cell[k] < static_cast<int>(vars[static_cast<std::size_t>(tv[k])].levels.size())) break;
                cell[k] = 0;
            }
        }
        std::string where;
        for (std::size_t k = 0; k < tv.size(); ++k) {
            const ModelVariable& var = vars[static_cast<std::size_t>(tv[k])];
            where += (k ? ", " : "") + var.name + " " + var.levels[static_cast<std::size_t>(cell[k])];
        }
        throw Refused("The term \"" + f.label(t) + "\" has an empty cell (" + where +
                      ": no specimen), so its interaction cannot be estimated.  Leave the interaction out, or nest one "
                      "factor within the other (\"/\").");
    }
}

[[noreturn]] void refuse_parameters(int n) {
    throw Refused("The formula has at least " + std::to_string(n) + " parameters, but there are only " + std::to_string(n) +
                  " specimens: at least one more specimen than parameters is needed to leave a residual.");
}

}  // namespace

ModelDesign build_design(const std::string& formula_text, const ModelVariables& known, int n) {
    ModelDesign d;
    // n - 1 terms and the intercept already leave no residual.
    d.formula = parse_formula(formula_text, std::clamp<std::size_t>(n > 1 ? n - 1 : 1, 1, kMaxFormulaTerms));
    for (const auto& fv : d.formula.variables) d.variables.push_back(resolve(fv, known, n));
    require_full_cells(d.formula, d.variables, n);
    // The columns in order, each kept when it is not (to R's tolerance) a
    // combination of the columns kept before it.
    std::vector<Eigen::VectorXd> basis;
    std::vector<Eigen::VectorXd> kept;
    std::vector<int> kept_per_term(d.terms() + 1, 0);
    long long offered = 1;
    auto offer = [&](const Column& c, int term, std::vector<int> cell) {
        stop_point();
        Eigen::VectorXd r = c.x;
        for (int pass = 0; pass < 2; ++pass)
            for (const auto& q : basis) r -= q.dot(r) * q;
        if (r.norm() <= 1e-7 * c.x.norm() || c.x.norm() == 0) return;
        basis.push_back(r / r.norm());
        kept.push_back(c.x);
        d.source_cells.push_back({term, std::move(cell)});
        d.assign.push_back(term);
        d.column_names.push_back(c.name.empty() ? "(Intercept)" : c.name);
        ++kept_per_term[static_cast<std::size_t>(term)];
        // n columns span every vector of n values: refused now, before any
        // more columns are built.
        if (static_cast<int>(kept.size()) >= n) refuse_parameters(n);
    };
    offer({"", Eigen::VectorXd::Ones(n)}, 0, {});
    for (std::size_t t = 0; t < d.terms(); ++t) {
        const std::vector<Part> parts = term_parts(d.formula, d.variables, t);
        offered = std::min(offered + column_count(parts), 1LL << 62);
        for (auto& cell : occupied_cells(parts, n)) offer(cell_column(parts, cell, n), static_cast<int>(t) + 1, cell);
        if (kept_per_term[t + 1] == 0)
            throw Refused("The term \"" + d.formula.label(t) +
                          "\" is aliased with the terms before it: its columns are combinations of theirs, so it "
                          "explains nothing of its own.  Leave it out of the formula.");
    }
    d.dropped_columns = offered - static_cast<long long>(kept.size());
    d.x.resize(n, static_cast<Eigen::Index>(kept.size()));
    for (std::size_t j = 0; j < kept.size(); ++j) d.x.col(static_cast<Eigen::Index>(j)) = kept[j];
    return d;
}

Eigen::MatrixXd design_columns(const ModelDesign& d, const std::vector<ModelVariable>& variables) {
    const int n = static_cast<int>(d.x.rows());
    Eigen::MatrixXd out(n, d.x.cols());
    for (Eigen::Index j = 0; j < d.x.cols(); ++j) {
        const auto& [term, cell] = d.source_cells[static_cast<std::size_t>(j)];
        out.col(j) = term == 0 ? Eigen::VectorXd::Ones(n)
                               : cell_column(term_parts(d.formula, variables, static_cast<std::size_t>(term) - 1), cell, n).x;
    }
    return out;
}

std::vector<TermModels> term_models(const ModelDesign& d, SsType type) {
    const std::size_t k = d.terms();
    // RRPP's crossproduct of R's factor matrix, for type II.
    std::vector<std::vector<int>> fac(k, std::vector<int>(k, 0));
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j < k; ++j)
            for (int v = 0; v < static_cast<int>(d.variables.size()); ++v)
                fac[i][j] += factor_entry(d.formula, d.variables, i, v) * factor_entry(d.formula, d.variables, j, v);
    std::vector<TermModels> out(k);
    for (std::size_t j = 0; j < k; ++j) {
        const int term = static_cast<int>(j) + 1;
        std::vector<bool> in_reduced(k + 1, false), in_full(k + 1, false);
        in_reduced[0] = in_full[0] = true;
        int top = 0;
        for (std::size_t i = 0; i < k; ++i) top = std::max(top, fac[i][j]);
        for (std::size_t i = 0; i < k; ++i) {
            const bool r = type == SsType::I ? i < j : type == SsType::II ? fac[i][j] < top : i != j;
            in_reduced[i + 1] = r;
            in_full[i + 1] = r || i == j;
        }
        in_full[static_cast<std::size_t>(term)] = true;
        for (int c = 0; c < d.rank(); ++c) {
            const auto a = static_cast<std::size_t>(d.assign[static_cast<std::size_t>(c)]);
            if (in_reduced[a]) out[j].reduced.push_back(c);
            if (in_full[a]) out[j].full.push_back(c);
        }
    }
    return out;
}

}  // namespace quillan
