// Test support: signed package files, bundles and device-root checks.
#include "support/packages.h"

#include <gtest/gtest.h>

#include <sstream>

#include "pkgfile/signature.h"
#include "support/files.h"

#ifndef INTERRUPT_LIBRARY
#define INTERRUPT_LIBRARY ""
#endif
const std::string InterruptLibrary = INTERRUPT_LIBRARY;

const Signer& developmentSigner() {
    static Signer signer;
    static std::string error;
    static bool loaded = loadSignerKeys(signer, sourcePath("keys/development-ed25519.seed"),
                                        sourcePath("keys/development-legacy.secret"), error);
    EXPECT_TRUE(loaded) << error;
    return signer;
}

Version version7(unsigned minor, unsigned build) {
    return 0x07000000u | (minor << 16) | ('f' << 8) | build;
}

Dependency entry(const std::string& name, Version min, Version max) {
    return Dependency{name, min, max};
}

PackageSpec spec(const std::string& name, Version version, const std::vector<FileEntry>& files,
                 uint32_t flags, const std::string& image) {
    return PackageSpec{name, version, files, flags, {}, {}, {}, image};
}

std::string packageFile(const PackageSpec& spec) {
    Package package(spec.name, spec.version, 100);
    package.flags = spec.flags;
    package.deps = spec.deps;
    package.provides = spec.provides;
    package.conflicts = spec.conflicts;
    std::string file;
    EXPECT_TRUE(buildSignedPackage(file, package, spec.files, spec.image, DigestKind::Sha256,
                                   spec.signature, developmentSigner(), spec.magic));
    return file;
}

std::string simplePackage(const std::string& name, Version version) {
    return packageFile(spec(name, version, {{"bin/" + name, name}}));
}

std::string signedBundle(const Package& bundle, const std::vector<std::string>& members,
                         const std::vector<Dependency>& blocked, const std::string& image) {
    std::vector<BundleMember> taken(members.size());
    std::string file, error;
    for (size_t i = 0; i < members.size(); ++i)
        EXPECT_TRUE(takeMember(members[i], taken[i], error)) << error;
    Package header(bundle.name, bundle.version, bundle.buildTime);
    header.keepImage = !image.empty();
    EXPECT_TRUE(buildBundle(file, header, blocked, taken, PackageMagic, error, image)) << error;
    return file;
}

std::string partBytes(uint16_t type, const std::string& data) {
    return le16(type) + le32(uint32_t(data.size())) + data;
}

std::string appended(std::string file, const std::string& bytes) {
    file += bytes;
    return file.substr(0, 4) + le32(uint32_t(file.size() - 8)) + file.substr(8);
}

std::vector<PartLocation> partsOf(const std::string& file) {
    std::vector<PartLocation> parts;
    std::string error;
    EXPECT_TRUE(listParts(file, parts, error)) << error;
    return parts;
}

std::string flipped(std::string bytes, size_t offset) {
    bytes[offset] = char(bytes[offset] ^ 1);
    return bytes;
}

bool developmentKeysBuiltIn() {
    return hexText(signingPublicKey(), 32) ==
           "3a5967559c2af691bbeaa38ca08cfbc282ed1e494848e3a5f78f788a060bde9f";
}

std::map<std::string, std::string> deviceState(const DeviceRoot& root) {
    std::map<std::string, std::string> state = root.snapshot();
    state.erase("flash/postlog");
    return state;
}

std::vector<std::string> databaseNames(const DeviceRoot& root) {
    std::set<std::string> names = directoryNames(root.path("flash/var/pdb"));
    return std::vector<std::string>(names.begin(), names.end());
}

RunResult installFromStdin(const DeviceRoot& root, const std::string& file,
                           const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
    std::vector<std::string> all = args;
    all.push_back("-");
    return root.runOnRoot(all, file, env);
}

std::vector<std::string> messageLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t shown = line.rfind("\x1b[?25h");  // the status line ends with its cursor shown
        if (shown != std::string::npos)
            line.erase(0, shown + 6);
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::string lastMessage(const RunResult& result) {
    std::vector<std::string> lines = messageLines(result.out);
    return lines.empty() ? "" : lines.back();
}
