// Formatted print with any format and arguments.  The first byte says how
// many arguments follow and which are texts; each number argument takes 8
// bytes (a double, so NaN, infinities and huge values all occur); the rest
// is the format.
#include "platform/format.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned kinds = data[0];
    std::size_t at = 1;
    std::vector<quillan::FmtArg> args;
    for (unsigned i = 0; i < (kinds & 7u); ++i) {
        if ((kinds >> (3 + i % 5)) & 1u) {
            // A short text argument: a length byte and the bytes.
            if (at >= size) break;
            const std::size_t wanted = data[at] % 16u;
            ++at;
            const std::size_t n = std::min(wanted, size - at);
            args.emplace_back(std::string(reinterpret_cast<const char*>(data + at), n));
            at += n;
        } else {
            if (at + 8 > size) break;
            double d;
            std::memcpy(&d, data + at, 8);
            at += 8;
            args.emplace_back(d);
        }
    }
    const std::string format(reinterpret_cast<const char*>(data + at), size - at);
    const std::string out = quillan::format_expand_reuse(format, args);
    (void)quillan::concat_trimmed({out, format});
    return 0;
}
