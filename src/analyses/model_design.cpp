#include "analyses/model_design.hpp"

#include "platform/error.hpp"
#include "platform/format.hpp"

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

// The columns of term `t`, the first variable varying fastest.
std::vector<Column> term_columns(const ParsedFormula& f, const std::vector<ModelVariable>& vars, std::size_t t, int n) {
    std::vector<Column> cols{{"", Eigen::VectorXd::Ones(n)}};
    for (int v : f.terms[t].variables) {
        const ModelVariable& var = vars[static_cast<std::size_t>(v)];
        std::vector<Column> parts;
        if (!var.is_factor()) {
            parts.push_back({var.name, Eigen::Map<const Eigen::VectorXd>(var.values.data(), n)});
        } else {
            const int first = factor_entry(f, vars, t, v) == 1 ? 1 : 0;
            for (int l = first; l < static_cast<int>(var.levels.size()); ++l) {
                Column c{var.name + var.levels[static_cast<std::size_t>(l)], Eigen::VectorXd::Zero(n)};
                for (int i = 0; i < n; ++i) c.x(i) = var.codes[static_cast<std::size_t>(i)] == l ? 1.0 : 0.0;
                parts.push_back(std::move(c));
            }
        }
        std::vector<Column> next;
        for (const auto& p : parts)
            for (const auto& c : cols) next.push_back({c.name.empty() ? p.name : c.name + ":" + p.name, c.x.cwiseProduct(p.x)});
        cols = std::move(next);
    }
    return cols;
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

}  // namespace

ModelDesign build_design(const std::string& formula_text, const ModelVariables& known, int n) {
    ModelDesign d;
    d.formula = parse_formula(formula_text);
    for (const auto& fv : d.formula.variables) d.variables.push_back(resolve(fv, known, n));
    require_full_cells(d.formula, d.variables, n);
    // The columns in order, each kept when it is not (to R's tolerance) a
    // combination of the columns kept before it.
    std::vector<Eigen::VectorXd> basis;
    std::vector<Eigen::VectorXd> kept;
    std::vector<int> kept_per_term(d.terms() + 1, 0);
    int offered = 0;
    auto offer = [&](const Column& c, int term) {
        const int place = offered++;
        Eigen::VectorXd r = c.x;
        for (int pass = 0; pass < 2; ++pass)
            for (const auto& q : basis) r -= q.dot(r) * q;
        if (r.norm() <= 1e-7 * c.x.norm() || c.x.norm() == 0) {
            ++d.dropped_columns;
            return;
        }
        basis.push_back(r / r.norm());
        kept.push_back(c.x);
        d.source_columns.push_back(place);
        d.assign.push_back(term);
        d.column_names.push_back(c.name.empty() ? "(Intercept)" : c.name);
        ++kept_per_term[static_cast<std::size_t>(term)];
    };
    offer({"", Eigen::VectorXd::Ones(n)}, 0);
    for (std::size_t t = 0; t < d.terms(); ++t) {
        for (const auto& c : term_columns(d.formula, d.variables, t, n)) offer(c, static_cast<int>(t) + 1);
        if (kept_per_term[t + 1] == 0)
            throw Refused("The term \"" + d.formula.label(t) +
                          "\" is aliased with the terms before it: its columns are combinations of theirs, so it "
                          "explains nothing of its own.  Leave it out of the formula.");
    }
    d.x.resize(n, static_cast<Eigen::Index>(kept.size()));
    for (std::size_t j = 0; j < kept.size(); ++j) d.x.col(static_cast<Eigen::Index>(j)) = kept[j];
    if (d.rank() >= n)
        throw Refused("The formula has " + std::to_string(d.rank()) + " parameters, but there are only " + std::to_string(n) +
                      " specimens: at least one more specimen than parameters is needed to leave a residual.");
    return d;
}

Eigen::MatrixXd design_columns(const ModelDesign& d, const std::vector<ModelVariable>& variables) {
    const int n = static_cast<int>(d.x.rows());
    std::vector<Eigen::VectorXd> all{Eigen::VectorXd::Ones(n)};
    for (std::size_t t = 0; t < d.terms(); ++t)
        for (auto& c : term_columns(d.formula, variables, t, n)) all.push_back(std::move(c.x));
    Eigen::MatrixXd out(n, d.x.cols());
    for (Eigen::Index j = 0; j < d.x.cols(); ++j)
        out.col(j) = all[static_cast<std::size_t>(d.source_columns[static_cast<std::size_t>(j)])];
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
