// End-to-end tests of hostile package files: cut short, with damaged part headers and
// data, with a wrong magic, or signed but holding unsafe names, corrupt compressed data, a
// signature from an unknown key or a malformed bundle. Each file is given to the real
// installer on standard input and, on a fresh device, in the download directory. The
// exit status and the messages must be the ones a user is promised, and nothing on the
// device may change but the post-install log: no file installed, none left behind.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pkgwriter/bundle_writer.h"
#include "pkgwriter/signer.h"
#include "support/device_root.h"

namespace {

const char* const DevelopmentSigningKey =
    "3a5967559c2af691bbeaa38ca08cfbc282ed1e494848e3a5f78f788a060bde9f";
const char FileName[] = "hostile.npk";
const char PostLog[] = "flash/postlog";
constexpr Version Offered = 0x07106601;  // 7.16.1, which needs the Ed25519 signature

using Lines = std::vector<std::string>;

// What a run shows: its exit status and the message lines of its post-install log.
struct Outcome {
    int status;
    Lines lines;
    bool operator==(const Outcome& other) const {
        return status == other.status && lines == other.lines;
    }
};

struct HostileFile {
    std::string what;
    std::string bytes;
    std::vector<Outcome> fromStdin;   // the outcomes allowed for "installer -"
    std::vector<Lines> fromDownload;  // the messages allowed for the upgrade run (status 0)
};

std::string broken(const std::string& display) {
    return "ERROR: installation of " + display + " failed: broken package";
}

std::string notMadeFor(const std::string& arch) {
    return "ERROR: can not install webtool-7.16.1: it is not made for i386, but for " + arch;
}

const std::string BrokenFile = std::string("ERROR: broken package ") + FileName;
const std::string BrokenWebtool = broken("webtool-7.16.1");
const std::string BrokenSuite = broken("suite-7.16.1");

// Read, and refused for the reason in message, from either place.
HostileFile refused(const std::string& what, const std::string& bytes, const std::string& message) {
    return {what, bytes, {{1, {message}}}, {{message}}};
}

// Not a package file that can be read at all.
HostileFile unreadable(const std::string& what, const std::string& bytes) {
    return {what, bytes, {{1, {}}}, {{BrokenFile}}};
}

Dependency entry(const std::string& name, Version min = 0) {
    Dependency d;
    d.name = name;
    d.min = min;
    return d;
}

// The text a message shows of length bytes at offset: up to the first NUL.
std::string textAt(const std::string& bytes, size_t offset, size_t length) {
    std::string text = bytes.substr(offset, length);
    return text.substr(0, text.find('\0'));
}

std::string le32At(std::string bytes, size_t offset, uint32_t value) {
    return bytes.replace(offset, 4, le32(value));
}

std::string flipped(std::string bytes, size_t offset) {
    bytes[offset] = char(bytes[offset] ^ 1);
    return bytes;
}

bool isList(uint16_t type) {
    return type == PartDependencies || type == PartProvides || type == PartConflicts;
}

// Splits a post-install log into its lines.
Lines logLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

Lines splitMessages(const Lines& messages) {
    Lines lines;
    for (const std::string& message : messages) {
        Lines parts = logLines(message + "\n");
        lines.insert(lines.end(), parts.begin(), parts.end());
    }
    return lines;
}

// Installed: system and webtool 7.15, whose upgrade the hostile files pretend to be.
void installSystem(const DeviceRoot& root) {
    root.writeFile("flash/var/pdb/system/version", "118515200 1700000000\n");
    root.writeFile("flash/var/pdb/system/deps", "");
    root.writeFile("flash/var/pdb/system/files", "bin/sh\n");
    root.writeFile("flash/bin/sh", "shell", 0755);
    root.writeFile("flash/var/pdb/webtool/version", "118449664 1600000000\n");
    root.writeFile("flash/var/pdb/webtool/deps", "system 0 0\n");
    root.writeFile("flash/var/pdb/webtool/files", "bin/webtool\n");
    root.writeFile("flash/bin/webtool", "old tool", 0755);
}

// The device tree without the post-install log, which every run may write.
std::map<std::string, std::string> deviceTree(const DeviceRoot& root) {
    std::map<std::string, std::string> tree = root.snapshot();
    tree.erase(PostLog);
    return tree;
}

std::string describe(const Outcome& outcome) {
    std::string text = "status " + std::to_string(outcome.status) + ", lines:";
    for (const std::string& line : outcome.lines)
        text += "\n  " + line;
    return text;
}

// Runs the installer on a fresh device with the file on standard input or in the
// download directory, and checks what it shows and that the device is unchanged.
void expectRefused(const HostileFile& file, bool fromStdin) {
    DeviceRoot root;
    installSystem(root);
    if (!fromStdin)
        root.writeFile(std::string("rw/pckg/.download/") + FileName, file.bytes);
    auto before = deviceTree(root);
    RunResult run = fromStdin ? root.runOnRoot({"-"}, file.bytes) : root.runOnRoot({});
    Outcome seen{run.status, logLines(root.readFile(PostLog))};

    std::vector<Outcome> allowed = file.fromStdin;
    if (!fromStdin) {
        allowed.clear();
        for (const Lines& lines : file.fromDownload)
            allowed.push_back({0, lines});
    }
    bool expected = false;
    for (Outcome& outcome : allowed) {
        outcome.lines = splitMessages(outcome.lines);
        expected = expected || outcome == seen;
    }
    const char* where = fromStdin ? "on standard input" : "in the download directory";
    EXPECT_TRUE(expected) << file.what << ", " << where << ": " << describe(seen)
                          << "\nexpected: " << describe(allowed.front()) << "\n"
                          << run.err;
    EXPECT_EQ(deviceTree(root), before) << file.what << ", " << where << ": the device changed";
}

class HostilePackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(loadSignerKeys(signer, sourcePath("keys/development-ed25519.seed"),
                                   sourcePath("keys/development-legacy.secret"), error))
            << error;
        if (hexText(signer.ed25519PublicKey(), 32) != DevelopmentSigningKey)
            GTEST_SKIP() << "this build has its own public keys";
        uint8_t seed[32], secret[32];
        for (int i = 0; i < 32; ++i) {
            seed[i] = uint8_t(0x42 + i);
            secret[i] = uint8_t(0x17 * i + 1);
        }
        ASSERT_TRUE(stranger.setEd25519Seed(seed) && stranger.setLegacySecret(secret));
    }

    struct Shape {
        std::string name = "webtool";
        std::vector<FileEntry> files = {{"bin/webtool", "new tool", 0100755},
                                        {"etc/webtool.conf", std::string(3000, 'c')}};
        std::string filesPart;  // raw data of the files part; made from files when empty
        SignatureKind signature = SignatureKind::Both;
        const Signer* by = nullptr;
    };

    // webtool 7.16.1 with every optional part the readers know, signed.
    std::string webtool(const Shape& shape) {
        PackageWriter writer;
        writer.part(PartDigestSelector, DigestSelectorData);
        size_t start = writer.body().size();
        writer.header(Package(shape.name, Offered, 1700000000));
        writer.part(PartText24, "text of part 24");
        writer.part(PartArchitecture, "i386");
        writer.part(PartText2, "text of part 2");
        writer.part(PartNote, "a web tool");
        writer.list(PartDependencies, {entry("system")});
        writer.list(PartProvides, {entry("web", Offered)});
        writer.list(PartConflicts, {entry("oldweb")});
        writer.part(PartImage, "image of the package");
        writer.part(PartFiles, shape.filesPart.empty() ? compress(encodeFileEntries(shape.files))
                                                       : shape.filesPart);
        EXPECT_TRUE(appendSignature(writer, start, DigestKind::Sha256, shape.signature,
                                    shape.by ? *shape.by : signer));
        return writer.bytes();
    }

    std::string webtool() { return webtool(Shape()); }

    BundleMember member(const std::string& name) {
        std::string file;
        Package package(name, Offered, 1700000000);
        EXPECT_TRUE(buildSignedPackage(file, package, {{"bin/" + name, name}}, "",
                                       DigestKind::Sha256, SignatureKind::Both, signer));
        BundleMember taken;
        std::string error;
        EXPECT_TRUE(takeMember(file, taken, error)) << error;
        return taken;
    }

    // A bundle suite 7.16.1 of two members, built by hand so that it may be malformed.
    std::string suite(const std::vector<Dependency>& deps, const std::string& firstMember,
                      const std::string& tail = "") {
        Package bundle("suite", Offered, 1700000000);
        PackageWriter writer;
        writer.part(PartDigestSelector, DigestSelectorData);
        writer.header(bundle, PartBundleHeader);
        writer.list(PartDependencies, deps);
        writer.list(PartBlockList, {entry("suite-b")});
        writer.raw(member(firstMember).parts).raw(member("suite-b").parts).raw(tail);
        return writer.bytes();
    }

    std::vector<PartLocation> partsOf(const std::string& file) {
        std::vector<PartLocation> parts;
        std::string error;
        EXPECT_TRUE(listParts(file, parts, error)) << error;
        return parts;
    }

    // What "installer -" shows for webtool cut short at cut: nothing while the header
    // or a list is incomplete, the architecture read so far when the cut falls in it,
    // else the broken package.
    Outcome webtoolCutAt(const std::string& file, size_t cut) {
        for (const PartLocation& part : partsOf(file)) {
            size_t data = part.headerOffset + 6;
            bool inData = cut >= data && cut < data + part.length;
            if (part.type == PartPackageHeader && cut < data + 32)
                return {1, {}};
            if (isList(part.type) && inData)
                return {1, {}};
            if (part.type == PartArchitecture && inData && cut > data)
                return {1, {notMadeFor(file.substr(data, cut - data))}};
        }
        return {1, {BrokenWebtool}};
    }

    // What "installer -" shows for suite cut short at the start of a part: nothing before
    // the bundle header is whole, the broken bundle (no members: 3) before the first
    // member, and the broken bundle (2) once a member has begun.
    Outcome suiteCutAt(const std::vector<PartLocation>& parts, size_t cut) {
        bool headerWhole = false;
        int membersBegun = 0;
        for (const PartLocation& part : parts) {
            if (part.headerOffset >= cut)
                break;
            headerWhole = headerWhole || part.type == PartBundleHeader;
            membersBegun += part.type == PartPackageHeader;
        }
        if (!headerWhole)
            return {1, {}};
        return {membersBegun == 0 ? 3 : 2, {BrokenSuite}};
    }

    void expectAllRefused(const std::vector<HostileFile>& files) {
        for (const HostileFile& file : files) {
            expectRefused(file, true);
            expectRefused(file, false);
        }
        printf("%zu hostile files\n", files.size());
    }

    Signer signer;
    Signer stranger;  // keys the installer does not know
};

