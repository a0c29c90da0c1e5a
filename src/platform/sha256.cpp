#include "platform/sha256.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define QUILLAN_SHA_INSTRUCTIONS 1
#endif

namespace quillan {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01,
    0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc,
    0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08,
    0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// One block by the portable code.
void compress_portable(std::array<std::uint32_t, 8>& state, const unsigned char* p) {
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i)
        w[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(p[4 * i]) << 24 |
                                         static_cast<std::uint32_t>(p[4 * i + 1]) << 16 |
                                         static_cast<std::uint32_t>(p[4 * i + 2]) << 8 | static_cast<std::uint32_t>(p[4 * i + 3]);
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> add{a, b, c, d, e, f, g, h};
    for (std::size_t i = 0; i < 8; ++i) state[i] += add[i];
}

#ifdef QUILLAN_SHA_INSTRUCTIONS

// Whether the processor has the SHA extensions and the SSSE3 and SSE4.1
// shuffles and blends that go with them.
bool processor_has_sha() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
    const bool ssse3 = (c & (1u << 9)) != 0, sse41 = (c & (1u << 19)) != 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
    return ssse3 && sse41 && (b & (1u << 29)) != 0;
}

// `count` blocks by the SHA-256 instructions.  They keep the state as the
// pairs of words ABEF and CDGH and do two rounds per instruction; the
// message schedule's four words at a time come from sha256msg1/msg2.
__attribute__((target("sha,sse4.1,ssse3"))) void compress_instructions(std::array<std::uint32_t, 8>& state,
                                                                       const unsigned char* p, std::size_t count) {
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);   // big-endian words
    __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data()));       // a b c d
    __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data() + 4));  // e f g h
    t = _mm_shuffle_epi32(t, 0xB1);
    s1 = _mm_shuffle_epi32(s1, 0x1B);
    __m128i s0 = _mm_alignr_epi8(t, s1, 8);  // ABEF
    s1 = _mm_blend_epi16(s1, t, 0xF0);       // CDGH
    for (; count > 0; --count, p += 64) {
        const __m128i abef = s0, cdgh = s1;
        __m128i m[4];  // the schedule's words 4g .. 4g + 3 of the last four groups g, in m[g % 4]
        for (int g = 0; g < 16; ++g) {
            __m128i w;
            if (g < 4) {
                w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), swap);
            } else {
                w = _mm_sha256msg1_epu32(m[g % 4], m[(g + 1) % 4]);
                w = _mm_add_epi32(w, _mm_alignr_epi8(m[(g + 3) % 4], m[(g + 2) % 4], 4));
                w = _mm_sha256msg2_epu32(w, m[(g + 3) % 4]);
            }
            m[g % 4] = w;
            __m128i wk = _mm_add_epi32(w, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound.data() + 4 * g)));
            s1 = _mm_sha256rnds2_epu32(s1, s0, wk);
            wk = _mm_shuffle_epi32(wk, 0x0E);
            s0 = _mm_sha256rnds2_epu32(s0, s1, wk);
        }
        s0 = _mm_add_epi32(s0, abef);
        s1 = _mm_add_epi32(s1, cdgh);
    }
    t = _mm_shuffle_epi32(s0, 0x1B);
    s1 = _mm_shuffle_epi32(s1, 0xB1);
    s0 = _mm_blend_epi16(t, s1, 0xF0);  // a b c d
    s1 = _mm_alignr_epi8(s1, t, 8);     // e f g h
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), s0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data() + 4), s1);
}

// Asked at the first fingerprint, not at start-up.
bool has_sha() {
    static const bool has = processor_has_sha();
    return has;
}
bool& use_sha() {
    static bool use = has_sha();
    return use;
}

#endif

}  // namespace

bool sha256_use_instructions(bool use) {
#ifdef QUILLAN_SHA_INSTRUCTIONS
    const bool before = use_sha();
    use_sha() = use && has_sha();
    return before;
#else
    (void)use;
    return false;
#endif
}

Sha256::Sha256() : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::compress(const unsigned char* p, std::size_t count) {
#ifdef QUILLAN_SHA_INSTRUCTIONS
    if (use_sha()) {
        compress_instructions(state_, p, count);
        return;
    }
#endif
    for (; count > 0; --count, p += 64) compress_portable(state_, p);
}

void Sha256::update(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    length_ += size;
    while (size > 0) {
        if (filled_ == 0 && size >= 64) {  // whole blocks straight from the caller's bytes
            const std::size_t blocks = size / 64;
            compress(p, blocks);
            p += 64 * blocks;
            size -= 64 * blocks;
            continue;
        }
        const std::size_t take = std::min(size, 64 - filled_);
        std::memcpy(block_.data() + filled_, p, take);
        filled_ += take;
        p += take;
        size -= take;
        if (filled_ == 64) {
            compress(block_.data(), 1);
            filled_ = 0;
        }
    }
}

std::string Sha256::hex_digest() {
    const std::uint64_t bits = length_ * 8;
    const unsigned char one = 0x80, zero = 0;
    update(&one, 1);
    while (filled_ != 56) update(&zero, 1);
    unsigned char tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    update(tail, 8);
    std::string hex;
    char eight[9];
    for (std::uint32_t v : state_) {
        std::snprintf(eight, sizeof eight, "%08x", v);
        hex += eight;
    }
    return hex;
}

std::string sha256_of_file(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return "";
    Sha256 h;
    std::array<char, 1 << 16> buf;
    std::size_t got = 0;
    while ((got = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) h.update(buf.data(), got);
    if (std::ferror(f.get())) return "";
    return h.hex_digest();
}

}  // namespace quillan
