// The little-endian helpers, which on the big-endian board are the only thing between
// package-file bytes and numbers.
#include "pkgfile/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ByteOrderTest, DecodesAndEncodesLittleEndianWhateverTheHost) {
    struct Case {
        uint8_t bytes[4];
        uint16_t low16;
        uint32_t value32;
    } cases[] = {
        {{0x34, 0x12, 0x78, 0x56}, 0x1234, 0x56781234},
        // High bits must not sign-extend through char or int promotion.
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFFFFFF},
        {{0x80, 0x00, 0x00, 0x80}, 0x0080, 0x80000080},
        {{0x00, 0x80, 0x00, 0x00}, 0x8000, 0x00008000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value32);
        EXPECT_EQ(decodeLE16(c.bytes), c.low16);
        EXPECT_EQ(decodeLE32(c.bytes), c.value32);
        uint8_t out[4] = {};
        encodeLE32(out, c.value32);
        EXPECT_EQ(0, memcmp(out, c.bytes, 4));
        uint8_t out16[2] = {};
        encodeLE16(out16, c.low16);
        EXPECT_EQ(0, memcmp(out16, c.bytes, 2));
    }
}
