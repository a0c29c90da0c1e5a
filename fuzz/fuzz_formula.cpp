// The formula reader and the design built from it, on any text: a formula
// either gives terms and a design or is refused with a message, and never
// crashes, overflows the stack or grows without bound.  The variables are a
// few factors and a covariate over twelve specimens, under names the
// fuzzer's dictionary of short words will hit.
#include "analyses/linear_models/model_design.hpp"
#include "platform/error.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const quillan::ModelVariables& variables() {
    static const quillan::ModelVariables vars = [] {
        using quillan::ModelVariable;
        quillan::ModelVariables v{
            ModelVariable::factor_of_codes("A", {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2}),
            ModelVariable::factor_of_codes("B", {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}),
            ModelVariable::factor_of_codes("C", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
            ModelVariable::factor_of_words("\xc3\xa9", {"a", "a", "b", "b", "a", "a", "b", "b", "a", "a", "b", "b"})};
        ModelVariable x;
        x.name = "x";
        x.values = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5};
        v.push_back(x);
        return v;
    }();
    return vars;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const quillan::ParsedFormula f = quillan::parse_formula(text);
        if (f.terms.empty() || f.terms.size() > quillan::kMaxFormulaTerms) std::abort();
        const quillan::ModelDesign d = quillan::build_design(text, variables(), 12);
        if (d.rank() < 1 || d.rank() >= 12) std::abort();  // a design always leaves a residual
    } catch (const quillan::Refused& e) {
        if (std::string(e.what()).empty()) std::abort();
    }
    return 0;
}
