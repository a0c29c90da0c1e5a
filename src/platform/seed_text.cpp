#include "platform/seed_text.hpp"

#include <charconv>
#include <system_error>

namespace quillan {

namespace {
constexpr std::string_view kBlanks = " \t";
}  // namespace

bool seed_text_is_blank(std::string_view text) { return text.find_first_not_of(kBlanks) == std::string_view::npos; }

std::optional<std::uint64_t> parse_seed_text(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return std::nullopt;
    const auto last = text.find_last_not_of(kBlanks);
    const char* b = text.data() + first;
    const char* e = text.data() + last + 1;
    if (*b < '0' || *b > '9') return std::nullopt;  // from_chars would take a sign
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || end != e) return std::nullopt;
    return v;
}

}  // namespace quillan
