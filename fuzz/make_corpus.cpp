// Writes the seed corpora of the fuzz targets into DIR/<target>/: small valid inputs made
// with the package writer and signed with the development keys.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "pkgwriter/bundle_writer.h"
#include "pkgwriter/signer.h"

namespace {

std::string corpusDir;
bool failed = false;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
    std::string dir = corpusDir + "/" + target;
    mkdir(corpusDir.c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
}

Dependency entry(const std::string& name, Version min = 0, Version max = 0, int32_t priority = 0) {
    Dependency d;
    d.name = name;
    d.min = min;
    d.max = max;
    d.priority = priority;
    return d;
}

Package record(const std::string& name, Version version) {
    return Package(name, version, 1700000000);
}

std::string signedPackage(const Signer& signer, const Package& package,
                          const std::vector<FileEntry>& files, const std::string& image = "",
                          DigestKind digest = DigestKind::Sha256,
                          SignatureKind kind = SignatureKind::Both, uint32_t magic = PackageMagic) {
    std::string file;
    if (!buildSignedPackage(file, package, files, image, digest, kind, signer, magic)) {
        fprintf(stderr, "could not sign %s\n", package.name.c_str());
        failed = true;
    }
    return file;
}

// A package with every optional part, in the order the readers take them.
std::string everyPart(const Signer& signer) {
    PackageWriter writer;
    writer.part(PartDigestSelector, DigestSelectorData);
    size_t start = writer.body().size();
    Package p = record("webtool", 0x07106601);
    writer.header(p);
    writer.part(PartText24, "t24");
    writer.part(PartArchitecture, "i386");
    writer.part(PartText2, "t2");
    writer.part(PartNote, "web tool");
    writer.list(PartDependencies, {entry("system", 0x07000000)});
    writer.list(PartProvides, {entry("web", 0x07106601, 0x07106601, -1)});
    writer.list(PartConflicts, {entry("oldweb")});
    writer.files({{"bin/webtool", "new tool", 0100755, 0},
                  {"etc/", "", 040755, 0},
                  {"/etc/webtool.conf", "conf", 0100644, 0},
                  {"lib/a.so", "a", 0100644, 3}});
    appendSignature(writer, start, DigestKind::Sha256, SignatureKind::Both, signer);
    writer.part(PartArchitecture, "i386").part(PartDependencies, "");
    return writer.bytes();
}

std::string bundle(const Signer& signer) {
    std::vector<BundleMember> members(2);
    std::string error;
    takeMember(signedPackage(signer, record("web-a", 0x07106601), {{"bin/a", "a"}}), members[0],
               error);
    takeMember(signedPackage(signer, record("web-b", 0x07106601), {{"bin/b", "b"}}), members[1],
               error);
    std::string file;
    Package b = record("web-bundle", 0x07106601);
    b.isBundle = true;
    if (!buildBundle(file, b, {entry("web-b")}, members, PackageMagic, error)) {
        fprintf(stderr, "bundle: %s\n", error.c_str());
        failed = true;
    }
    return file;
}

void packageSeeds(const Signer& signer, const std::string& target) {
    put(target, "every-part", everyPart(signer));
    put(target, "bundle", bundle(signer));
    Package upgrade = record("webtool", 0x07106601);
    upgrade.deps = {entry("system")};
    put(target, "upgrade",
        signedPackage(signer, upgrade, {{"bin/webtool", "new tool"}, {"share/webtool", ""}}));
    put(target, "legacy-sha1",
        signedPackage(signer, record("branding", 0x06280000), {{"etc/brand", "b"}}, "",
                      DigestKind::Sha1, SignatureKind::Legacy));
    put(target, "unrecorded",
        signedPackage(signer, record("patch", 0x07106601), {{"bin/sh", "patched"}}, "",
                      DigestKind::Sha256, SignatureKind::Both, UnrecordedMagic));
    Package boot = record("system", 0x07106602);
    boot.flags = FlagBootImage;
    put(target, "boot-image", signedPackage(signer, boot, {{"boot/kernel", "k"}}, "image bytes"));
    Package conflicting = record("other", 0x07106601);
    conflicting.conflicts = {entry("extra")};
    put(target, "conflicting", signedPackage(signer, conflicting, {{"bin/other", "o"}}));
    put(target, "header-only", PackageWriter().header(record("bare", 0x07106601)).bytes());
}

void manifestSeeds() {
    put("manifest_load", "saved",
        "M /flash/bin/x /flash/bin/tmpQ3f9Zk\nU /flash/lib/old.so\n"
        "L /flash/var/pdb/system/image /flash/bootimage\n");
    put("manifest_load", "bad-line", "U /flash/a\nM /flash/b\nU /flash/c\n");
    put("manifest_load", "other-tags", "X /flash/a b\nM  /flash/b  /ram/tmp1 rest\n\nU /c\n");
}

void databaseSeeds() {
    const std::string nul(1, '\0');
    put("database_readers", "meta-files",
        "103310853 1489000000\n" + nul + "system 0 0\n" + nul + "web 1 2 -1\n" + nul +
            "oldweb 0 0\n" + nul + "" + nul + "bin/a\n/bin/b\n\n" + nul + "auto\n" + nul + "" +
            nul + "enable\n");
    put("database_readers", "bundle-member",
        "1 2\n" + nul + "x 1\n" + nul + nul + nul + "web-bundle\n" + nul + "bin/a\n" + nul + nul +
            "user\n" + nul + "uninstall\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_corpus DIR\n");
        return 2;
    }
    corpusDir = argv[1];
    Signer signer;
    std::string error;
    if (!loadSignerKeys(signer, std::string(FUZZ_KEY_DIR) + "/development-ed25519.seed",
                        std::string(FUZZ_KEY_DIR) + "/development-legacy.secret", error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    packageSeeds(signer, "package_reader");
    packageSeeds(signer, "install_stream");
    manifestSeeds();
    databaseSeeds();
    put("database_readers", "stored-image", std::string(9, '\0') + bundle(signer));
    return failed ? 1 : 0;
}
