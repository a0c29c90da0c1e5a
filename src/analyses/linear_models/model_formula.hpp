// Model formulas in the notation of R's linear models: `A * B`,
// `A + B + A:B`, `logCS + species`, `pop / ind`, `log(cov) * species`.  A
// formula is parsed into its terms, each a set of variables, ordered as R
// orders them: main effects first, then two-way interactions and so on, in
// the order they first appear.  A left-hand side (`coords ~`) is read and
// ignored: the response is always the shape.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillan {

// A variable as the formula names it; `logged` for `log(name)`.
struct FormulaVariable {
    std::string name;
    bool logged = false;
    std::size_t column = 0;  // where the formula first names it, 0-based
    std::string label() const { return logged ? "log(" + name + ")" : name; }
    bool operator==(const FormulaVariable& o) const { return name == o.name && logged == o.logged; }
};

struct FormulaTerm {
    std::vector<int> variables;  // indexes into ParsedFormula::variables, in increasing order
};

struct ParsedFormula {
    std::vector<FormulaVariable> variables;  // in order of first appearance
    std::vector<FormulaTerm> terms;          // in R's order
    // "species:site" and the like.
    std::string label(const FormulaTerm& t) const;
    std::string label(std::size_t term) const { return label(terms[term]); }
};

// Parentheses nested deeper than this are refused.
constexpr int kMaxFormulaDepth = 200;
// A formula expanding to more terms than this is refused, whatever the data.
constexpr std::size_t kMaxFormulaTerms = 100000;

// Parses `text`; a fault is refused (Refused) with its column and the text
// marked at the place, on one line.  An expansion past `max_terms` terms is
// refused as soon as it gets there.
ParsedFormula parse_formula(const std::string& text, std::size_t max_terms = kMaxFormulaTerms);

}  // namespace quillan
