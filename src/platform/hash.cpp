// SHA-1 and SHA-256 over OpenSSL's digest interface.
#include "platform/hash.h"

#include <openssl/evp.h>

#include "platform/crypto_init.h"

Hash::~Hash() = default;

EvpHash::EvpHash(bool sha256) : context(nullptr), useSha256(sha256) {
    initCrypto();
    context = EVP_MD_CTX_new();
    restart();
}

EvpHash::~EvpHash() {
    EVP_MD_CTX_free(context);
}

void EvpHash::restart() {
    EVP_DigestInit_ex(context, useSha256 ? EVP_sha256() : EVP_sha1(), nullptr);
}

void EvpHash::update(const uint8_t* bytes, size_t count) {
    if (count != 0)
        EVP_DigestUpdate(context, bytes, count);
}

void EvpHash::finish(uint8_t out[32]) {
    unsigned int size = 0;
    EVP_DigestFinal_ex(context, out, &size);
    restart();
}
