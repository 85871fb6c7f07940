// Measures the cost of one signature check: the legacy check (one square root, the
// 256-step ladder, two inversions, two package hashes) and the Ed25519 check.
// Usage: signature_bench [ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pkgfile/curve25519.h"
#include "pkgfile/signature.h"
#include "platform/eddsa.h"

namespace {

// A valid legacy signature and Ed25519 signature of the digest buffer 00 01 .. 1f under
// the development keys.
const uint8_t Check[16] = {0xb8, 0x80, 0x37, 0xd1, 0x50, 0xf8, 0x15, 0xa7,
                           0x53, 0xf0, 0xce, 0x26, 0x58, 0x52, 0xd1, 0x28};
const uint8_t Value[32] = {0x33, 0x05, 0x42, 0x5e, 0x55, 0xcb, 0x03, 0x21, 0xa8, 0x65, 0x4d,
                           0x38, 0x82, 0x20, 0x9d, 0xf0, 0x90, 0x8b, 0x01, 0x55, 0x80, 0x70,
                           0x53, 0x9b, 0x19, 0xb5, 0xdd, 0x97, 0x72, 0x4c, 0x2f, 0x04};
const uint8_t LegacyKey[32] = {0xd8, 0x3e, 0xe8, 0xf5, 0x35, 0x58, 0x51, 0xb3, 0x7e, 0x44, 0x1d,
                               0x02, 0x2b, 0xb5, 0xb4, 0x9d, 0xab, 0x1f, 0x8b, 0x25, 0x68, 0xdc,
                               0xf8, 0xb8, 0x5a, 0xb9, 0x35, 0x73, 0xcf, 0xb2, 0x23, 0x7b};
const uint8_t SigningKey[32] = {0x3a, 0x59, 0x67, 0x55, 0x9c, 0x2a, 0xf6, 0x91, 0xbb, 0xea, 0xa3,
                                0x8c, 0xa0, 0x8c, 0xfb, 0xc2, 0x82, 0xed, 0x1e, 0x49, 0x48, 0x48,
                                0xe3, 0xa5, 0xf7, 0x8f, 0x78, 0x8a, 0x06, 0x0b, 0xde, 0x9f};
const uint8_t Ed25519[64] = {
    0x92, 0xa4, 0xd1, 0x03, 0xb0, 0xf7, 0xdb, 0x7e, 0xa0, 0xac, 0x6e, 0xc4, 0x96, 0xd0, 0x8f, 0x13,
    0x7b, 0x5a, 0xe1, 0x34, 0x81, 0x5d, 0x9b, 0x33, 0x34, 0x28, 0x71, 0x4b, 0x80, 0x7c, 0x53, 0x64,
    0x5e, 0x9d, 0x4e, 0x2d, 0xe6, 0x3c, 0x6e, 0x9d, 0xbb, 0xb2, 0x1f, 0x73, 0x6d, 0xb9, 0x68, 0x16,
    0x69, 0x6e, 0xc7, 0x56, 0x9d, 0xa2, 0x52, 0x9c, 0x33, 0x31, 0xc6, 0xdc, 0x7c, 0xeb, 0x7d, 0x02};

template <typename Body>
double microsecondsPer(int rounds, Body body) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        body();
    std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / rounds;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (rounds <= 0)
        rounds = 2000;
    uint8_t digest[32];
    for (int i = 0; i < 32; ++i)
        digest[i] = uint8_t(i);
    if (!checkLegacySignature(digest, Check, Value, LegacyKey) ||
        !eddsa::verify(asn1::blob(SigningKey, 32), asn1::blob(digest, 32),
                       asn1::blob(Ed25519, 64))) {
        std::fprintf(stderr, "signature_bench: the sample signatures do not verify\n");
        return 1;
    }
    int valid = 0;
    double legacy = microsecondsPer(
        rounds, [&] { valid += checkLegacySignature(digest, Check, Value, LegacyKey); });
    curve25519::LegacyBase base;
    double prepare =
        microsecondsPer(rounds, [&] { valid += curve25519::prepareBase(base, LegacyKey); });
    uint8_t h[32], y[32];
    legacyScalar(h, digest, Check);
    double ladder = microsecondsPer(rounds, [&] { curve25519::combine(y, base, Value, h); });
    double ed25519 = microsecondsPer(rounds, [&] {
        valid += eddsa::verify(asn1::blob(SigningKey, 32), asn1::blob(digest, 32),
                               asn1::blob(Ed25519, 64));
    });
    std::printf("rounds                         %d\n", rounds);
    std::printf("legacy check, whole            %8.1f us per verification\n", legacy);
    std::printf("  key preparation (sqrt, inv)  %8.1f us\n", prepare);
    std::printf("  ladder and last inversion    %8.1f us\n", ladder);
    std::printf("Ed25519 check (OpenSSL)        %8.1f us per verification\n", ed25519);
    return valid == 3 * rounds ? 0 : 1;
}
