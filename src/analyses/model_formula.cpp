#include "analyses/model_formula.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace quillan {

std::string ParsedFormula::label(const FormulaTerm& t) const {
    std::string text;
    for (int v : t.variables) text += (text.empty() ? "" : ":") + variables[static_cast<std::size_t>(v)].label();
    return text;
}

namespace {

using TermSet = std::vector<std::vector<int>>;  // each term a sorted set of variables

// The union of two terms, kept sorted.
std::vector<int> merged(const std::vector<int>& a, const std::vector<int>& b) {
    std::vector<int> out;
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

void add_unique(TermSet& set, const std::vector<int>& term) {
    if (std::find(set.begin(), set.end(), term) == set.end()) set.push_back(term);
}

TermSet plus(TermSet a, const TermSet& b) {
    for (const auto& t : b) add_unique(a, t);
    return a;
}

TermSet colon(const TermSet& a, const TermSet& b) {
    TermSet out;
    for (const auto& x : a)
        for (const auto& y : b) add_unique(out, merged(x, y));
    return out;
}

// a / b: a, then every term of b within all of a's variables together.
TermSet nest(const TermSet& a, const TermSet& b) {
    std::vector<int> all;
    for (const auto& t : a) all = merged(all, t);
    TermSet inner;
    for (const auto& t : b) add_unique(inner, merged(all, t));
    return plus(a, inner);
}

// A recursive-descent reader of the right-hand side:
//   sum := product ('+' product)*     product := inter (('*' | '/') inter)*
//   inter := atom (':' atom)*         atom := name | log(name) | '(' sum ')'
class Reader {
public:
    Reader(const std::string& text, std::size_t start) : text_(text), at_(start) {}

    TermSet sum() {
        TermSet t = product();
        while (take('+')) t = plus(t, product());
        return t;
    }
    void finish() {
        skip_blanks();
        if (at_ < text_.size()) fail("\"" + std::string(1, text_[at_]) + "\" was not expected here");
    }
    std::vector<FormulaVariable> variables;

    [[noreturn]] void fail(const std::string& what) const { fail_at(at_, what); }
    [[noreturn]] void fail_at(std::size_t where, const std::string& what) const {
        throw Refused("The formula has a fault at column " + std::to_string(where + 1) + " (marked >>> in \"" +
                      text_.substr(0, where) + ">>>" + text_.substr(where) + "\"): " + what + ".");
    }

private:
    TermSet product() {
        TermSet t = inter();
        for (;;) {
            if (take('*')) {
                const TermSet b = inter();
                t = plus(plus(t, b), colon(t, b));
            } else if (take('/')) {
                t = nest(t, inter());
            } else {
                return t;
            }
        }
    }
    TermSet inter() {
        TermSet t = atom();
        while (take(':')) t = colon(t, atom());
        return t;
    }
    TermSet atom() {
        skip_blanks();
        if (take('(')) {
            TermSet t = sum();
            if (!take(')')) fail("a closing \")\" is missing");
            return t;
        }
        skip_blanks();
        const std::size_t start = at_;
        std::string name = word();
        if (name.empty()) fail(at_ < text_.size() ? "a name was expected" : "the formula ends where a name was expected");
        FormulaVariable v{name, false, start};
        if (name == "log" && take('(')) {
            skip_blanks();
            const std::size_t inner = at_;
            v = {word(), true, inner};
            if (v.name.empty()) fail("log( needs the name of a covariate");
            if (!take(')')) fail("a closing \")\" is missing after log(" + v.name);
        }
        return {{index_of(v)}};
    }
    int index_of(const FormulaVariable& v) {
        auto it = std::find(variables.begin(), variables.end(), v);
        if (it == variables.end()) {
            variables.push_back(v);
            return static_cast<int>(variables.size()) - 1;
        }
        return static_cast<int>(it - variables.begin());
    }
    std::string word() {
        skip_blanks();
        const std::size_t start = at_;
        while (at_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_' || text_[at_] == '.'))
            ++at_;
        return text_.substr(start, at_ - start);
    }
    bool take(char c) {
        skip_blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void skip_blanks() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }

    const std::string& text_;
    std::size_t at_;
};

}  // namespace

ParsedFormula parse_formula(const std::string& text) {
    const std::size_t tilde = text.find('~');
    Reader reader(text, tilde == std::string::npos ? 0 : tilde + 1);
    if (text.find_first_not_of(" \t", tilde == std::string::npos ? 0 : tilde + 1) == std::string::npos)
        reader.fail_at(text.size(), "the formula names no terms");
    TermSet terms = reader.sum();
    reader.finish();
    // R's order: by the number of variables, keeping the order of appearance.
    std::stable_sort(terms.begin(), terms.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    ParsedFormula f;
    f.variables = reader.variables;
    for (auto& t : terms) f.terms.push_back({std::move(t)});
    return f;
}

}  // namespace quillan
