// Tests of the package hash: the system's vectors and inputs across the padding limits.
#include "pkgfile/package_hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pkgwriter/signer.h"

namespace {

std::string hashHex(const std::vector<uint8_t>& input) {
    uint8_t out[32];
    packageHash(input.data(), input.size(), out);
    return hexText(out, 32);
}

std::vector<uint8_t> counting(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i);  // 00 01 02 ...
    return bytes;
}

TEST(PackageHash, MatchesTheSystemVectors) {
    EXPECT_EQ(hashHex({}), "ec0cec8ad96a3aba52020959bd7afe724437d269ba3e1293d77c13b504cd683e");
    EXPECT_EQ(hashHex(std::vector<uint8_t>(20, 0)),
              "e0689609804f19d9e1fe1892169e1e80b7e6e5f61d8e8cde6e702e93b559675e");
    EXPECT_EQ(hashHex(counting(32)),
              "a2bfc913936ec4e3968fcb1ec104c49a8ad3b10d4a77e9dc677a9442732ff63a");
}

TEST(PackageHash, PadsInputsOfAnyLength) {
    // The check hashes 20 or 32 bytes; longer inputs cross the one-block padding limit
    // (55 bytes) and the block size. Answers from an independent implementation.
    const struct {
        size_t size;
        const char* hash;
    } cases[] = {
        {55, "a72009b12abcea8e8f137351490f11734739462f978c976c53d8a313dcc07848"},
        {56, "376976d7093de58429a0dc8052e7507b1190842e2490e15b8c99d7a90169be16"},
        {64, "fb810bbe3c2b9a2af6f3bc00e3dd9603fe67da75a4eccabe8545c57fa746aa5c"},
        {119, "a4ea8b74b3fceb1255fdb1d4bc2c52277bac2bdced379f520aec135cb2795f02"},
        {200, "bebf0aadac8a858ad29b0e06d6a5fd06bc33f64eccd97d50b2617020db0afef6"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hashHex(counting(c.size)), c.hash) << c.size;
}

}  // namespace
