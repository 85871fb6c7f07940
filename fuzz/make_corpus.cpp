// Writes the seed corpora of the package fuzz targets into DIR/<target>/: small valid
// inputs made with the package writer and signed with the development keys. The seeds of
// the text readers are written by hand.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "pkgwriter/bundle_writer.h"
#include "pkgwriter/signer.h"

namespace {

Signer signer;
bool failed = false;

void put(const std::string& dir, const std::string& name, const std::string& bytes) {
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
}

Package record(const std::string& name, Version version = 0x07106601) {
    return Package(name, version, 1700000000);
}

std::string signedPackage(const Package& package, const std::vector<FileEntry>& files,
                          const std::string& image = "", DigestKind digest = DigestKind::Sha256,
                          SignatureKind kind = SignatureKind::Both, uint32_t magic = PackageMagic) {
    std::string file;
    if (!buildSignedPackage(file, package, files, image, digest, kind, signer, magic)) {
        fprintf(stderr, "could not sign %s\n", package.name.c_str());
        failed = true;
    }
    return file;
}

// A package with every optional part, in the order the readers take them, and parts no
// reader asks for after its signature.
std::string everyPart() {
    PackageWriter writer;
    writer.part(PartDigestSelector, DigestSelectorData);
    size_t start = writer.body().size();
    writer.header(record("webtool")).part(PartText24, "t24").part(PartArchitecture, "i386");
    writer.part(PartText2, "t2").part(PartNote, "web tool");
    writer.list(PartDependencies, {{"system", 0x07000000}});
    writer.list(PartProvides, {{"web", 0x07106601, 0x07106601, -1}});
    writer.list(PartConflicts, {{"oldweb"}});
    writer.files({{"bin/webtool", "new tool", 0100755, 0},
                  {"etc/", "", 040755, 0},
                  {"/etc/webtool.conf", "conf", 0100644, 0},
                  {"lib/a.so", "a", 0100644, 3}});
    appendSignature(writer, start, DigestKind::Sha256, SignatureKind::Both, signer);
    writer.part(PartArchitecture, "i386").part(PartDependencies, "");
    return writer.bytes();
}

std::string bundle() {
    std::vector<BundleMember> members(2);
    std::string file, error;
    takeMember(signedPackage(record("web-a"), {{"bin/a", "a"}}), members[0], error);
    takeMember(signedPackage(record("web-b"), {{"bin/b", "b"}}), members[1], error);
    Package b = record("web-bundle");
    b.isBundle = true;
    if (!buildBundle(file, b, {{"web-b"}}, members, PackageMagic, error)) {
        fprintf(stderr, "bundle: %s\n", error.c_str());
        failed = true;
    }
    return file;
}

void packageSeeds(const std::string& dir) {
    put(dir, "every-part", everyPart());
    put(dir, "bundle", bundle());
    Package upgrade = record("webtool"), boot = record("system", 0x07106602),
            conflicting = record("other");
    upgrade.deps = {{"system"}};
    put(dir, "upgrade",
        signedPackage(upgrade, {{"bin/webtool", "new tool"}, {"share/webtool", ""}}));
    put(dir, "legacy-sha1",
        signedPackage(record("branding", 0x06280000), {{"etc/brand", "b"}}, "", DigestKind::Sha1,
                      SignatureKind::Legacy));
    put(dir, "unrecorded",
        signedPackage(record("patch"), {{"bin/sh", "patched"}}, "", DigestKind::Sha256,
                      SignatureKind::Both, UnrecordedMagic));
    boot.flags = FlagBootImage;
    put(dir, "boot-image", signedPackage(boot, {{"boot/kernel", "k"}}, "image bytes"));
    conflicting.conflicts = {{"extra"}};
    put(dir, "conflicting", signedPackage(conflicting, {{"bin/other", "o"}}));
    put(dir, "header-only", PackageWriter().header(record("bare")).bytes());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_corpus DIR\n");
        return 2;
    }
    std::string dir = argv[1], error;
    if (!loadSignerKeys(signer, FUZZ_KEY_DIR "/development-ed25519.seed",
                        FUZZ_KEY_DIR "/development-legacy.secret", error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    mkdir(dir.c_str(), 0755);
    packageSeeds(dir + "/package_reader");
    packageSeeds(dir + "/install_stream");
    // A database entry whose files are all empty, followed by a stored image.
    put(dir + "/database_readers", "stored-image", std::string(9, '\0') + bundle());
    return failed ? 1 : 0;
}
