// Tests of the package hash: the system's vectors and inputs across the padding limits.
#include "pkgfile/package_hash.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "pkgwriter/signer.h"

TEST(PackageHash, MatchesTheSystemVectorsAndPadsInputsOfAnyLength) {
    // 20 zeros and 00 01 .. 1f are the system's vectors; 55 and 64 bytes are the one-block
    // padding limit and the block size, with answers of an independent
    // implementation.
    // size, whether the bytes count 00 01 02 ... rather than being zeros, hash
    const std::tuple<size_t, bool, const char*> cases[] = {
        {20, false, "e0689609804f19d9e1fe1892169e1e80b7e6e5f61d8e8cde6e702e93b559675e"},
        {32, true, "a2bfc913936ec4e3968fcb1ec104c49a8ad3b10d4a77e9dc677a9442732ff63a"},
        {55, true, "a72009b12abcea8e8f137351490f11734739462f978c976c53d8a313dcc07848"},
        {64, true, "fb810bbe3c2b9a2af6f3bc00e3dd9603fe67da75a4eccabe8545c57fa746aa5c"},
    };
    for (const auto& [size, counting, hash] : cases) {
        std::vector<uint8_t> input(size);
        if (counting)
            std::iota(input.begin(), input.end(), 0);
        uint8_t out[32];
        packageHash(input.data(), input.size(), out);
        EXPECT_EQ(hexText(out, 32), hash) << size;
    }
}
