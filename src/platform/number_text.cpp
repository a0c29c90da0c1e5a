#include "platform/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quillan {

std::string exact_number_text(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Inf" : "Inf";
    if (d == std::floor(d) && std::fabs(d) < 1e21) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.0f", d);
        return buf;
    }
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

}  // namespace quillan