TEST_F(HostilePackageTest, ValidFilesInstall) {
    for (const std::string& file : {webtool(), suite({}, "suite-a")}) {
        DeviceRoot root;
        installSystem(root);
        RunResult run = root.runOnRoot({"-"}, file);
        EXPECT_EQ(run.status, 0) << root.readFile(PostLog);
    }
}

TEST_F(HostilePackageTest, CutShortAtEveryPartBoundaryAndWithinEveryPart) {
    std::vector<HostileFile> files;
    const std::string file = webtool();
    std::set<size_t> cuts = {0, 4, 7};
    for (const PartLocation& part : partsOf(file)) {
        size_t data = part.headerOffset + 6;
        cuts.insert({part.headerOffset, part.headerOffset + 3, data, data + part.length / 2});
    }
    for (size_t cut : cuts) {
        if (cut < file.size())
            files.push_back({"webtool cut at " + std::to_string(cut),
                             file.substr(0, cut),
                             {webtoolCutAt(file, cut)},
                             {{BrokenFile}}});
    }
    const std::string bundle = suite({}, "suite-a");
    std::vector<PartLocation> parts = partsOf(bundle);
    for (const PartLocation& part : parts)
        files.push_back({"suite cut at " + std::to_string(part.headerOffset),
                         bundle.substr(0, part.headerOffset),
                         {suiteCutAt(parts, part.headerOffset)},
                         {{BrokenFile}}});
    expectAllRefused(files);
}

