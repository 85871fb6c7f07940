// Hostile package files, cut short, damaged, or signed but unsafe, on standard input and in
// the download directory: each shows its status and message and changes nothing else.
#include <gtest/gtest.h>

#include <algorithm>

#include "pkgwriter/bundle_writer.h"
#include "support/packages.h"

namespace {

const char FileName[] = "hostile.npk";
constexpr Version Offered = 0x07106601;  // 7.16.1, which needs the Ed25519 signature

std::string broken(const std::string& display) {
    return "ERROR: installation of " + display + " failed: broken package";
}

std::string notMadeFor(const std::string& arch) {
    return "ERROR: can not install webtool-7.16.1: it is not made for i386, but for " + arch;
}

const std::string BrokenFile = std::string("ERROR: broken package ") + FileName;
const std::string BrokenWebtool = broken("webtool-7.16.1"), BrokenSuite = broken("suite-7.16.1");
// Whatever a file holds, the installer needs no more; the sanitizers' shadow memory needs more.
#if defined(__SANITIZE_ADDRESS__)
const std::string SmallAddressSpace = "ASAN_OPTIONS=detect_leaks=0";
#else
const std::string SmallAddressSpace = std::string(AddressSpaceLimit) + std::to_string(64 << 20);
#endif

struct HostileFile {
    std::string what, bytes;
    int status;  // of "installer -"; the upgrade run ends with 0
    // The messages allowed in the post-install log ("" for none) of either run.
    std::vector<std::string> fromStdin, fromDownload;
};

// Read, and refused for the reason in message, from either place.
HostileFile refused(const std::string& what, const std::string& bytes,
                    const std::string& message = BrokenWebtool, int status = 1) {
    return {what, bytes, status, {message}, {message}};
}

// Not a package file that the upgrade run can read; "installer -" shows fromStdin.
HostileFile unreadable(const std::string& what, const std::string& bytes,
                       const std::string& fromStdin = "") {
    return {what, bytes, 1, {fromStdin}, {BrokenFile}};
}

bool isList(uint16_t type) {
    return type == PartDependencies || type == PartProvides || type == PartConflicts;
}

// The text a message shows of length bytes at offset: up to the first NUL.
std::string textAt(const std::string& bytes, size_t offset, size_t length) {
    std::string text = bytes.substr(offset, length);
    return text.substr(0, text.find('\0'));
}

// Keys the installer does not know.
const Signer& stranger() {
    static Signer signer;
    uint8_t key[32] = {0x42, 0x43, 0x44};
    EXPECT_TRUE(signer.setEd25519Seed(key) && signer.setLegacySecret(key));
    return signer;
}

std::string packed(const std::vector<FileEntry>& files) {
    return compress(encodeFileEntries(files));
}

const std::vector<FileEntry> WebtoolFiles = {{"bin/webtool", "new tool", 0100755},
                                             {"etc/webtool.conf", std::string(3000, 'c')}};

// webtool 7.16.1 with every optional part the readers know, signed.
std::string webtool(const std::string& filesPart = packed(WebtoolFiles),
                    const std::string& name = "webtool", SignatureKind kind = SignatureKind::Both,
                    const Signer& by = developmentSigner()) {
    PackageWriter writer;
    writer.part(PartDigestSelector, DigestSelectorData);
    size_t start = writer.body().size();
    writer.header(Package(name, Offered, 1700000000))
        .part(PartText24, "text of part 24")
        .part(PartArchitecture, "i386")
        .part(PartText2, "text of part 2")
        .part(PartNote, "a web tool")
        .list(PartDependencies, {entry("system")})
        .list(PartProvides, {entry("web", Offered)})
        .list(PartConflicts, {entry("oldweb")})
        .part(PartImage, "image of the package")
        .part(PartFiles, filesPart);
    EXPECT_TRUE(appendSignature(writer, start, DigestKind::Sha256, kind, by));
    return writer.bytes();
}

// A bundle suite 7.16.1 of two members, built by hand so that it may be malformed.
std::string suite(const std::string& firstMember = "suite-a",
                  const std::vector<Dependency>& deps = {}) {
    PackageWriter writer;
    writer.part(PartDigestSelector, DigestSelectorData)
        .header(Package("suite", Offered, 1700000000), PartBundleHeader)
        .list(PartDependencies, deps)
        .list(PartBlockList, {entry("suite-b")});
    for (const std::string& name : {firstMember, std::string("suite-b")}) {
        BundleMember taken;
        std::string error;
        EXPECT_TRUE(takeMember(simplePackage(name, Offered), taken, error)) << error;
        writer.raw(taken.parts);
    }
    return writer.bytes();
}

// suite cut short at the start of a part: "installer -" shows nothing before the bundle
// header, the broken bundle with status 3 before the first member, with 2 after.
HostileFile suiteCutAt(const std::string& bundle, size_t cut) {
    int status = 0;
    for (const PartLocation& part : partsOf(bundle))
        if (part.headerOffset < cut && part.type == PartBundleHeader)
            status = 3;
        else if (part.headerOffset < cut && part.type == PartPackageHeader)
            status = 2;
    std::string what = "suite cut at " + std::to_string(cut), bytes = bundle.substr(0, cut);
    return status == 0 ? unreadable(what, bytes)
                       : HostileFile{what, bytes, status, {BrokenSuite}, {BrokenFile}};
}

// Installed: system and webtool 7.15, whose upgrade the hostile files pretend to be.
void installSystem(const DeviceRoot& root) {
    const std::string pdb = "flash/var/pdb/";
    root.writeFile(pdb + "system/version", "118515200 1700000000\n");
    root.writeFile(pdb + "system/deps", "");
    root.writeFile(pdb + "system/files", "bin/sh\n");
    root.writeFile("flash/bin/sh", "shell", 0755);
    root.writeFile(pdb + "webtool/version", "118449664 1600000000\n");
    root.writeFile(pdb + "webtool/deps", "system 0 0\n");
    root.writeFile(pdb + "webtool/files", "bin/webtool\n");
    root.writeFile("flash/bin/webtool", "old tool", 0755);
}

void expectAllRefused(const std::vector<HostileFile>& files) {
    for (const HostileFile& file : files) {
        for (bool fromStdin : {true, false}) {
            std::string where = file.what + (fromStdin ? ", on standard input" : ", downloaded");
            DeviceRoot root;
            installSystem(root);
            if (!fromStdin)
                root.writeFile(std::string("rw/pckg/.download/") + FileName, file.bytes);
            auto before = deviceState(root);
            RunResult run = fromStdin ? root.runOnRoot({"-"}, file.bytes, {SmallAddressSpace})
                                      : root.runOnRoot({}, "", {SmallAddressSpace});
            std::string log = root.readFile("flash/postlog");
            EXPECT_EQ(run.status, fromStdin ? file.status : 0) << where;
            const std::vector<std::string>& allowed =
                fromStdin ? file.fromStdin : file.fromDownload;
            EXPECT_TRUE(std::any_of(
                allowed.begin(), allowed.end(),
                [&](const std::string& m) { return log == (m.empty() ? m : m + "\n"); }))
                << where << ": " << log << "\n"
                << run.err;
            EXPECT_EQ(deviceState(root), before) << where << ": the device changed";
        }
    }
    printf("%zu hostile files\n", files.size());
}

}  // namespace

