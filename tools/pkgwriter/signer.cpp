// Signing of package files: Ed25519 through OpenSSL, the legacy scheme with OpenSSL's
// BIGNUM for the scalars, and signed package files.
#include "pkgwriter/signer.h"

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "pkgfile/curve25519.h"
#include "pkgfile/package_hash.h"
#include "pkgfile/signature.h"
#include "platform/crypto_init.h"
#include "platform/eddsa.h"
#include "platform/hash.h"

const char* const DigestSelectorData = "sha256";

namespace {

// The order of the base point: 2^252 + 27742317777372353535851937790883648493.
const char* const GroupOrderHex =
    "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed";

struct BignumFree {
    void operator()(BIGNUM* n) const { BN_free(n); }
};
struct BignumContextFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

Bignum groupOrder() {
    BIGNUM* order = nullptr;
    BN_hex2bn(&order, GroupOrderHex);
    return Bignum(order);
}

Bignum fromLittleEndian(const uint8_t bytes[32]) {
    return Bignum(BN_lebin2bn(bytes, 32, nullptr));
}

bool toLittleEndian(const BIGNUM* n, uint8_t bytes[32]) {
    return BN_bn2lebinpad(n, bytes, 32) == 32;
}

}  // namespace

bool Signer::setEd25519Seed(const uint8_t seed[32]) {
    initCrypto();
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32));
    size_t size = 32;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), ed25519Public, &size) != 1 || size != 32)
        return false;
    std::memcpy(ed25519Seed, seed, 32);
    ed25519Set = true;
    return true;
}

bool Signer::setLegacySecret(const uint8_t secret[32]) {
    initCrypto();
    uint8_t scalar[32];
    std::memcpy(scalar, secret, 32);
    scalar[0] &= 0xF8;
    scalar[31] &= 0x7F;
    scalar[31] |= 0x40;
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar, 32));
    size_t size = 32;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), legacyPublic, &size) != 1 || size != 32)
        return false;

    // x·G is P; the check works with |P|, the one of ±P with even y. x' = x when x·G is
    // already |P| (then |P| + (ℓ - x)·G is the point at infinity), else ℓ - x.
    curve25519::LegacyBase base;
    if (!curve25519::prepareBase(base, legacyPublic))
        return false;
    std::unique_ptr<BN_CTX, BignumContextFree> context(BN_CTX_new());
    Bignum order = groupOrder(), x = fromLittleEndian(scalar), negated(BN_new());
    if (!context || !order || !x || !negated ||
        !BN_nnmod(x.get(), x.get(), order.get(), context.get()) ||
        !BN_mod_sub(negated.get(), order.get(), x.get(), order.get(), context.get()))
        return false;
    uint8_t negatedBytes[32], one[32] = {1}, u[32];
    static const uint8_t infinity[32] = {};
    if (!toLittleEndian(negated.get(), negatedBytes))
        return false;
    curve25519::combine(u, base, one, negatedBytes);
    const BIGNUM* chosen = std::memcmp(u, infinity, 32) == 0 ? x.get() : negated.get();
    if (!toLittleEndian(chosen, legacyScalarForEvenY))
        return false;
    legacySet = true;
    return true;
}

bool Signer::signEd25519(const uint8_t digest[32], uint8_t signature[64]) const {
    if (!ed25519Set)
        return false;
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, ed25519Seed, 32));
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    size_t size = 64;
    if (!key || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), signature, &size, digest, 32) != 1 || size != 64)
        return false;
    return eddsa::verify(asn1::blob(ed25519Public, 32), asn1::blob(digest, 32),
                         asn1::blob(signature, 64)) != 0;
}

bool Signer::signLegacy(const uint8_t digest[32], uint8_t check[16], uint8_t value[32]) const {
    if (!legacySet)
        return false;
    curve25519::LegacyBase base;
    if (!curve25519::prepareBase(base, legacyPublic))
        return false;
    std::unique_ptr<BN_CTX, BignumContextFree> context(BN_CTX_new());
    Bignum order = groupOrder(), k;
    if (!context || !order)
        return false;
    // k is derived from the secret scalar and the digest, as Ed25519 derives its nonce,
    // so that the same key and digest always give the same signature and signing needs
    // no random source: k = SHA-512(tag || x' || digest || counter) mod ℓ, with the
    // counter raised in the rare case that gives 0.
    static const char tag[] = "pkgtool legacy signature nonce";
    for (uint8_t counter = 0; !k || BN_is_zero(k.get()); ++counter) {
        uint8_t input[sizeof tag + 32 + 32 + 1], hash[64];
        std::memcpy(input, tag, sizeof tag);
        std::memcpy(input + sizeof tag, legacyScalarForEvenY, 32);
        std::memcpy(input + sizeof tag + 32, digest, 32);
        input[sizeof tag + 64] = counter;
        unsigned int size = 0;
        if (counter == 255 ||
            EVP_Digest(input, sizeof input, hash, &size, EVP_sha512(), nullptr) != 1 || size != 64)
            return false;
        k.reset(BN_lebin2bn(hash, 64, nullptr));
        if (!k || !BN_nnmod(k.get(), k.get(), order.get(), context.get()))
            return false;
    }

    // Y = u(k·G); c = the first 16 bytes of its package hash; h from the digest and c;
    // v = (k - h) / x' (mod ℓ), so that v·|P| + h·G = k·G.
    uint8_t kBytes[32], zero[32] = {}, y[32], hashOfY[32], h[32];
    if (!toLittleEndian(k.get(), kBytes))
        return false;
    curve25519::combine(y, base, zero, kBytes);
    packageHash(y, 32, hashOfY);
    uint8_t c[16];
    std::memcpy(c, hashOfY, 16);
    legacyScalar(h, digest, c);

    Bignum hNumber = fromLittleEndian(h), x = fromLittleEndian(legacyScalarForEvenY),
           inverse(BN_new()), v(BN_new());
    if (!hNumber || !x || !inverse || !v ||
        !BN_mod_sub(v.get(), k.get(), hNumber.get(), order.get(), context.get()) ||
        !BN_mod_inverse(inverse.get(), x.get(), order.get(), context.get()) ||
        !BN_mod_mul(v.get(), v.get(), inverse.get(), order.get(), context.get()))
        return false;
    uint8_t vBytes[32];
    if (!toLittleEndian(v.get(), vBytes) || !checkLegacySignature(digest, c, vBytes, legacyPublic))
        return false;
    std::memcpy(check, c, 16);
    std::memcpy(value, vBytes, 32);
    return true;
}

