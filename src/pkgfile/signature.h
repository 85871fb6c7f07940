// Package signatures: the levels a package needs and has, the built-in public keys and
// the legacy check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Signature levels, in order: no valid signature, a valid legacy signature, a valid
// Ed25519 one. The numbers are those pkgtool shows.
enum class SignatureLevel : int { None = 0, Legacy = 1, Ed25519 = 2 };

// Signature part sizes: the legacy signature alone, and followed by the Ed25519 one.
constexpr size_t LegacySignatureSize = 68;
constexpr size_t FullSignatureSize = 132;
// Offsets within the signature part.
constexpr size_t LegacyCheckOffset = 20;  // c, 16 bytes
constexpr size_t LegacyValueOffset = 36;  // v, 32 bytes
constexpr size_t Ed25519Offset = 68;      // 64 bytes

// The level a package of that name and packed version must reach to be installed.
SignatureLevel requiredSignatureLevel(const std::string& name, uint32_t version);

// The public keys the build accepts (32 bytes each): the Ed25519 signing key and the
// legacy key (the little-endian u-coordinate of its point).
const uint8_t* signingPublicKey();
const uint8_t* legacyPublicKey();

// The scalar h of the legacy scheme: the package hash of the first 20 digest bytes, its
// bytes 8 to 23 XORed with the check value, clamped.
void legacyScalar(uint8_t h[32], const uint8_t digest[32], const uint8_t check[16]);

// True when check value c and value v form a valid legacy signature of the digest
// buffer under publicKey.
bool checkLegacySignature(const uint8_t digest[32], const uint8_t check[16],
                          const uint8_t value[32], const uint8_t publicKey[32]);

// The level that signature part data of size bytes gives the digest buffer under the
// given keys: 2 when it holds 132 bytes or more and the Ed25519 signature is valid, else
// 1 when it holds 68 or more and the legacy signature is valid, else 0.
SignatureLevel signatureLevel(const uint8_t digest[32], const uint8_t* signature, size_t size,
                              const uint8_t* signingKey = signingPublicKey(),
                              const uint8_t* legacyKey = legacyPublicKey());
