#include "formats/Sha256.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvex;

TEST(Sha256, MatchesTheStandardVectors) {
    EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // A million "a" given in pieces that do not fall on the 64-byte blocks.
    TSha256 hash;
    const std::string piece(999, 'a');
    for (int i = 0; i < 1001; ++i) hash.Update(piece.data(), piece.size());
    hash.Update(piece.data(), 1'000'000 - 999 * 1001);
    EXPECT_EQ(DigestHex(hash.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Final starts afresh.
    hash.Update("abc", 3);
    EXPECT_EQ(DigestHex(hash.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, ReadsOnlyTheIndexSpellingOfADigest) {
    const std::string hex = Sha256Hex("abc", 3);
    const auto digest = DigestFromHex(hex);
    ASSERT_TRUE(digest);
    EXPECT_EQ(DigestHex(*digest), hex);
    std::string upper = hex;
    upper[0] = 'B';
    for (const std::string& bad : {upper, hex.substr(1), hex + "0", hex.substr(1) + "g", hex.substr(1) + " ", std::string()})
        EXPECT_FALSE(DigestFromHex(bad)) << bad;
}
