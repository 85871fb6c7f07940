// One-time set-up of the crypto library.
#include "platform/crypto_init.h"

#include <openssl/crypto.h>

void initCrypto() {
    static bool done = false;
    if (done)
        return;
    done = true;
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS, nullptr);
}
