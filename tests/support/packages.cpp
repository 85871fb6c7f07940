// Test support: signed package files, bundles and device-root checks.
#include "support/packages.h"

#include <gtest/gtest.h>

#include <sstream>

#include "pkgfile/signature.h"
#include "pkgwriter/bundle_writer.h"
#include "support/files.h"

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
                 uint32_t flags) {
    return PackageSpec{name, version, files, flags, {}, {}, {}, {}};
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

std::string signedBundle(const Package& bundle, const std::vector<std::string>& members,
                         const std::vector<Dependency>& blocked, const std::string& image) {
    // As the bundle writer lays it out, with an image part when one is given.
    PackageWriter writer;
    writer.part(PartDigestSelector, DigestSelectorData);
    writer.header(bundle, PartBundleHeader);
    if (!image.empty())
        writer.part(PartImage, image);
    if (!blocked.empty())
        writer.list(PartBlockList, blocked);
    for (const std::string& file : members) {
        BundleMember taken;
        std::string error;
        EXPECT_TRUE(takeMember(file, taken, error)) << error;
        writer.raw(taken.parts);
    }
    return writer.bytes();
}

std::string partBytes(uint16_t type, const std::string& data) {
    return le16(type) + le32(uint32_t(data.size())) + data;
}

std::string appended(std::string file, const std::string& bytes) {
    file += bytes;
    return file.substr(0, 4) + le32(uint32_t(file.size() - 8)) + file.substr(8);
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
        size_t shown = line.rfind("\x1b[?25h");
        if (shown != std::string::npos)
            line.erase(0, shown + 6);
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::string simplePackage(const std::string& name, Version version) {
    return packageFile(spec(name, version, {{"bin/" + name, name}}));
}

std::string lastMessage(const RunResult& result) {
    std::vector<std::string> lines = messageLines(result.out);
    return lines.empty() ? "" : lines.back();
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
