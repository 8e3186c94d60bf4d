#include "install/sha256.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const std::uint8_t* digest) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < SHA256_DIGEST_SIZE; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

// The digest of data added in pieces of the given sizes (the rest at the end).
std::string DigestInPieces(const std::vector<std::uint8_t>& data, const std::vector<std::size_t>& pieces) {
    Sha256 hash;
    Sha256Begin(&hash);
    std::size_t at = 0;
    for (std::size_t piece : pieces) {
        Sha256Add(&hash, data.data() + at, piece);
        at += piece;
    }
    Sha256Add(&hash, data.data() + at, data.size() - at);
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    Sha256Finish(&hash, digest);
    return Hex(digest);
}

// Both ways of compressing: the processor's SHA instructions (where this
// machine has them) and the portable rounds.
class Sha256Test : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { g_sha256PortableOnly = GetParam(); }
    void TearDown() override { g_sha256PortableOnly = false; }
};

// Every length around the block and padding boundaries, and a download's
// worth, added in random pieces as a download's reads come, against OpenSSL.
TEST_P(Sha256Test, MatchesOpenSslWhateverThePieces) {
    std::mt19937 random(GetParam() ? 7 : 8);
    std::vector<std::size_t> sizes(400);
    for (std::size_t i = 0; i < sizes.size(); ++i) sizes[i] = i;
    sizes.push_back((1 << 20) + 17);
    for (std::size_t size : sizes) {
        std::vector<std::uint8_t> data(size);
        for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
        std::vector<std::size_t> pieces;
        for (std::size_t left = size; left > 0;) {
            const std::size_t piece = std::min<std::size_t>(left, random() % (size < 400 ? 130 : 65537));
            pieces.push_back(piece);
            left -= piece;
        }
        std::uint8_t expected[SHA256_DIGEST_SIZE];
        SHA256(data.data(), data.size(), expected);
        EXPECT_EQ(DigestInPieces(data, pieces), Hex(expected)) << "size " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha256Test, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "ProcessorOrPortable"; });

}  // namespace
