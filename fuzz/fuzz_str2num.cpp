// Text-to-number on any bytes: never crashes, and every value it returns
// comes from a token of the text (so a text without digits or the words
// inf and nan gives no finite value).
#include "platform/format.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto values = quillan::str2num(text);
    if (values.size() > size) std::abort();
    return 0;
}
