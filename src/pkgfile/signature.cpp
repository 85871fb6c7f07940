// Package signature verification: the check of a package file's signature part against
// the digest of its parts, the legacy check, and the level each package needs.
#include "pkgfile/signature.h"

#include <cstring>

#include "pkgfile/curve25519.h"
#include "pkgfile/package_file.h"
#include "pkgfile/package_hash.h"
#include "platform/eddsa.h"

#if !defined(INSTALLER_SIGNING_KEY) || !defined(INSTALLER_LEGACY_KEY)
#error "the build must define INSTALLER_SIGNING_KEY and INSTALLER_LEGACY_KEY"
#endif

namespace {

constexpr int hexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

constexpr bool isHexKey(const char (&text)[65]) {
    for (int i = 0; i < 64; ++i) {
        if (hexValue(text[i]) < 0)
            return false;
    }
    return true;
}

static_assert(sizeof(INSTALLER_SIGNING_KEY) == 65 && sizeof(INSTALLER_LEGACY_KEY) == 65,
              "public keys must be 64 hex digits");
static_assert(isHexKey(INSTALLER_SIGNING_KEY) && isHexKey(INSTALLER_LEGACY_KEY),
              "public keys must be 64 hex digits");

struct PublicKey {
    uint8_t bytes[32];
    explicit PublicKey(const char* hex) {
        for (int i = 0; i < 32; ++i)
            bytes[i] = uint8_t(hexValue(hex[2 * i]) << 4 | hexValue(hex[2 * i + 1]));
    }
};

}  // namespace

const uint8_t* signingPublicKey() {
    static const PublicKey key(INSTALLER_SIGNING_KEY);
    return key.bytes;
}

const uint8_t* legacyPublicKey() {
    static const PublicKey key(INSTALLER_LEGACY_KEY);
    return key.bytes;
}

SignatureLevel requiredSignatureLevel(const std::string& name, uint32_t version) {
    if (name == "branding")
        return SignatureLevel::Legacy;
    if (version <= 0x062E6608)  // up to 6.46.8
        return SignatureLevel::Legacy;
    if (version <= 0x062EFFFF)  // later 6.46 builds
        return SignatureLevel::Ed25519;
    if (version <= 0x06306600)  // up to 6.48
        return SignatureLevel::Legacy;
    if (version >= 0x07000000 && version <= 0x07016203)  // 7.0 up to 7.1beta3
        return SignatureLevel::Legacy;
    return SignatureLevel::Ed25519;
}

void legacyScalar(uint8_t h[32], const uint8_t digest[32], const uint8_t check[16]) {
    packageHash(digest, 20, h);
    for (int i = 0; i < 16; ++i)
        h[8 + i] ^= check[i];
    h[0] &= 0xF8;
    h[31] &= 0x7F;
    h[31] |= 0x40;
}

bool checkLegacySignature(const uint8_t digest[32], const uint8_t check[16],
                          const uint8_t value[32], const uint8_t publicKey[32]) {
    curve25519::LegacyBase base;
    if (!curve25519::prepareBase(base, publicKey))
        return false;
    uint8_t h[32], y[32], r[32];
    legacyScalar(h, digest, check);
    curve25519::combine(y, base, value, h);
    packageHash(y, 32, r);
    return std::memcmp(r, check, 16) == 0;
}

SignatureLevel signatureLevel(const uint8_t digest[32], const uint8_t* signature, size_t size,
                              const uint8_t* signingKey, const uint8_t* legacyKey) {
    if (size >= FullSignatureSize &&
        eddsa::verify(asn1::blob(signingKey, 32), asn1::blob(digest, 32),
                      asn1::blob(signature + Ed25519Offset, 64)))
        return SignatureLevel::Ed25519;
    if (size >= LegacySignatureSize &&
        checkLegacySignature(digest, signature + LegacyCheckOffset, signature + LegacyValueOffset,
                             legacyKey))
        return SignatureLevel::Legacy;
    return SignatureLevel::None;
}

SignatureLevel PackageFile::verify() {
    if (!parts.verifying() || currentType != PartSignature)
        return SignatureLevel::None;
    parts.finishDigest();
    uint32_t unread = parts.unreadCount();
    if (unread < LegacySignatureSize)
        return SignatureLevel::None;
    // Read straight from the source: the signature itself is in no digest.
    size_t wanted = unread >= FullSignatureSize ? FullSignatureSize : LegacySignatureSize;
    uint8_t signature[FullSignatureSize];
    if (parts.readUndigested(signature, wanted) != wanted)
        return SignatureLevel::None;
    return signatureLevel(parts.digest(), signature, wanted);
}
