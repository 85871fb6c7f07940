// Signature verification: vectors, the levels signature parts give and packages need.
#include "pkgfile/signature.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "pkgfile/curve25519.h"
#include "platform/eddsa.h"
#include "support/packages.h"

namespace {

std::vector<uint8_t> bytes(const std::string& hex) {
    std::vector<uint8_t> out(hex.size() / 2);
    EXPECT_TRUE(parseHex(hex, out.data(), out.size())) << hex;
    return out;
}

// Digest buffer, c, v, the Y the ladder gives, and the Ed25519 signature of the buffer.
const struct {
    std::string digest, check, value, y, ed25519;
} Vectors[] = {
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "b88037d150f815a753f0ce265852d128",
     "3305425e55cb0321a8654d3882209df0908b01558070539b19b5dd97724c2f04",
     "472326ce0156b40cd37aaa09af1b7b122e0a01472cadf43a792680b5bafbaa68",
     "92a4d103b0f7db7ea0ac6ec496d08f137b5ae134815d9b333428714b807c5364"
     "5e9d4e2de63c6e9dbbb21f736db96816696ec7569da2529c3331c6dc7ceb7d02"},
    {"6465666768696a6b6c6d6e6f7071727374757677000000000000000000000000",
     "07204306195bc2018ac4d22ee3a43e12",
     "b4f66bdecd0da5aa8cc95a5a34648018773e8b9a8d7d729a551c20c7b3b5b00a",
     "78bbe5ecb12a2449fc9e5d8ad103b462e1ce5bb8454561463125e741c887167e",
     "e4a7fad7d432e3c93e81b22997a244af903c7ebadf0d5378dd34f655c308f95a"
     "e6b790c3fc940f05cf070a99e83483f42bc03029783bc6cf053d3346c43a0d03"},
};

TEST(Signature, VectorsHoldAndEveryCoveredBitMatters) {
    auto key = bytes("d83ee8f5355851b37e441d022bb5b49dab1f8b2568dcf8b85ab93573cfb2237b");
    auto edKey = bytes("3a5967559c2af691bbeaa38ca08cfbc282ed1e494848e3a5f78f788a060bde9f");
    curve25519::LegacyBase base;
    ASSERT_TRUE(curve25519::prepareBase(base, key.data()));
    for (const auto& vector : Vectors) {
        auto digest = bytes(vector.digest), c = bytes(vector.check), v = bytes(vector.value),
             signature = bytes(vector.ed25519);
        uint8_t h[32], y[32];
        legacyScalar(h, digest.data(), c.data());
        curve25519::combine(y, base, v.data(), h);
        EXPECT_EQ(hexText(y, 32), vector.y);
        auto legacyValid = [&] {
            return checkLegacySignature(digest.data(), c.data(), v.data(), key.data());
        };
        auto ed25519Valid = [&](size_t keySize, size_t signatureSize) {
            return eddsa::verify(asn1::blob(edKey.data(), keySize), asn1::blob(digest.data(), 32),
                                 asn1::blob(signature.data(), signatureSize)) != 0;
        };
        EXPECT_TRUE(legacyValid() && ed25519Valid(32, 64));
        EXPECT_FALSE(ed25519Valid(31, 64) || ed25519Valid(32, 63));

        // The first 20 digest bytes, c and v are covered by the legacy check; the rest of
        // the digest only by Ed25519.
        const std::pair<std::vector<uint8_t>*, int> fields[] = {{&digest, 20}, {&c, 16}, {&v, 32}};
        for (auto [field, covered] : fields) {
            for (int bit = 0; bit < covered * 8; ++bit) {
                (*field)[bit / 8] ^= uint8_t(1 << (bit % 8));
                EXPECT_FALSE(legacyValid()) << "field of " << covered << " bytes, bit " << bit;
                (*field)[bit / 8] ^= uint8_t(1 << (bit % 8));
            }
        }
        digest[31] ^= 0xFF;
        EXPECT_TRUE(legacyValid() && !ed25519Valid(32, 64));
    }
}

TEST(SignatureLevel, RequiredLevelChangesAtEachBoundary) {
    const std::tuple<const char*, Version, int> cases[] = {
        {"branding", 0x07100000, 1},  {"tunnels", 0x062E6608, 1}, {"tunnels", 0x062E6609, 2},
        {"tunnels", 0x062EFFFF, 2},   {"tunnels", 0x062F0000, 1}, {"tunnels", 0x06306600, 1},
        {"tunnels", 0x06306601, 2},   {"tunnels", 0x06FFFFFF, 2}, {"tunnels", 0x07000000, 1},
        {"tunnels", 0x07016203, 1},   {"tunnels", 0x07016204, 2}, {"system", 0, 1},
        {"brandings", 0x07100000, 2},
    };
    for (const auto& [name, version, level] : cases)
        EXPECT_EQ(int(requiredSignatureLevel(name, version)), level)
            << name << " " << std::hex << version;
}

TEST(SignatureLevel, SignaturePartSizeDecidesWhichSignaturesCount) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string file = simplePackage("tamper");
    const std::vector<PartLocation> parts = partsOf(file);  // selector, header, ..., signature
    ASSERT_EQ(parts.back().length, 132u);
    auto withSignature = [&](size_t length, const std::string& content) {
        return file.substr(0, parts.back().headerOffset) + le16(PartSignature) +
               le32(uint32_t(length)) + content;
    };
    // The digest covers the signature part's header: each length is signed again.
    auto resigned = [&](size_t length, bool badEd25519, bool badLegacy) {
        uint8_t digest[32];
        packageDigest(withSignature(length, "").substr(parts[1].headerOffset), DigestKind::Sha256,
                      digest);
        std::string content;
        EXPECT_TRUE(developmentSigner().signaturePart(digest, SignatureKind::Both, content));
        content[100] ^= badEd25519;
        content[40] ^= badLegacy;
        content.resize(length, '\0');
        return withSignature(length, content);
    };
    const std::tuple<const char*, std::string, int> cases[] = {
        {"132 bytes, both valid", file, 2},
        {"132 bytes, Ed25519 broken, legacy valid", resigned(132, true, false), 1},
        {"132 bytes, Ed25519 valid, legacy broken", resigned(132, false, true), 2},
        {"131 bytes: legacy only", resigned(131, false, false), 1},
        {"68 bytes, legacy valid", resigned(68, false, false), 1},
        {"68 bytes, legacy broken", resigned(68, false, true), 0},
        {"67 bytes", resigned(67, false, false), 0},
        {"cut short: declares 132, holds 100",
         withSignature(132, file.substr(parts.back().headerOffset + 6, 100)), 0},
    };
    for (const auto& [what, changed, level] : cases) {
        std::istringstream in(changed);
        PackageFile package(in, true);
        package.acceptedTypes = {PartSignature};
        ASSERT_EQ(package.nextPart(), PartSignature) << what;
        EXPECT_EQ(int(package.verify()), level) << what;
    }
}

}  // namespace
