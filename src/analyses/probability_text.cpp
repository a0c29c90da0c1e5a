#include "analyses/probability_text.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace quillan {

namespace {

bool shows_a_nonzero_digit(double p, int precision) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", precision, p);
    for (const char* c = buf; *c; ++c)
        if (*c >= '1' && *c <= '9') return true;
    return false;
}

}  // namespace

std::string visible_probability_format(std::string_view format, double p) {
    std::string f(format);
    if (!(p > 0) || !std::isfinite(p)) return f;
    // Find the last conversion (a "%%" prints a percent sign and is skipped).
    std::size_t start = std::string::npos;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') continue;
        if (i + 1 < f.size() && f[i + 1] == '%') {
            ++i;
            continue;
        }
        start = i;
    }
    if (start == std::string::npos) return f;
    std::size_t j = start + 1;
    while (j < f.size() && std::string_view("-+ 0#").find(f[j]) != std::string_view::npos) ++j;
    while (j < f.size() && std::isdigit(static_cast<unsigned char>(f[j]))) ++j;
    const std::size_t precision_at = j;
    int precision = 6;
    if (j < f.size() && f[j] == '.') {
        ++j;
        precision = 0;
        while (j < f.size() && std::isdigit(static_cast<unsigned char>(f[j])) && precision < 100)
            precision = precision * 10 + (f[j++] - '0');
    }
    if (j >= f.size() || f[j] != 'f') return f;
    if (shows_a_nonzero_digit(p, precision)) return f;
    int needed = precision;
    while (needed < 340 && !shows_a_nonzero_digit(p, needed)) ++needed;
    return f.substr(0, precision_at) + "." + std::to_string(needed) + f.substr(j);
}

}  // namespace quillan
