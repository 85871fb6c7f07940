// Ed25519 verification over OpenSSL's EVP interface.
#include "platform/eddsa.h"

#include <openssl/evp.h>

#include "platform/crypto_init.h"

namespace eddsa {

int verify(asn1::blob key, asn1::blob message, asn1::blob signature) {
    if (key.size() != 32 || signature.size() != 64)
        return 0;
    initCrypto();
    EVP_PKEY* publicKey =
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.start, key.size());
    if (!publicKey)
        return 0;
    int valid = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    static const uint8_t empty = 0;
    const uint8_t* text = message.size() ? message.start : &empty;
    if (context && EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, publicKey) == 1 &&
        EVP_DigestVerify(context, signature.start, signature.size(), text, message.size()) == 1)
        valid = 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(publicKey);
    return valid;
}

}  // namespace eddsa
