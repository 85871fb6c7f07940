// One-time set-up of the crypto library.
#pragma once

// Initialises OpenSSL without reading a configuration file, so nothing is looked up on
// the file system after the change of root. Safe to call often.
void initCrypto();
