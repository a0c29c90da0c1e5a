// Random permutations.
//
// Every permutation of a test draws from its own stream, derived from the
// action's seed and the permutation's number, so a seeded run gives the same
// report whatever the number of worker threads.  Unseeded runs (the default)
// take a fresh seed from the system's entropy.
#pragma once

#include <cstdint>
#include <vector>

namespace quillan {

// xoshiro256** seeded through splitmix64: small, fast and of good quality.
class Rng {
public:
    explicit Rng(std::uint64_t seed);
    // The stream of permutation `index` of a run seeded with `seed`.
    static Rng stream(std::uint64_t seed, std::uint64_t index);

    std::uint64_t next();
    // Uniform integer in [0, n), without modulo bias.
    std::uint64_t below(std::uint64_t n);

private:
    std::uint64_t s_[4];
};

// A seed from the system's entropy.
std::uint64_t fresh_seed();

// 0, 1, ..., n-1 in a uniformly random order (a 0-based random permutation).
void randperm(std::vector<int>& out, int n, Rng& rng);
std::vector<int> randperm(int n, Rng& rng);

}  // namespace quillan