// The files the hostile ones are made from install.
TEST(HostilePackageTest, ValidFilesInstall) {
    REQUIRE_DEVELOPMENT_KEYS();
    for (const std::string& file : {webtool(), suite()}) {
        DeviceRoot root;
        installSystem(root);
        EXPECT_EQ(root.runOnRoot({"-"}, file).status, 0) << root.readFile("flash/postlog");
    }
}

// "installer -" shows nothing while the header or a list is incomplete, the architecture
// read so far when the cut falls in it, else the broken package.
TEST(HostilePackageTest, CutShortAtEveryPartBoundaryAndWithinEveryPart) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string file = webtool();
    std::vector<HostileFile> files;
    auto cutAt = [&](size_t cut, const std::string& message) {
        files.push_back(
            unreadable("webtool cut at " + std::to_string(cut), file.substr(0, cut), message));
    };
    cutAt(0, "");
    cutAt(4, "");  // within the file header
    for (const PartLocation& part : partsOf(file)) {
        size_t data = part.headerOffset + 6, middle = data + part.length / 2;
        bool headerCut = part.type == PartDigestSelector || part.type == PartPackageHeader;
        cutAt(part.headerOffset, headerCut ? "" : BrokenWebtool);
        cutAt(middle, headerCut || isList(part.type)  ? ""
                      : part.type == PartArchitecture ? notMadeFor(file.substr(data, middle - data))
                                                      : BrokenWebtool);
    }
    const std::string bundle = suite();
    for (const PartLocation& part : partsOf(bundle))
        files.push_back(suiteCutAt(bundle, part.headerOffset));
    expectAllRefused(files);
}

