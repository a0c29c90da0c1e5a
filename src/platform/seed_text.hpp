// The seed of the random permutations as a user writes it, in the Seed box
// or after quillan-batch --seed: both front ends read it here, so the same
// text means the same seed in either.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillan {

// A whole number from 0 to 2^64 - 1 in decimal digits, with spaces and tabs
// around it allowed; nothing for anything else (a sign, a fraction, blanks
// inside, a number too large, or no digits at all).
std::optional<std::uint64_t> parse_seed_text(std::string_view text);

// Whether `text` holds nothing but spaces and tabs: an empty Seed box, which
// asks for fresh permutations.
bool seed_text_is_blank(std::string_view text);

}  // namespace quillan
