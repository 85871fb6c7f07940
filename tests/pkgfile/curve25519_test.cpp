// The legacy check's curve arithmetic against answers of an independent implementation.
#include "pkgfile/curve25519.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "pkgwriter/signer.h"

using namespace curve25519;

namespace {

const std::string Zero(64, '0'), AllOnes(64, 'f');

struct Bytes32 {
    uint8_t b[32];
};

Bytes32 fromHex(const std::string& hex) {
    Bytes32 out;
    EXPECT_TRUE(parseHex(hex, out.b, 32)) << hex;
    return out;
}

std::string hexOf(const FieldElement& e) {
    uint8_t out[32];
    toBytes(out, e);
    return hexText(out, 32);
}

}  // namespace

TEST(Curve25519Field, ReducesFullyAtAndAroundTheModulus) {
    const std::string pMinusOne =
        "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
    const std::string nineteen = "12" + Zero.substr(2);  // 2^255 - 1 mod p
    const std::pair<std::string, std::string> reduced[] = {
        {pMinusOne, pMinusOne},
        {"edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", Zero},
        {"eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", "01" + Zero.substr(2)},
        {AllOnes.substr(2) + "7f", nineteen},
        {AllOnes, nineteen},  // bit 255 is ignored
    };
    for (const auto& [in, out] : reduced) {
        FieldElement e;
        fromBytes(e, fromHex(in).b);
        EXPECT_EQ(hexOf(e), out) << in;
    }
}

// The development key is prepared by the ladder test and the signature vectors.
TEST(Curve25519Key, PreparesPointsOnTheCurveOnly) {
    LegacyBase base;
    // The base point itself: its even y is the system's y(G).
    ASSERT_TRUE(prepareBase(base, fromHex("09" + Zero.substr(2)).b));
    EXPECT_EQ(hexOf(base.y), "142c31815d3a16d64d9e839281b2c26db32eb788d322e11f4b795f475ee6515f");
    EXPECT_FALSE(prepareBase(base, fromHex("02" + Zero.substr(2)).b))
        << "u = 2 is on the twist, not the curve";
}

TEST(Curve25519Ladder, CombinesTwoScalars) {
    // v, h, u(v·|P| + h·G) under the development key. Zero gives the point at infinity
    // (u 0); all-ones passes the group order.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {Zero, Zero, Zero},
        {AllOnes, AllOnes, "7da03b26f4d6e9da6551a60269fb62dc6dec147396d4485aff8105bee06f5c7d"},
    };
    LegacyBase base;
    ASSERT_TRUE(prepareBase(
        base, fromHex("d83ee8f5355851b37e441d022bb5b49dab1f8b2568dcf8b85ab93573cfb2237b").b));
    for (const auto& [v, h, u] : cases) {
        uint8_t out[32];
        combine(out, base, fromHex(v).b, fromHex(h).b);
        EXPECT_EQ(hexText(out, 32), u) << "v " << v << " h " << h;
    }
}
