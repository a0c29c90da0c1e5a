// SHA-256 (FIPS 180-4), the fingerprint every result records of each file it
// was computed from.  Built in rather than taken from a crypto library: that
// library's start-up (its providers and configuration) cost several times
// the whole of a small test, in a program that scripts run thousands of
// times, and a fingerprint needs nothing else of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillan {

class Sha256 {
public:
    Sha256();
    void update(const void* data, std::size_t size);
    // The digest as 64 lower-case hexadecimal digits; the object is spent.
    std::string hex_digest();

private:
    // Whole blocks, `count` of them, into the state.
    void compress(const unsigned char* blocks, std::size_t count);
    std::array<std::uint32_t, 8> state_;
    std::array<unsigned char, 64> block_{};
    std::size_t filled_ = 0;
    std::uint64_t length_ = 0;  // bytes so far
};

// The digest of the file at `path`, or "" when it cannot be read.
std::string sha256_of_file(const std::string& path);

// Whether whole blocks go through the processor's SHA-256 instructions when
// it has them (the default: several times faster on a large file) or through
// the portable code; returns the setting before.  The digests are the same
// either way; the switch is there so both can be checked on one machine.
bool sha256_use_instructions(bool use);

}  // namespace quillan
