#include "platform/format.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <system_error>

#include <locale.h>

namespace quillan {

namespace {

std::string expand_escapes(std::string_view f) {
    std::string out;
    out.reserve(f.size());
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] == '\\' && i + 1 < f.size()) {
            char c = f[i + 1];
            if (c == 'n') {
                out += '\n';
                ++i;
                continue;
            }
            if (c == 't') {
                out += '\t';
                ++i;
                continue;
            }
            if (c == 'r') {
                out += '\r';
                ++i;
                continue;
            }
            if (c == '\\') {
                out += '\\';
                ++i;
                continue;
            }
        }
        out += f[i];
    }
    return out;
}

// Widths and precisions beyond this are taken as this: nothing prints
// usefully wider, and the arithmetic of larger ones could overflow.
constexpr int kMaxWidth = 100000;

// A width or precision digit appended without overflowing.
int append_digit(int value, char digit) { return std::min(kMaxWidth, value * 10 + (digit - '0')); }

// A width given by a "*" argument: a negative, non-finite or huge value is
// treated as no width or the largest one.
int star_width(double d) {
    if (std::isnan(d) || d < 0) return -1;
    if (d >= kMaxWidth) return kMaxWidth;
    return static_cast<int>(d);
}

// Largest magnitude an integer conversion takes exactly as a long long.
constexpr double kTwo63 = 9223372036854775808.0;

struct Conversion {
    std::string flags;
    int width = -1;
    int precision = -1;
    char conv = 0;
};

std::string pad(std::string s, const Conversion& sp) {
    if (sp.width < 0 || static_cast<int>(s.size()) >= sp.width) return s;
    std::string fill(static_cast<std::size_t>(sp.width) - s.size(), ' ');
    if (sp.flags.find('-') != std::string::npos) return s + fill;
    return fill + s;
}

std::string c_format(const Conversion& sp, char conv, double d) {
    std::string f = "%" + sp.flags;
    if (sp.width >= 0) f += std::to_string(sp.width);
    if (sp.precision >= 0) {
        f += '.';
        f += std::to_string(sp.precision);
    }
    f += conv;
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, f.c_str(), d);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), f.c_str(), d);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

std::string non_finite(double d, const Conversion& sp) {
    std::string s;
    if (std::isnan(d)) s = "NaN";
    else if (d < 0) s = "-Inf";
    else if (sp.flags.find('+') != std::string::npos) s = "+Inf";
    else s = "Inf";
    return pad(s, sp);
}

std::string format_number_arg(double d, const Conversion& sp) {
    if (!std::isfinite(d)) return non_finite(d, sp);
    switch (sp.conv) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
        case 'c': {
            if (d != std::floor(d)) {
                Conversion e = sp;
                return c_format(e, 'e', d);
            }
            if (sp.conv == 'c') {
                // Only a character code makes a character; any other whole
                // number prints in exponent form like a non-whole one.
                if (d >= 0 && d < 256) return pad(std::string(1, static_cast<char>(static_cast<int>(d))), sp);
                return c_format(sp, 'e', d);
            }
            if (sp.conv == 'd' || sp.conv == 'i' || sp.conv == 'u') {
                // Whole values of any size print without a fraction.
                Conversion whole = sp;
                whole.precision = 0;
                return c_format(whole, 'f', d);
            }
            if (!(d >= -kTwo63 && d < kTwo63)) return c_format(sp, 'e', d);  // beyond a 64-bit integer
            std::string f = "%" + sp.flags;
            if (sp.width >= 0) f += std::to_string(sp.width);
            f += "ll";
            f += sp.conv;
            char buf[128];
            const int n = std::snprintf(buf, sizeof buf, f.c_str(), static_cast<long long>(d));
            if (n < 0) return {};
            if (static_cast<std::size_t>(n) < sizeof buf) return buf;
            std::string big(static_cast<std::size_t>(n) + 1, '\0');
            std::snprintf(big.data(), big.size(), f.c_str(), static_cast<long long>(d));
            big.resize(static_cast<std::size_t>(n));
            return big;
        }
        case 's': {
            if (d == std::floor(d) && d >= 0 && d < 256) return pad(std::string(1, static_cast<char>(static_cast<int>(d))), sp);
            Conversion e = sp;
            e.precision = -1;
            return c_format(e, 'e', d);
        }
        default:
            return c_format(sp, sp.conv, d);
    }
}

