// The little-endian helpers, which on the big-endian board are the only thing between
// package-file bytes and numbers.
#include "pkgfile/byte_order.h"

#include <gtest/gtest.h>

#include <array>

TEST(ByteOrderTest, DecodesAndEncodesLittleEndianWhateverTheHost) {
    // High bits must not sign-extend through char or int promotion.
    const std::pair<std::array<uint8_t, 4>, uint32_t> cases[] = {
        {{0x34, 0x12, 0x78, 0x56}, 0x56781234},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
        {{0x80, 0x00, 0x00, 0x80}, 0x80000080},
        {{0x00, 0x80, 0x00, 0x00}, 0x00008000},
    };
    for (const auto& [bytes, value] : cases) {
        EXPECT_EQ(decodeLE32(bytes.data()), value);
        EXPECT_EQ(decodeLE16(bytes.data()), uint16_t(value));
        std::array<uint8_t, 4> out32{}, out16{};
        encodeLE32(out32.data(), value);
        encodeLE16(out16.data(), uint16_t(value));
        EXPECT_EQ(out32, bytes);
        EXPECT_EQ(out16, (std::array<uint8_t, 4>{bytes[0], bytes[1], 0, 0}));
    }
}
