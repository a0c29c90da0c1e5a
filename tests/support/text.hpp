// Text checks shared by the tests: gmock's substring matchers, the text of
// an error, and a number read back from a report.
#pragma once

#include "platform/error.hpp"

#include <gmock/gmock.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

namespace quillan::test {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// The text of the QuillanError that `f` throws, or "(no error)" when it
// throws none (so a missing error shows in the failure message).
inline std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const QuillanError& e) {
        return e.what();
    }
    return "(no error)";
}

// `text` written `n` times over.
inline std::string repeated(const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += text;
    return out;
}

// The number printed right after the nth (0-based) occurrence of `label` in
// `text`; NaN when the label is not there that often.
inline double number_after(const std::string& text, const std::string& label, int nth = 0) {
    std::size_t p = text.find(label);
    for (int i = 0; i < nth && p != std::string::npos; ++i) p = text.find(label, p + 1);
    if (p == std::string::npos) return std::nan("");
    return std::strtod(text.c_str() + p + label.size(), nullptr);
}

}  // namespace quillan::test
