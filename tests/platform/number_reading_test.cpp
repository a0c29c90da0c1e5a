// The numbers of the input tables, read with std::from_chars: the same
// tokens accepted and refused, and the same doubles bit for bit, as a
// reading through strtod in the C locale (the reference below), on the
// corners where the two could part: overflow and underflow, subnormals,
// halfway cases, long mantissas, signs, and every way a token can be
// malformed.
#include "platform/format.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace quillan;

namespace {

bool reference_token(std::string_view t, double& out) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::string lower;
    for (char c : t.substr(i)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "inf" || lower == "nan") {
        out = std::strtod(std::string(t).c_str(), nullptr);
        if (lower == "nan") out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    std::size_t digits = 0, k = i;
    while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) ++k, ++digits;
    if (k < t.size() && t[k] == '.')
        for (++k; k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]));) ++k, ++digits;
    if (digits == 0) return false;
    if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
        ++k;
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
        std::size_t ed = 0;
        while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) ++k, ++ed;
        if (ed == 0) return false;
    }
    if (k != t.size()) return false;
    out = std::strtod(std::string(t).c_str(), nullptr);
    return true;
}

// The text's numbers as the reader before from_chars read them.
std::vector<double> reference_str2num(std::string_view text) {
    auto sep = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::vector<double> out;
    bool need = false;
    for (std::size_t i = 0; i < text.size();) {
        if (sep(text[i])) {
            ++i;
        } else if (text[i] == ',') {
            if (out.empty() || need) return {};
            need = true;
            ++i;
        } else {
            std::size_t j = i;
            while (j < text.size() && !sep(text[j]) && text[j] != ',') ++j;
            double d;
            if (!reference_token(text.substr(i, j - i), d)) return {};
            out.push_back(d);
            need = false;
            i = j;
        }
    }
    return out;
}

std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Same count, and every value the same bits (any NaN counts as the one NaN).
void expect_same_reading(const std::string& text) {
    const std::vector<double> want = reference_str2num(text), got = str2num(text);
    ASSERT_EQ(got.size(), want.size()) << '"' << text << '"';
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(want[i])) EXPECT_TRUE(std::isnan(got[i])) << '"' << text << '"';
        else EXPECT_EQ(bits(got[i]), bits(want[i])) << '"' << text << "\" value " << i;
    }
}

}  // namespace

TEST(NumberReading, CornersReadAsStrtodReadsThemBitForBit) {
    // Tokens, blank-separated (none holds a blank).
    const std::string tokens =
        "0 -0 +0 0.0 -0.0 .5 5. +5 -.5 +.5e1 007 1e400 -1e400 1e-400 -1e-400 1.7976931348623157e308 "
        "1.7976931348623158e308 1.7976931348623159e308 2e308 4.9406564584124654e-324 2.4703282292062327e-324 "
        "2.4703282292062328e-324 2.2250738585072011e-308 2.2250738585072014e-308 9007199254740993 "
        "9007199254740992.5 0.1 0.30000000000000004 123456789012345678901234567890 1e99999999999999999999 "
        "1e-99999999999999999999 0e99999 0.000000000000000000000000000001e30 "
        "3.141592653589793238462643383279502884197 1E5 1e+5 1e-5 inf -Inf +INF nan -NaN NAN infinity nanq "
        "0x1A 0x1p3 1e 1e+ e5 . -. + - 1.2.3 1..2 1e5.5 1d5 --1 +-1 1- ١ 1\xC2\xA0 1_000 $1 1f \x01 １";
    std::istringstream in(tokens);
    for (std::string t; in >> t;) expect_same_reading(t);
    // Separators and commas as the rows of a table hold them.
    for (const char* line : {"1,2,3", "1 ,2", "1, 2\r\n", ",1", "1,", "1,,2", "1, ,2", "\t1\t2\t", "1\r2", "", " ", ",",
                             "1 2 3\n", "1e400,-1e-400\tnan", "1 ,\r\n"})
        expect_same_reading(line);
}

TEST(NumberReading, RandomNumbersReadAsStrtodReadsThemBitForBit) {
    std::mt19937_64 rng(20261207);
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    std::string line;
    for (int i = 0; i < 20000; ++i) {
        std::string t = rng() % 4 == 0 ? "-" : "";
        t += digits(static_cast<int>(rng() % 20));
        if (rng() % 2) t += "." + digits(static_cast<int>(rng() % 25));
        if (rng() % 3 == 0) t += (rng() % 2 ? "e-" : "e") + std::to_string(rng() % 340);
        line += t + (rng() % 5 == 0 ? "," : " ");
        if (line.size() > 200) {
            expect_same_reading(line);
            line.clear();
        }
    }
    // Every double's shortest text and its 17-digit text.
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t b = rng();
        double d;
        std::memcpy(&d, &b, sizeof d);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g %.16e %.5g", d, d, d);
        expect_same_reading(buf);
    }
}

TEST(NumberReading, AppendKeepsTheBufferWhenALineCannotBeRead) {
    std::vector<double> values{7};
    EXPECT_TRUE(append_numbers("1 2", values));
    EXPECT_FALSE(append_numbers("3 x", values));
    EXPECT_FALSE(append_numbers("4,,5", values));
    EXPECT_TRUE(append_numbers(" \r\n", values));
    EXPECT_EQ(values, (std::vector<double>{7, 1, 2}));
}
