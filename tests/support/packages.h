// Test support: package files signed with the development keys, and device-root checks.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "pkgwriter/bundle_writer.h"
#include "pkgwriter/signer.h"
#include "support/device_root.h"

// The signer with the development keys.
const Signer& developmentSigner();
// 7.<minor>.<build>: versions that need an Ed25519 signature.
Version version7(unsigned minor, unsigned build = 0);
// A dependency, provides or conflicts entry with open bounds unless given.
Dependency entry(const std::string& name, Version min = 0, Version max = 0);

// What a test package is made of (copyable, unlike a Package).
struct PackageSpec {
    std::string name;
    Version version = 0;
    std::vector<FileEntry> files;
    uint32_t flags = 0;
    std::vector<Dependency> deps, provides, conflicts;
    std::string image;  // not empty: the package keeps its image
    SignatureKind signature = SignatureKind::Both;
    uint32_t magic = PackageMagic;
};
// A test package that keeps image as its image when that is not empty.
PackageSpec spec(const std::string& name = "pkg", Version version = version7(10),
                 const std::vector<FileEntry>& files = {}, uint32_t flags = 0,
                 const std::string& image = "");
// The package file of spec, signed with the development keys (SHA-256 digest).
std::string packageFile(const PackageSpec& spec);
// A signed package of the given name with one file, bin/<name>, holding its name.
std::string simplePackage(const std::string& name, Version version = version7(10));
// A bundle of signed package files; it keeps image as its image when that is not empty.
std::string signedBundle(const Package& bundle, const std::vector<std::string>& members,
                         const std::vector<Dependency>& blocked = {},
                         const std::string& image = "");
// One part as it lies in a file.
std::string partBytes(uint16_t type, const std::string& data);
// file with bytes appended and its header's length field made to match.
std::string appended(std::string file, const std::string& bytes);
// The parts of a package or bundle file, in order (a test failure when it can't be read).
std::vector<PartLocation> partsOf(const std::string& file);
// bytes with the lowest bit of the byte at offset flipped.
std::string flipped(std::string bytes, size_t offset);

bool developmentKeysBuiltIn();
#define REQUIRE_DEVELOPMENT_KEYS() \
    if (!developmentKeysBuiltIn()) \
    GTEST_SKIP() << "this build has its own public keys"
// The library that ends a run at its N-th change (interrupt_after.c); "" where not preloadable.
extern const std::string InterruptLibrary;
#define REQUIRE_INTERRUPT_LIBRARY() \
    if (InterruptLibrary.empty())   \
    GTEST_SKIP() << "only a native build without sanitizers can preload the library"

// The snapshot of the device root less /flash/postlog, which any run may write.
std::map<std::string, std::string> deviceState(const DeviceRoot& root);
// The entry names of the database, in order.
std::vector<std::string> databaseNames(const DeviceRoot& root);
// "installer -r ROOT - args...", the package on standard input.
RunResult installFromStdin(const DeviceRoot& root, const std::string& file,
                           const std::vector<std::string>& args = {},
                           const std::vector<std::string>& env = {});
// The message lines of console output, without the status line's rewrites.
std::vector<std::string> messageLines(const std::string& out);
// The last message line of a run, "" when there is none.
std::string lastMessage(const RunResult& result);
