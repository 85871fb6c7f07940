// pkgtool keygen: a new Ed25519 key pair and a new legacy key pair.
#include <openssl/rand.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "pkgwriter/signer.h"

int keygenCommand(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return fail(ExitUsage, "usage: pkgtool keygen DIR");
    const std::string& dir = args[0];
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return fail(ExitFailure, "cannot make " + dir + ": " + std::strerror(errno));
    const std::string seedPath = dir + "/ed25519.seed", secretPath = dir + "/legacy.secret";
    struct stat info;
    for (const std::string& path : {seedPath, secretPath}) {
        if (lstat(path.c_str(), &info) == 0)
            return fail(ExitFailure, path + " exists; keygen never overwrites a key");
    }

    uint8_t seed[32], secret[32];
    if (RAND_priv_bytes(seed, 32) != 1 || RAND_priv_bytes(secret, 32) != 1)
        return fail(ExitFailure, "no random bytes to be had");
    secret[0] &= 0xF8;
    secret[31] = uint8_t((secret[31] & 0x7F) | 0x40);
    Signer signer;
    if (!signer.setEd25519Seed(seed) || !signer.setLegacySecret(secret))
        return fail(ExitFailure, "key generation failed");
    // A key pair proves itself before it is kept.
    uint8_t digest[32] = {}, check[16], value[32], signature[64];
    if (!signer.signLegacy(digest, check, value) || !signer.signEd25519(digest, signature))
        return fail(ExitFailure, "the new keys do not sign");

    const std::string signingKey = hexText(signer.ed25519PublicKey(), 32);
    const std::string legacyKey = hexText(signer.legacyPublicKey(), 32);
    std::string error;
    if (!writeWholeFile(seedPath, hexText(seed, 32) + "\n", error, 0600) ||
        !writeWholeFile(secretPath, hexText(secret, 32) + "\n", error, 0600) ||
        !writeWholeFile(dir + "/ed25519.pub", signingKey + "\n", error) ||
        !writeWholeFile(dir + "/legacy.pub", legacyKey + "\n", error))
        return fail(ExitFailure, error);
    std::cout << "-DINSTALLER_SIGNING_KEY=" << signingKey << " -DINSTALLER_LEGACY_KEY=" << legacyKey
              << "\n"
              << "sign with: pkgtool build --ed25519-key " << seedPath << " --legacy-key "
              << secretPath << " ...\n";
    return 0;
}
