// Signing of package files: Ed25519 and legacy signatures over a package's digest, and
// complete signed package files built as the installer's reader digests them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pkgwriter/package_writer.h"

// The digest a package file is signed over: SHA-256, announced by a digest selector part
// at the start of the file, or SHA-1 without one.
enum class DigestKind { Sha256, Sha1 };
// Which signatures the signature part carries. Ed25519 alone still writes a 132-byte part
// whose legacy half is zeros; None writes no signature part.
enum class SignatureKind { Both, Ed25519, Legacy, None };

// Data of the digest selector part that pkgtool writes.
extern const char* const DigestSelectorData;

class Signer {
  public:
    Signer() = default;

    // A 32-byte Ed25519 seed (the private key of RFC 8032). False when unusable.
    bool setEd25519Seed(const uint8_t seed[32]);
    // A 32-byte legacy secret; the scalar is the secret clamped as for X25519, and the
    // public key is the u-coordinate of that multiple of the base point.
    bool setLegacySecret(const uint8_t secret[32]);
    bool hasEd25519() const { return ed25519Set; }
    bool hasLegacy() const { return legacySet; }
    const uint8_t* ed25519PublicKey() const { return ed25519Public; }
    const uint8_t* legacyPublicKey() const { return legacyPublic; }

    // Signs the 32-byte digest buffer. False without the key, or when the signature does
    // not verify (nothing is written then).
    bool signEd25519(const uint8_t digest[32], uint8_t signature[64]) const;
    bool signLegacy(const uint8_t digest[32], uint8_t check[16], uint8_t value[32]) const;

    // The data of a signature part of the given kind (68 or 132 bytes). False when a key
    // it needs is missing or a signature failed.
    bool signaturePart(const uint8_t digest[32], SignatureKind kind, std::string& data) const;

  private:
    bool ed25519Set = false;
    bool legacySet = false;
    uint8_t ed25519Seed[32] = {};
    uint8_t ed25519Public[32] = {};
    // The legacy scalar x' with x'·G = |P| (x or its negative), little-endian.
    uint8_t legacyScalarForEvenY[32] = {};
    uint8_t legacyPublic[32] = {};
};

// Reads a key file: 64 hex digits (surrounding white space allowed). False with a
// message in error otherwise.
bool readKeyFile(const std::string& path, uint8_t key[32], std::string& error);
std::string hexText(const uint8_t* bytes, size_t size);
// False when text is not exactly 2·size hex digits.
bool parseHex(const std::string& text, uint8_t* bytes, size_t size);

// The digest buffer the reader computes over bytes, which run from a package's type-1
// part header up to and including its signature part header: SHA-1 fills 20 bytes and
// leaves 12 zeros.
void packageDigest(const std::string& bytes, DigestKind kind, uint8_t digest[32]);

// Appends a signature part of the given kind for the package whose type-1 part header
// begins at packageStart within writer.body(). None appends nothing. False when signing
// failed; the writer is unchanged then.
bool appendSignature(PackageWriter& writer, size_t packageStart, DigestKind digest,
                     SignatureKind kind, const Signer& signer);

// A complete signed package file: the digest selector (for SHA-256), the package's parts
// as addPackageParts writes them, and the signature part. False when signing failed.
bool buildSignedPackage(std::string& file, const Package& package,
                        const std::vector<FileEntry>& files, const std::string& image,
                        DigestKind digest, SignatureKind kind, const Signer& signer,
                        uint32_t magic = PackageMagic);

// Loads the key files given (an empty path skips that key). False with a message in
// error when a file cannot be read or holds no usable key.
bool loadSignerKeys(Signer& signer, const std::string& ed25519SeedPath,
                    const std::string& legacySecretPath, std::string& error);