bool Signer::signaturePart(const uint8_t digest[32], SignatureKind kind, std::string& data) const {
    uint8_t part[FullSignatureSize] = {};
    size_t size = kind == SignatureKind::Legacy ? LegacySignatureSize : FullSignatureSize;
    if (kind == SignatureKind::None)
        return false;
    if (kind != SignatureKind::Ed25519 &&
        !signLegacy(digest, part + LegacyCheckOffset, part + LegacyValueOffset))
        return false;
    if (kind != SignatureKind::Legacy && !signEd25519(digest, part + Ed25519Offset))
        return false;
    data.assign(reinterpret_cast<const char*>(part), size);
    return true;
}

std::string hexText(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

bool parseHex(const std::string& text, uint8_t* bytes, size_t size) {
    if (text.size() != 2 * size)
        return false;
    for (size_t i = 0; i < size; ++i) {
        int value = 0;
        for (size_t j = 0; j < 2; ++j) {
            char c = char(std::tolower(static_cast<unsigned char>(text[2 * i + j])));
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes[i] = uint8_t(value);
    }
    return true;
}

bool readKeyFile(const std::string& path, uint8_t key[32], std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read key file " + path;
        return false;
    }
    std::string text;
    char c;
    // Key files are small; read at most a little more than a key.
    while (text.size() < 200 && in.get(c)) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            text += c;
    }
    if (!parseHex(text, key, 32)) {
        error = "key file " + path + " does not hold 64 hex digits";
        return false;
    }
    return true;
}

bool loadSignerKeys(Signer& signer, const std::string& ed25519SeedPath,
                    const std::string& legacySecretPath, std::string& error) {
    uint8_t key[32];
    if (!ed25519SeedPath.empty()) {
        if (!readKeyFile(ed25519SeedPath, key, error))
            return false;
        if (!signer.setEd25519Seed(key)) {
            error = "unusable Ed25519 key in " + ed25519SeedPath;
            return false;
        }
    }
    if (!legacySecretPath.empty()) {
        if (!readKeyFile(legacySecretPath, key, error))
            return false;
        if (!signer.setLegacySecret(key)) {
            error = "unusable legacy key in " + legacySecretPath;
            return false;
        }
    }
    return true;
}

void packageDigest(const std::string& bytes, DigestKind kind, uint8_t digest[32]) {
    std::memset(digest, 0, 32);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (kind == DigestKind::Sha256) {
        SHA256 hash;
        hash.update(data, bytes.size());
        hash.finish(digest);
    } else {
        SHA1 hash;
        hash.update(data, bytes.size());
        hash.finish(digest);
    }
}

bool appendSignature(PackageWriter& writer, size_t packageStart, DigestKind digest,
                     SignatureKind kind, const Signer& signer) {
    if (kind == SignatureKind::None)
        return true;
    uint32_t size =
        uint32_t(kind == SignatureKind::Legacy ? LegacySignatureSize : FullSignatureSize);
    // The digest ends with the signature part's own header, length included.
    std::string covered = writer.body().substr(packageStart) + le16(PartSignature) + le32(size);
    uint8_t buffer[32];
    packageDigest(covered, digest, buffer);
    std::string data;
    if (!signer.signaturePart(buffer, kind, data))
        return false;
    writer.part(PartSignature, data);
    return true;
}

bool buildSignedPackage(std::string& file, const Package& package,
                        const std::vector<FileEntry>& files, const std::string& image,
                        DigestKind digest, SignatureKind kind, const Signer& signer,
                        uint32_t magic) {
    PackageWriter writer(magic);
    if (digest == DigestKind::Sha256)
        writer.part(PartDigestSelector, DigestSelectorData);
    size_t start = writer.body().size();
    addPackageParts(writer, package, files, image);
    if (!appendSignature(writer, start, digest, kind, signer))
        return false;
    file = writer.bytes();
    return true;
}