TEST_F(HostilePackageTest, DamagedPartHeadersAndData) {
    std::vector<HostileFile> files;
    const std::string file = webtool();
    for (const PartLocation& part : partsOf(file)) {
        std::string at = " of part " + std::to_string(part.type);
        size_t data = part.headerOffset + 6;
        bool header = part.type == PartPackageHeader;
        // A length one off shifts every later part header: the file reads as garbage,
        // which is either no package or a broken one. An architecture part one off is
        // read one byte short or long.
        for (int64_t delta : {-1, 1}) {
            if (part.length == 0 && delta < 0)
                continue;
            std::string what = "length " + std::to_string(delta) + at;
            std::string bytes = le32At(file, part.headerOffset + 2, uint32_t(part.length + delta));
            if (part.type == PartArchitecture)
                files.push_back(
                    refused(what, bytes, notMadeFor(textAt(file, data, part.length + delta))));
            else
                files.push_back({what,
                                 bytes,
                                 {{1, {}}, {1, {BrokenWebtool}}},
                                 {{BrokenFile}, {BrokenWebtool}}});
        }
        // A part that runs to the end of the file swallows the rest: a selector takes the
        // header with it, an architecture part takes the rest of the file as its text.
        std::string endless = le32At(file, part.headerOffset + 2, 0xFFFFFFFF);
        if (part.type == PartDigestSelector)
            files.push_back(unreadable("length 0xFFFFFFFF" + at, endless));
        else if (part.type == PartArchitecture)
            files.push_back(refused("length 0xFFFFFFFF" + at, endless,
                                    notMadeFor(textAt(file, data, file.size()))));
        else if (part.type != PartSignature)  // a signature part may run on: it is complete
            files.push_back(refused("length 0xFFFFFFFF" + at, endless, BrokenWebtool));
        // A part of a type no reader knows is passed over, and the signature no longer fits.
        std::string unknown = file;
        unknown.replace(part.headerOffset, 2, le16(0x7777));
        if (header)
            files.push_back(unreadable("unknown type" + at, unknown));
        else
            files.push_back(refused("unknown type" + at, unknown, BrokenWebtool));
    }

    // Bit flips in the data of every signed part, where they change what is read or
    // only what is signed.
    std::map<uint16_t, PartLocation> partOfType;
    for (const PartLocation& part : partsOf(file))
        partOfType[part.type] = part;
    auto partData = [&](uint16_t type) { return partOfType[type].headerOffset + 6; };
    size_t header = partData(PartPackageHeader);
    size_t files4 = partData(PartFiles);
    size_t filesLength = partOfType[PartFiles].length;
    files.push_back(refused("name flipped", flipped(file, header), broken("vebtool-7.16.1")));
    files.push_back(refused("version flipped", flipped(file, header + 16), broken("webtool-7.16")));
    files.push_back(
        refused("unused header byte flipped", flipped(file, header + 24), BrokenWebtool));
    files.push_back(refused("architecture flipped", flipped(file, partData(PartArchitecture)),
                            notMadeFor("h386")));
    files.push_back(
        refused("dependency name flipped", flipped(file, partData(PartDependencies) + 2),
                "ERROR: can not install webtool-7.16.1: rystem is not installed, but is required"));
    files.push_back(refused("unused dependency byte flipped",
                            flipped(file, partData(PartDependencies) + 2 + 20), BrokenWebtool));
    for (uint16_t type : {PartText24, PartText2, PartNote, PartImage})
        files.push_back(refused("text flipped in part " + std::to_string(type),
                                flipped(file, partData(type)), BrokenWebtool));
    for (uint16_t type : {PartProvides, PartConflicts})
        files.push_back(refused("list name flipped in part " + std::to_string(type),
                                flipped(file, partData(type) + 2), BrokenWebtool));
    for (size_t offset : {size_t(0), filesLength / 2, filesLength - 1})
        files.push_back(refused("compressed byte " + std::to_string(offset) + " flipped",
                                flipped(file, files4 + offset), BrokenWebtool));
    for (size_t offset : {68, 100})
        files.push_back(refused("signature byte " + std::to_string(offset) + " flipped",
                                flipped(file, partData(PartSignature) + offset), BrokenWebtool));

    files.push_back(unreadable("magic flipped", flipped(file, 0)));
    files.push_back(unreadable("magic of zeros", le32At(file, 0, 0)));
    files.push_back(unreadable("foreign magic", le32At(file, 0, 0x464C457F)));
    files.push_back(unreadable("shorter than a file header", file.substr(0, 7)));
    files.push_back(unreadable("empty", ""));
    expectAllRefused(files);
}

