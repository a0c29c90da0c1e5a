#include "analyses/linear_models/model_formula.hpp"

#include "platform/error.hpp"
#include "platform/stop_request.hpp"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <map>
#include <set>

namespace quillan {

std::string ParsedFormula::label(const FormulaTerm& t) const {
    std::string text;
    for (int v : t.variables) text += (text.empty() ? "" : ":") + variables[static_cast<std::size_t>(v)].label();
    return text;
}

namespace {

// The terms in order of appearance, each a sorted set of variables, with an
// index beside them so that adding a term costs a look-up, not a pass over
// the terms so far: a formula crossing many factors expands in time linear in
// its terms.  More than `limit` terms are refused as they appear, before the
// expansion can grow any further.
class TermSet {
public:
    explicit TermSet(std::size_t limit) : limit_(limit) {}
    void add(std::vector<int> term) {
        stop_point();
        if (seen_.count(term)) return;
        if (list_.size() >= limit_) throw TooManyTerms{};
        seen_.insert(term);
        list_.push_back(std::move(term));
    }
    const std::vector<std::vector<int>>& list() const { return list_; }
    std::vector<std::vector<int>> take() { return std::move(list_); }
    std::size_t limit() const { return limit_; }
    struct TooManyTerms {};

private:
    std::size_t limit_;
    std::vector<std::vector<int>> list_;
    std::set<std::vector<int>> seen_;
};

// The union of two terms, kept sorted.
std::vector<int> merged(const std::vector<int>& a, const std::vector<int>& b) {
    std::vector<int> out;
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

void add_all(TermSet& a, const TermSet& b) {
    for (const auto& t : b.list()) a.add(t);
}

TermSet colon(const TermSet& a, const TermSet& b) {
    TermSet out(a.limit());
    for (const auto& x : a.list())
        for (const auto& y : b.list()) out.add(merged(x, y));
    return out;
}

// What a / b adds to a: every term of b within all of a's variables together.
TermSet nested(const TermSet& a, const TermSet& b) {
    std::vector<int> all;
    for (const auto& t : a.list()) all = merged(all, t);
    TermSet inner(a.limit());
    for (const auto& t : b.list()) inner.add(merged(all, t));
    return inner;
}

// A recursive-descent reader of the right-hand side:
//   sum := product ('+' product)*     product := inter (('*' | '/') inter)*
//   inter := atom (':' atom)*         atom := name | log(name) | '(' sum ')'
class Reader {
public:
    Reader(const std::string& text, std::size_t start, std::size_t max_terms) : text_(text), at_(start), max_terms_(max_terms) {}

    TermSet sum() {
        TermSet t = product();
        while (take('+')) add_all(t, product());
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
                const TermSet both = colon(t, b);
                add_all(t, b);
                add_all(t, both);
            } else if (take('/')) {
                const TermSet inner = nested(t, inter());
                add_all(t, inner);
            } else {
                return t;
            }
        }
    }
    TermSet inter() {
        TermSet t = atom();
        while (take(':')) {
            TermSet b = atom();
            t = colon(t, b);
        }
        return t;
    }
    TermSet atom() {
        skip_blanks();
        if (take('(')) {
            // Each level of parentheses costs a few frames of the stack: a
            // bound keeps a hostile formula from exhausting it.
            if (++depth_ > kMaxFormulaDepth)
                fail("the parentheses are nested more than " + std::to_string(kMaxFormulaDepth) + " deep");
            TermSet t = sum();
            if (!take(')')) fail("a closing \")\" is missing");
            --depth_;
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
        TermSet t(max_terms_);
        t.add({index_of(v)});
        return t;
    }
    int index_of(const FormulaVariable& v) {
        const auto [it, added] = index_.try_emplace(v.label(), static_cast<int>(variables.size()));
        if (added) variables.push_back(v);
        return it->second;
    }
    std::string word() {
        skip_blanks();
        const std::size_t start = at_;
        while (at_ < text_.size() &&
               (is_name_byte(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_' || text_[at_] == '.'))
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

    // Letters and digits, and every byte of a character beyond ASCII, so
    // that a name in any script (espèce, 種) is read whole.
    static bool is_name_byte(unsigned char c) { return std::isalnum(c) || c >= 0x80; }

    const std::string& text_;
    std::size_t at_;
    std::size_t max_terms_;
    int depth_ = 0;
    std::map<std::string, int> index_;  // each variable's place, by its label
};

}  // namespace

ParsedFormula parse_formula(const std::string& text, std::size_t max_terms) {
    const std::size_t tilde = text.find('~');
    Reader reader(text, tilde == std::string::npos ? 0 : tilde + 1, max_terms);
    if (text.find_first_not_of(" \t", tilde == std::string::npos ? 0 : tilde + 1) == std::string::npos)
        reader.fail_at(text.size(), "the formula names no terms");
    std::vector<std::vector<int>> terms;
    try {
        terms = reader.sum().take();
    } catch (const TermSet::TooManyTerms&) {
        throw Refused("The formula expands to more than " + std::to_string(max_terms) + " terms" +
                      (max_terms < kMaxFormulaTerms ? ", more than the specimens can estimate" : "") +
                      ": each term needs a parameter of its own, and one specimen more than the parameters is needed "
                      "to leave a residual.");
    }
    reader.finish();
    // R's order: by the number of variables, keeping the order of appearance.
    std::stable_sort(terms.begin(), terms.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    ParsedFormula f;
    f.variables = reader.variables;
    for (auto& t : terms) f.terms.push_back({std::move(t)});
    return f;
}

}  // namespace quillan
