// The fingerprints recorded with every result: the published test vectors of
// SHA-256, messages whose padding falls on every side of a block's end, and
// the same digest however the bytes arrive, both by the processor's SHA
// instructions (where it has them) and by the portable code.
#include "platform/sha256.hpp"
#include "support/fixtures.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quillan {
namespace {

std::string digest(const std::string& s) {
    Sha256 h;
    h.update(s.data(), s.size());
    return h.hex_digest();
}

// Runs `check` with the SHA instructions in use (when the processor has
// them) and again with the portable code.
template <class Check>
void both_ways(Check check) {
    const bool before = sha256_use_instructions(true);
    const bool has = sha256_use_instructions(true);
    for (const bool use : {true, false}) {
        if (use && !has) continue;
        sha256_use_instructions(use);
        SCOPED_TRACE(use ? "SHA instructions" : "portable code");
        check();
    }
    sha256_use_instructions(before);
}

TEST(Sha256, PublishedVectors) {
    both_ways([] {
        EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        // 56 bytes: the length no longer fits the first block.
        EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(digest("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
                         "tnopqrstu"),
                  "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
        EXPECT_EQ(digest(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    });
}

TEST(Sha256, TheDigestDoesNotDependOnHowTheBytesArrive) {
    both_ways([] {
        std::mt19937 rng(7);
        for (std::size_t size : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 70000u}) {
            std::string bytes(size, '\0');
            for (auto& c : bytes) c = static_cast<char>(rng());
            const std::string whole = digest(bytes);
            Sha256 pieces;
            for (std::size_t at = 0; at < size;) {
                const std::size_t n = std::min<std::size_t>(size - at, rng() % 97);
                pieces.update(bytes.data() + at, n);
                at += n;
            }
            EXPECT_EQ(pieces.hex_digest(), whole) << size << " bytes";
            const bool was = sha256_use_instructions(false);
            EXPECT_EQ(digest(bytes), whole) << size << " bytes, portable code";
            sha256_use_instructions(was);
        }
    });
}

TEST(Sha256, FilesAreReadWholeAndUnreadableOnesHaveNoDigest) {
    test::TempDir dir;
    const std::string path = dir.file("m.bin");
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(i * 31);  // more than one read's buffer
    dir.write("m.bin", bytes);
    EXPECT_EQ(sha256_of_file(path), digest(bytes));
    EXPECT_EQ(sha256_of_file(dir.file("absent.txt")), "");
    EXPECT_EQ(sha256_of_file(dir.path().string()), "");
}

}  // namespace
}  // namespace quillan