TEST(HostilePackageTest, DamagedPartHeadersAndData) {
    REQUIRE_DEVELOPMENT_KEYS();
    std::vector<HostileFile> files;
    const std::string file = webtool();
    for (const PartLocation& part : partsOf(file)) {
        std::string at = " of part " + std::to_string(part.type);
        size_t data = part.headerOffset + 6;
        // A length one off makes the rest garbage: no package or a broken one. An
        // architecture part one off is read one byte short or long.
        auto withLength = [&](uint32_t length) {
            return std::string(file).replace(part.headerOffset + 2, 4, le32(length));
        };
        for (int delta : {-1, 1}) {
            std::string what = "length " + std::to_string(delta) + at;
            std::string bytes = withLength(uint32_t(part.length + delta));
            if (part.type == PartArchitecture)
                files.push_back(
                    refused(what, bytes, notMadeFor(textAt(file, data, part.length + delta))));
            else if (part.length > 0 || delta > 0)
                files.push_back({what, bytes, 1, {"", BrokenWebtool}, {BrokenFile, BrokenWebtool}});
        }
        // A part that runs to the end swallows the rest, the header with a selector.
        std::string endless = withLength(0xFFFFFFFF);
        if (part.type == PartDigestSelector)
            files.push_back(unreadable("length 0xFFFFFFFF" + at, endless));
        else if (part.type == PartArchitecture)
            files.push_back(refused("length 0xFFFFFFFF" + at, endless,
                                    notMadeFor(textAt(file, data, file.size()))));
        else if (part.type != PartSignature)  // a signature part may run on: it is complete
            files.push_back(refused("length 0xFFFFFFFF" + at, endless));
        // A part of a type no reader knows is passed over, and the signature no longer fits.
        std::string unknown = std::string(file).replace(part.headerOffset, 2, le16(0x7777));
        files.push_back(part.type == PartPackageHeader ? unreadable("unknown type" + at, unknown)
                                                       : refused("unknown type" + at, unknown));
        // A bit flip in a signed part changes what is read or only what is signed.
        size_t flip = data + (part.type == PartSignature ? 68 : isList(part.type) ? 2 : 0);
        std::string message =
            part.type == PartPackageHeader  ? broken("vebtool-7.16.1")
            : part.type == PartArchitecture ? notMadeFor("h386")
            : part.type == PartDependencies
                ? "ERROR: can not install webtool-7.16.1: rystem is not installed, but is required"
                : BrokenWebtool;
        if (part.type != PartDigestSelector)
            files.push_back(refused("byte flipped" + at, flipped(file, flip), message));
    }

    size_t header = partsOf(file)[1].headerOffset + 6;
    files.push_back(refused("version flipped", flipped(file, header + 16), broken("webtool-7.16")));
    files.push_back(unreadable("magic flipped", flipped(file, 0)));
    files.push_back(unreadable("foreign magic", le32(0x464C457F) + file.substr(4)));
    expectAllRefused(files);
}

TEST(HostilePackageTest, SignedFilesWithHostileContent) {
    REQUIRE_DEVELOPMENT_KEYS();
    std::vector<HostileFile> files;
    std::string deep;
    while (deep.size() < 64000)
        deep += "d/";
    std::vector<std::string> names = {std::string("bin/a\0b", 7), "bin/a\nb", std::string(256, 's'),
                                      "bin/" + std::string(4090, 'l'), deep + "x"};
    for (const char* name :
         {"../escape", "/../escape", "bin/../../escape", "bin/..", "..", "bin/", "", "/", "bin/.",
          "./bin", "bin//sh", ".", "//bin", "var/pdb/system/version", "/var/pdb", "bootimage",
          "postlog", "PCKGS_CHANGED", "UPGRADED"})
        names.push_back(name);
    for (const std::string& name : names)
        files.push_back(refused("entry named \"" + name.substr(0, 40) + "\"",
                                webtool(packed({WebtoolFiles[0], {name, "hostile", 0100755}}))));
    // A folder stands where the entry would go: a rename could not replace it.
    files.push_back(refused("entry named like a folder",
                            webtool(packed({{"bin", "hostile", 0100755}, WebtoolFiles[0]})),
                            "ERROR: installation of webtool-7.16.1 failed: could not create bin: "
                            "Is a directory"));
    for (const std::string& name :
         std::vector<std::string>{"..", ".", "a/b", "../../etc", "a b", "x\ny", "", ".x"})
        files.push_back(refused("package named \"" + name + "\"",
                                webtool(packed(WebtoolFiles), name), broken(name + "-7.16.1")));

    const std::string compressed = packed(WebtoolFiles);
    files.push_back(
        refused("corrupt compressed data", webtool(flipped(compressed, compressed.size() / 2))));
    files.push_back(
        refused("compressed data cut short", webtool(compressed.substr(0, compressed.size() / 2))));
    for (SignatureKind kind : {SignatureKind::Both, SignatureKind::Legacy, SignatureKind::None})
        files.push_back(
            refused(kind == SignatureKind::None ? "no signature" : "signed with an unknown key",
                    webtool(compressed, "webtool", kind, stranger())));

    files.push_back(refused("bundle member named like its bundle", suite("suite"), BrokenSuite, 2));
    files.push_back(refused("bundle header with a dependency", suite("suite-a", {entry("system")}),
                            BrokenSuite));
    files.push_back(refused("part after the last member", appended(suite(), le16(3) + le32(0)),
                            BrokenSuite, 2));
    expectAllRefused(files);
}
