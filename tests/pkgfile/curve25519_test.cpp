// Tests of the legacy check's curve arithmetic: full reduction, key preparation and the
// two-scalar ladder against answers of an independent implementation.
#include "pkgfile/curve25519.h"

#include <gtest/gtest.h>

#include <string>

#include "pkgwriter/signer.h"

using namespace curve25519;

namespace {

const char* const DevelopmentLegacyKey =
    "d83ee8f5355851b37e441d022bb5b49dab1f8b2568dcf8b85ab93573cfb2237b";
const std::string PMinusOne = "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
const std::string Zero = std::string(64, '0');
const std::string One = "01" + std::string(62, '0');

struct Bytes32 {
    uint8_t b[32];
};

Bytes32 fromHex(const std::string& hex) {
    Bytes32 out;
    EXPECT_TRUE(parseHex(hex, out.b, 32)) << hex;
    return out;
}

FieldElement element(const std::string& hex) {
    FieldElement e;
    fromBytes(e, fromHex(hex).b);
    return e;
}

std::string hexOf(const FieldElement& e) {
    uint8_t out[32];
    toBytes(out, e);
    return hexText(out, 32);
}

TEST(Curve25519Field, ReducesFullyAtAndAroundTheModulus) {
    const std::string nineteen = "12" + std::string(62, '0');  // 2^255 - 1 mod p
    const std::pair<std::string, std::string> reduced[] = {
        {PMinusOne, PMinusOne},
        {"edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", Zero},
        {"eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", One},
        {std::string(62, 'f') + "7f", nineteen},
        {std::string(64, 'f'), nineteen},  // bit 255 is ignored
    };
    for (const auto& [in, out] : reduced)
        EXPECT_EQ(hexOf(element(in)), out) << in;
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
    const struct {
        const char* v;
        const char* h;
        const char* u;
    } cases[] = {
        {"0000000000000000000000000000000000000000000000000000000000000000",
         "0000000000000000000000000000000000000000000000000000000000000000",
         "0000000000000000000000000000000000000000000000000000000000000000"},
        {"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
         "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
         "7da03b26f4d6e9da6551a60269fb62dc6dec147396d4485aff8105bee06f5c7d"},
    };
    LegacyBase base;
    ASSERT_TRUE(prepareBase(base, fromHex(DevelopmentLegacyKey).b));
    for (const auto& c : cases) {
        uint8_t out[32];
        combine(out, base, fromHex(c.v).b, fromHex(c.h).b);
        EXPECT_EQ(hexText(out, 32), c.u) << "v " << c.v << " h " << c.h;
    }
}

}  // namespace
