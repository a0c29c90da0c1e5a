#include "analyses/report.hpp"

#include "platform/format.hpp"

namespace quillan {

std::string count_piece(long long count, long long nperm, const char* zero_format, const char* format, bool with_nperm) {
    const double c = static_cast<double>(count), n = static_cast<double>(nperm);
    if (count == 0) return with_nperm ? sprintf(zero_format, {n, 1.0 / n}) : sprintf(zero_format, {1.0 / n});
    return with_nperm ? sprintf(format, {c, n, c / n}) : sprintf(format, {c, c / n});
}

}  // namespace quillan
