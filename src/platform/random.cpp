#include "platform/random.hpp"

#include <random>

namespace quillan {

namespace {

__extension__ typedef unsigned __int128 u128;

std::uint64_t splitmix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

Rng::Rng(std::uint64_t seed) {
    std::uint64_t x = seed;
    for (auto& s : s_) s = splitmix64(x);
}

Rng Rng::stream(std::uint64_t seed, std::uint64_t index) {
    // Mix the index through splitmix64 before combining, so neighbouring
    // permutations get unrelated streams.
    std::uint64_t x = index ^ 0x5DEECE66Dull;
    const std::uint64_t h = splitmix64(x);
    return Rng(seed ^ h);
}

std::uint64_t Rng::next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

std::uint64_t Rng::below(std::uint64_t n) {
    // Lemire's multiply-and-reject method.
    u128 m = static_cast<u128>(next()) * n;
    std::uint64_t low = static_cast<std::uint64_t>(m);
    if (low < n) {
        const std::uint64_t threshold = -n % n;
        while (low < threshold) {
            m = static_cast<u128>(next()) * n;
            low = static_cast<std::uint64_t>(m);
        }
    }
    return static_cast<std::uint64_t>(m >> 64);
}

std::uint64_t fresh_seed() {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

void randperm(std::vector<int>& out, int n, Rng& rng) {
    out.resize(static_cast<std::size_t>(n < 0 ? 0 : n));
    for (int i = 0; i < n; ++i) out[static_cast<std::size_t>(i)] = i;
    // Fisher-Yates, from the end.
    for (int i = n - 1; i > 0; --i) {
        const int j = static_cast<int>(rng.below(static_cast<std::uint64_t>(i) + 1));
        std::swap(out[static_cast<std::size_t>(i)], out[static_cast<std::size_t>(j)]);
    }
}

std::vector<int> randperm(int n, Rng& rng) {
    std::vector<int> v;
    randperm(v, n, rng);
    return v;
}

}  // namespace quillan