TEST_F(HostilePackageTest, SignedFilesWithHostileContent) {
    std::vector<HostileFile> files;
    for (const std::string& name :
         std::vector<std::string>{"../escape", "/../escape", "bin/../../escape", "bin/..", "..",
                                  "bin/a b", "bin/a\nb", std::string("bin/a\0b", 7), "bin/", ""}) {
        Shape shape;
        shape.files = {{"bin/webtool", "new tool", 0100755}, {name, "hostile", 0100755}};
        files.push_back(refused("entry named \"" + name + "\"", webtool(shape), BrokenWebtool));
    }
    for (const std::string& name :
         std::vector<std::string>{"..", ".", "a/b", "../../etc", "a b", "x\ny", ""}) {
        Shape shape;
        shape.name = name;
        files.push_back(
            refused("package named \"" + name + "\"", webtool(shape), broken(name + "-7.16.1")));
    }

    std::string compressed = compress(encodeFileEntries(Shape().files));
    Shape corrupt;
    corrupt.filesPart = flipped(compressed, compressed.size() / 2);
    files.push_back(refused("corrupt compressed data", webtool(corrupt), BrokenWebtool));
    Shape cut;
    cut.filesPart = compressed.substr(0, compressed.size() / 2);
    files.push_back(refused("compressed data cut short", webtool(cut), BrokenWebtool));

    for (SignatureKind kind : {SignatureKind::Both, SignatureKind::Legacy}) {
        Shape foreign;
        foreign.by = &stranger;
        foreign.signature = kind;
        files.push_back(refused("signed with an unknown key", webtool(foreign), BrokenWebtool));
    }
    Shape unsigned_;
    unsigned_.signature = SignatureKind::None;
    files.push_back(refused("no signature", webtool(unsigned_), BrokenWebtool));

    files.push_back({"bundle member named like its bundle",
                     suite({}, "suite"),
                     {{2, {BrokenSuite}}},
                     {{BrokenSuite}}});
    files.push_back({"bundle header with a dependency",
                     suite({entry("system")}, "suite-a"),
                     {{1, {BrokenSuite}}},
                     {{BrokenSuite}}});
    files.push_back({"part after the last member",
                     suite({}, "suite-a", le16(3) + le32(0)),
                     {{2, {BrokenSuite}}},
                     {{BrokenSuite}}});
    expectAllRefused(files);
}

}  // namespace