std::string format_text_arg(const std::string& s, const Conversion& sp) {
    if (sp.conv == 's' || sp.conv == 'c') {
        std::string t = s;
        if (sp.precision >= 0 && static_cast<std::size_t>(sp.precision) < t.size())
            t.resize(static_cast<std::size_t>(sp.precision));
        return pad(t, sp);
    }
    // A text given to a numeric conversion prints as its characters' codes.
    std::string out;
    for (unsigned char c : s) out += format_number_arg(static_cast<double>(c), sp);
    return out;
}

}  // namespace

std::string format_expand_reuse(std::string_view format, const std::vector<FmtArg>& args) {
    const std::string f = expand_escapes(format);
    std::string out;
    std::size_t next = 0;
    bool any_conversion = false;
    for (;;) {
        for (std::size_t i = 0; i < f.size(); ++i) {
            if (f[i] != '%') {
                out += f[i];
                continue;
            }
            if (i + 1 < f.size() && f[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            // Parse a conversion.
            std::size_t j = i + 1;
            Conversion sp;
            while (j < f.size() && std::string_view("-+ 0#").find(f[j]) != std::string_view::npos) sp.flags += f[j++];
            if (j < f.size() && f[j] == '*') {
                if (next < args.size() && std::holds_alternative<double>(args[next].v))
                    sp.width = star_width(std::get<double>(args[next++].v));
                ++j;
            } else if (j < f.size() && std::isdigit(static_cast<unsigned char>(f[j]))) {
                sp.width = 0;
                while (j < f.size() && std::isdigit(static_cast<unsigned char>(f[j]))) sp.width = append_digit(sp.width, f[j++]);
            }
            if (j < f.size() && f[j] == '.') {
                ++j;
                sp.precision = 0;
                while (j < f.size() && std::isdigit(static_cast<unsigned char>(f[j])))
                    sp.precision = append_digit(sp.precision, f[j++]);
            }
            while (j < f.size() && (f[j] == 'l' || f[j] == 'h')) ++j;
            if (j >= f.size() || std::string_view("diuoxXfeEgGcs").find(f[j]) == std::string_view::npos) {
                // Not a conversion: printed as it stands.
                out.append(f, i, j - i);
                i = j - 1;
                continue;
            }
            sp.conv = f[j];
            any_conversion = true;
            if (next >= args.size()) {
                if (!args.empty()) return out;  // data ran out: stop here
                i = j;                          // no data at all: empty conversion
                continue;
            }
            const FmtArg& a = args[next++];
            if (std::holds_alternative<double>(a.v)) out += format_number_arg(std::get<double>(a.v), sp);
            else out += format_text_arg(std::get<std::string>(a.v), sp);
            i = j;
        }
        if (next >= args.size() || !any_conversion) break;
    }
    return out;
}

std::string concat_trimmed(const std::vector<std::string>& pieces) {
    std::string out;
    for (const auto& p : pieces) {
        std::size_t end = p.size();
        while (end > 0 && p[end - 1] == ' ') --end;
        out.append(p, 0, end);
    }
    return out;
}

namespace {

bool is_sep(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True when [p, e) spells `word` in any case.
bool spells(const char* p, const char* e, std::string_view word) {
    if (static_cast<std::size_t>(e - p) != word.size()) return false;
    for (char w : word)
        if ((*p++ | 0x20) != w) return false;
    return true;
}

// strtod's answer for the unsigned decimal [p, e), in the C locale whatever
// the program's locale: the rare numbers the fast ways leave (an overflow to
// infinity, an underflow to zero).
double strtod_in_c_locale(const char* p, const char* e) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(std::string(p, e).c_str(), nullptr, c_locale);
}

// The powers of ten a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads an unsigned decimal from p: digits with at most one decimal point
// (at least one digit) and an optional exponent, e or E, a sign and digits.
// Returns the end of what was read, or nullptr when p holds no such number.
// The value is the correctly rounded double, as strtod gives it: most table
// values (up to 19 digits, 2^53 at most without the point, a power of ten up
// to 22 either way) are one exact integer times or divided by an exact power
// of ten, which a single rounding makes correct; from_chars, which rounds
// correctly too, reads the others.
const char* read_unsigned(const char* p, const char* e, double& out) {
    std::uint64_t m = 0;
    int digits = 0, point = 0;
    const char* q = p;
    for (; q < e && is_digit(*q); ++q, ++digits) m = m * 10 + static_cast<unsigned>(*q - '0');
    if (q < e && *q == '.')
        for (++q; q < e && is_digit(*q); ++q, ++digits, ++point) m = m * 10 + static_cast<unsigned>(*q - '0');
    if (digits == 0) return nullptr;
    int exponent = 0;
    bool long_exponent = false;
    if (q < e && (*q | 0x20) == 'e') {
        ++q;
        const bool negative = q < e && *q == '-';
        if (q < e && (*q == '+' || *q == '-')) ++q;
        const char* first = q;
        for (; q < e && is_digit(*q); ++q) {
            if (q - first < 6) exponent = exponent * 10 + (*q - '0');
            else long_exponent = true;
        }
        if (q == first) return nullptr;
        if (negative) exponent = -exponent;
    }
    exponent -= point;
    if (digits <= 19 && !long_exponent && m <= (std::uint64_t{1} << 53) && exponent >= -22 && exponent <= 22) {
        const double mantissa = static_cast<double>(m);
        out = exponent < 0 ? mantissa / kExactPowers[-exponent] : mantissa * kExactPowers[exponent];
        return q;
    }
    const auto r = std::from_chars(p, q, out, std::chars_format::general);
    if (r.ec == std::errc() && r.ptr == q) return q;
    if (r.ec != std::errc::result_out_of_range) return nullptr;
    out = strtod_in_c_locale(p, q);
    return q;
}

// Reads one number token from p, before `e`: an optional sign, then Inf or
// NaN in any case, or an unsigned decimal; the token ends at a blank, tab,
// line end, comma or `e`.  Returns the end of the token, or nullptr when it
// is not a number.
const char* read_token(const char* p, const char* e, double& out) {
    bool neg = false;
    if (p < e && (*p == '+' || *p == '-')) neg = *p++ == '-';
    const char* q;
    if (p < e && (is_digit(*p) || *p == '.')) {
        q = read_unsigned(p, e, out);
        if (!q) return nullptr;
        // Rounding to nearest is symmetric, so the sign goes on afterwards.
        if (neg) out = -out;
    } else {
        q = p;
        while (q < e && !is_sep(*q) && *q != ',') ++q;
        if (spells(p, q, "inf")) out = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        else if (spells(p, q, "nan")) out = std::numeric_limits<double>::quiet_NaN();
        else return nullptr;
    }
    if (q < e && !is_sep(*q) && *q != ',') return nullptr;
    return q;
}

}  // namespace

bool append_numbers(std::string_view text, std::vector<double>& out) {
    const std::size_t before = out.size();
    const char* i = text.data();
    const char* const end = i + text.size();
    bool need_number = false;  // a comma was seen and a number must follow
    while (i < end) {
        const char c = *i;
        if (is_sep(c)) {
            ++i;
            continue;
        }
        if (c == ',') {
            if (out.size() == before || need_number) break;
            need_number = true;
            ++i;
            continue;
        }
        double d;
        const char* next = read_token(i, end, d);
        if (!next) break;
        out.push_back(d);
        need_number = false;
        i = next;
    }
    if (i == end) return true;
    out.resize(before);
    return false;
}

std::vector<double> str2num(std::string_view text) {
    std::vector<double> out;
    if (!append_numbers(text, out)) out.clear();
    return out;
}

std::string format_number(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Inf" : "Inf";
    if (d == std::floor(d) && std::fabs(d) < 1e15) return format_expand_reuse("%i", {d});
    return format_expand_reuse("%.10g", {d});
}

std::string format_matrix(const Matrix& m) {
    if (m.size() == 0) return "[]";
    if (m.size() == 1) return format_number(m(0, 0));
    std::string s;
    for (Eigen::Index i = 0; i < m.rows(); ++i) {
        s += "\n   ";
        for (Eigen::Index j = 0; j < m.cols(); ++j) {
            if (j) s += ' ';
            s += format_number(m(i, j));
        }
    }
    return s;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    if (text.empty()) return lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t p = text.find('\n', start);
        if (p == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, p - start));
        start = p + 1;
    }
    return lines;
}

}  // namespace quillan
