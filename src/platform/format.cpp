#include "platform/format.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

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

// Parses one number token; returns false when the token is not a number.
bool parse_token(std::string_view t, double& out) {
    std::size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        neg = t[i] == '-';
        ++i;
    }
    std::string_view rest = t.substr(i);
    auto ieq = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t k = 0; k < a.size(); ++k)
            if (std::tolower(static_cast<unsigned char>(a[k])) != b[k]) return false;
        return true;
    };
    if (ieq(rest, "inf")) {
        out = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    if (ieq(rest, "nan")) {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    std::size_t digits = 0;
    std::size_t k = i;
    while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) {
        ++k;
        ++digits;
    }
    if (k < t.size() && t[k] == '.') {
        ++k;
        while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) {
            ++k;
            ++digits;
        }
    }
    if (digits == 0) return false;
    if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
        ++k;
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
        std::size_t ed = 0;
        while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) {
            ++k;
            ++ed;
        }
        if (ed == 0) return false;
    }
    if (k != t.size()) return false;
    std::string s(t);
    out = std::strtod(s.c_str(), nullptr);
    return true;
}

}  // namespace

std::vector<double> str2num(std::string_view text) {
    std::vector<double> out;
    std::size_t i = 0;
    bool need_number = false;  // a comma was seen and a number must follow
    bool seen_number = false;
    while (i < text.size()) {
        char c = text[i];
        if (is_sep(c)) {
            ++i;
            continue;
        }
        if (c == ',') {
            if (!seen_number || need_number) return {};
            need_number = true;
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && !is_sep(text[j]) && text[j] != ',') ++j;
        double d;
        if (!parse_token(text.substr(i, j - i), d)) return {};
        out.push_back(d);
        seen_number = true;
        need_number = false;
        i = j;
    }
    return out;
}

double mean(const std::vector<double>& x) {
    if (x.empty()) return std::numeric_limits<double>::quiet_NaN();
    double s = 0;
    for (double v : x) s += v;
    return s / static_cast<double>(x.size());
}

Line polyfit1(const double* x, const double* y, std::size_t n, std::ptrdiff_t ystride) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (n == 0) return {nan, nan};
    double xm = 0, ym = 0;
    for (std::size_t i = 0; i < n; ++i) {
        xm += x[i];
        ym += y[static_cast<std::ptrdiff_t>(i) * ystride];
    }
    xm /= static_cast<double>(n);
    ym /= static_cast<double>(n);
    double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = x[i] - xm;
        sxx += dx * dx;
        sxy += dx * (y[static_cast<std::ptrdiff_t>(i) * ystride] - ym);
    }
    const double slope = sxy / sxx;  // non-finite when x is constant
    return {slope, ym - slope * xm};
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
