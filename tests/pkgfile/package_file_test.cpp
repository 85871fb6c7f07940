// The package file reader, from a string, a pipe and a descriptor: parts, digest, copy.
#include "pkgfile/package_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>

#include "pkgwriter/package_writer.h"
#include "platform/fd_stream.h"
#include "support/device_root.h"

namespace {

enum SourceKind { Text, Pipe, Descriptor, SourceKinds };

// A package file's bytes as a string stream, through a pipe fed by a thread, or from a
// file descriptor that can seek.
struct Source {
    Source(const std::string& bytes, int kind) : text(bytes), in(&text) {
        int fds[2];
        if (kind == Descriptor) {
            char path[] = "/tmp/package_file_test.XXXXXX";
            readEnd = mkstemp(path);
            unlink(path);
            EXPECT_EQ(write(readEnd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
            lseek(readEnd, 0, SEEK_SET);
        } else if (kind == Pipe && ::pipe(fds) == 0) {
            readEnd = fds[0];
            writer = std::thread([bytes, fd = fds[1]] {
                for (ssize_t done = 0, n = 0; done < ssize_t(bytes.size()) && n >= 0; done += n)
                    n = write(fd, bytes.data() + done, bytes.size() - size_t(done));
                close(fd);
            });
        }
        if (readEnd >= 0) {
            fdBuffer = std::make_unique<FdStreamBuf>(readEnd, true);
            in.rdbuf(fdBuffer.get());
        }
    }
    ~Source() {
        char sink[4096];
        while (writer.joinable() && read(readEnd, sink, sizeof sink) > 0) {
        }
        if (writer.joinable())
            writer.join();
    }
    std::stringbuf text;
    std::istream in;
    int readEnd = -1;
    std::unique_ptr<FdStreamBuf> fdBuffer;
    std::thread writer;
};

std::string part(uint16_t type, const std::string& data) {
    return PackageWriter().part(type, data).body();
}
std::string header(size_t size = 36, const std::string& name = "pkg") {
    return part(PartPackageHeader, encodeHeader(name, 0x06310066, 1000, 0x5A5A0002, size));
}
std::string list(uint16_t type, const std::vector<std::string>& names, int count = -1) {
    std::vector<Dependency> entries;
    for (const std::string& name : names)
        entries.push_back(Dependency{name, 0x06000066, 0x07000066, -3});
    return part(type, encodeList(entries, count));
}
std::string fileOf(const std::string& body, uint32_t magic = PackageMagic) {
    return PackageWriter(magic).raw(body).bytes();
}
std::string pattern(size_t size, int seed = 7) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char(i * seed % 251);
    return bytes;
}
std::string digestOf(const std::string& bytes, bool sha256) {
    SHA1 sha1;
    SHA256 sha2;
    Hash& hash = sha256 ? static_cast<Hash&>(sha2) : sha1;
    uint8_t out[32] = {};
    hash.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    hash.finish(out);
    return std::string(reinterpret_cast<char*>(out), 32);
}
std::string digestOf(PackageFile& file) {
    return std::string(reinterpret_cast<const char*>(file.buffer().digest()), 32);
}
std::string names(const std::vector<Dependency>& list) {
    std::string text;
    for (const Dependency& entry : list)
        text += entry.name +
                (entry.min == 0x06000066 && entry.max == 0x07000066 && entry.priority == -3 ? ","
                                                                                            : "?,");
    return text;
}
// What a header reader made of a file: name, architecture, flags, deps, note size, the
// part it stopped at and whether the image is kept.
std::string summary(const Package& record, const PackageFile& file) {
    char flags[9];
    snprintf(flags, sizeof flags, "%x", record.flags);
    return record.name + "|" + record.arch + "|" + flags + "|" + names(record.deps) + "|" +
           std::to_string(record.note.size()) + "|" + std::to_string(file.currentType) +
           (record.keepImage ? "|image" : "");
}

const std::vector<uint32_t> InfoTypes = {18, 1, 24, 16, 2, 23, 3, 19, 17, 21};

}  // namespace

TEST(PackageFileTest, ReadPackageHeaderTakesTheOptionalPartsInOrder) {
    const std::string allText = part(24, "x") + part(16, "powerpc") + part(2, "y") +
                                part(23, "hello") + list(3, {"a"}) + list(19, {"b"}) +
                                list(17, {"c"}) + part(21, "image");
    const std::string hugeNote = le16(23) + le32(0xFFFFFFFF) + "short note";
    struct Case {
        const char* what;
        std::string body;
        bool ok;
        std::string summary;
    } cases[] = {
        {"32-byte header", header(32) + list(3, {"a"}), true, "pkg|i386|0|a,|0|-1"},
        {"36-byte header", header(36), true, "pkg|i386|5a5a0002||0|-1"},
        {"40-byte header", header(40) + list(3, {"a"}), true, "pkg|i386|5a5a0002|a,|0|-1"},
        {"16-byte name", header(36, "abcdefghijklmnop"), true,
         "abcdefghijklmnop|i386|5a5a0002||0|-1"},
        {"short name", header(36, "abc"), true, "abc|i386|5a5a0002||0|-1"},
        {"all optional parts", header() + allText, true, "pkg|powerpc|5a5a0002|a,|5|21|image"},
        {"unknown part before list", header() + part(7, "?") + list(3, {"a", "b"}), true,
         "pkg|i386|5a5a0002|a,b,|0|-1"},
        {"architecture after list", header() + list(3, {"a"}) + part(16, "powerpc"), true,
         "pkg|i386|5a5a0002|a,|0|16"},
        {"empty list", header() + list(3, {}) + list(19, {"p"}), true, "pkg|i386|5a5a0002||0|-1"},
        {"count beyond entries", header() + list(3, {"a"}, 2), false, "pkg|i386|5a5a0002|a,|0|3"},
        {"header cut short", header(30), false, "||0||0|1"},
        {"note of 4 GiB", header() + hugeNote, true, "pkg|i386|5a5a0002||10|-1"},
        {"note over the bound", header() + part(23, pattern(100000)) + list(3, {"a"}), true,
         "pkg|i386|5a5a0002|a,|65536|-1"},
    };
    for (const Case& c : cases) {
        for (int mode = 0; mode < 2 * SourceKinds; ++mode) {
            SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
            Source source(fileOf(c.body), mode % SourceKinds);
            PackageFile file(source.in, mode / SourceKinds);
            file.acceptedTypes = InfoTypes;
            ASSERT_EQ(file.nextPart(), 1);
            Package record;
            EXPECT_EQ(readPackageHeader(record, file), c.ok);
            EXPECT_EQ(summary(record, file), c.summary);
            if (c.ok) {
                EXPECT_EQ(record.version, 0x06310066u);
            }
        }
    }
}

TEST(PackageFileTest, ReadPackageInfoDescribesFilesOnDisk) {
    const std::string plain = fileOf(header() + part(16, "powerpc") + list(3, {"a"}) +
                                     part(4, "files") + part(9, pattern(68)));
    const std::string member1 = header(36, "m1") + part(21, "img") + part(4, "f") + part(9, "s");
    const std::string member2 = header(36, "m2") + list(3, {"x"}) + part(9, "s");
    const std::string bundleHeader = part(18, encodeHeader("bnd", 0x06310066, 1, 0)) +
                                     part(21, "image") + list(20, {"m1", "m2"});
    struct Case {
        const char* what;
        std::string bytes;
        bool ok;
        std::string members;
    } cases[] = {
        {"plain package", plain, true, ""},
        {"unrecorded package", fileOf(header(), UnrecordedMagic), true, ""},
        {"only the file header", fileOf(""), false, ""},
        {"shorter than a file header", plain.substr(0, 5), false, ""},
        {"wrong magic", fileOf(header(), 0x12345678), false, ""},
        {"truncated download", plain.substr(0, plain.size() - 1), false, ""},
        {"longer than declared", plain + "x", false, ""},
        {"header cut short", fileOf(header(31)), false, ""},
        {"bundle without members", fileOf(bundleHeader + part(16, "x")), false, ""},
        {"bundle", fileOf(bundleHeader + member1 + member2 + part(16, "x")), true, "m1,m2,"},
    };
    DeviceRoot root;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        root.writeFile("tmp/p.npk", c.bytes);
        CandidatePackage record;
        EXPECT_EQ(readPackageInfo(record, root.path("tmp/p.npk")), c.ok);
        EXPECT_EQ(record.path, root.path("tmp/p.npk"));
        std::string members;
        for (const auto& member : record.contents)
            members += member->name + ",";
        EXPECT_EQ(members, c.members);
        if (c.members.empty())
            continue;
        EXPECT_TRUE(record.isBundle);
        EXPECT_TRUE(record.keepImage);
        EXPECT_TRUE(record.contents.front()->keepImage);
        EXPECT_FALSE(record.contents.back()->keepImage);
        EXPECT_EQ(names(record.contents.back()->deps), "x,");
    }
}

// Each package's digest runs from its type-1 part header up to its signature part header,
// whatever the reader skipped, seeked over or put back; the copy stream gets every byte.
TEST(PackageFileTest, DigestAndCopySeeEveryByteOnce) {
    const std::string files = pattern(10000, 3);
    const std::string package1 = header() + part(16, "powerpc") + part(7, "unknown") +
                                 part(21, pattern(9000)) + part(4, files);
    const std::string package2 = header(40, "two") + list(3, {"a"});
    const std::string signature = pattern(68, 5);
    for (int mode = 0; mode < 4; ++mode) {
        bool sha256 = mode & 2;
        SCOPED_TRACE("mode " + std::to_string(mode));
        std::string lead = part(5, "before") + (sha256 ? part(25, "selector") : "");
        std::string bytes = fileOf(lead + package1 + part(9, signature) + package2 +
                                   part(9, signature) + part(16, "x"));
        Source source(bytes, mode & 1 ? Pipe : Text);
        std::stringbuf copy;
        PackageFile file(source.in, true, &copy);
        file.acceptedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
        Package record;
        ASSERT_EQ(file.nextPart(), 1);
        ASSERT_TRUE(readPackageHeader(record, file));
        ASSERT_EQ(file.currentType, 21);
        while (file.position() < file.partLength())
            file.seekg(std::min(4096u, file.partLength() - file.position()), std::ios::cur);
        ASSERT_EQ(file.nextPart(), 4);
        EXPECT_EQ(file.partOffset(), bytes.find(files));
        file.unget();  // nothing to put back at the first byte of a part
        EXPECT_TRUE(file.bad());
        file.clear();
        std::string read(4097, '\0');
        file.read(&read[0], 4000);
        file.read(&read[4000], 96);
        file.unget();
        file.putback(read[4094]);
        file.read(&read[4094], 3);  // the third byte makes the buffer refill
        file.unget();
        file.unget();  // one byte before the refill can still be put back
        EXPECT_EQ(file.tellg(), 4095);
        read.resize(files.size());
        file.read(&read[4095], std::streamsize(files.size() - 4095));
        EXPECT_TRUE(read == files);
        EXPECT_EQ(file.get(), EOF);
        file.clear();
        EXPECT_EQ(file.nextPart(), 9);
        file.buffer().finishDigest();
        size_t start = 8 + lead.size();
        EXPECT_EQ(digestOf(file), digestOf(bytes.substr(start, package1.size() + 6), sha256));

        ASSERT_EQ(file.nextPart(), 1);
        ASSERT_TRUE(readPackageHeader(record, file));
        ASSERT_EQ(file.currentType, 9);
        file.buffer().finishDigest();
        start += package1.size() + 6 + signature.size();
        EXPECT_EQ(digestOf(file), digestOf(bytes.substr(start, package2.size() + 6), sha256));
        // Signature bytes read undigested stay out of the digest the end finishes.
        uint8_t taken[68];
        EXPECT_EQ(file.buffer().readUndigested(taken, 100), 68u);
        EXPECT_EQ(file.nextPart(), 16);
        EXPECT_EQ(file.nextPart(), -1);
        EXPECT_EQ(digestOf(file), digestOf(part(16, "x"), sha256));
        EXPECT_TRUE(copy.str() == bytes);
    }
}

TEST(PackageFileTest, EndOfFileAndBrokenFiles) {
    const size_t all = std::string::npos;
    const std::string longRead = fileOf(list(3, {"a"}) + part(3, pattern(6000)));
    const std::string pastEnd = fileOf(PackageWriter().partWithLength(3, 100, "abc").body());
    const std::string skippedPastEnd = fileOf(list(3, {}) + le16(8) + le32(0xFFFFFFFF) + "abc");
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<int> types;  // what nextPart answers, in turn
        size_t readSize;         // asked of the first part
        size_t readGot;
        bool bad;
        size_t copied;  // bytes the copy stream gets
    } cases[] = {
        {"only the file header", fileOf(""), {-1}, 0, 0, false, all},
        {"wrong magic", fileOf(list(3, {"a"}), 0x12345678), {-1, -1}, 0, 0, true, 8},
        {"shorter than a file header", "\x1e\xf1\xd0", {-1}, 0, 0, true, all},
        {"part header cut short", fileOf(list(3, {}) + "\x03\x00\x05"), {3, -1}, 0, 0, false, all},
        // A failed read leaves the stream failed: the caller stops there.
        {"read past the part's end", longRead, {3, -1}, 5000, 34, false, 8 + 6 + 34},
        {"length past the end", pastEnd, {3, -1}, 100, 3, false, all},
        {"skipped part past the end", skippedPastEnd, {3, -1}, 0, 0, false, all},
    };
    for (const Case& c : cases) {
        for (int mode = 0; mode < 4 * SourceKinds; ++mode) {
            SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
            Source source(c.bytes, mode % SourceKinds);
            std::stringbuf copy;
            bool copied = mode / SourceKinds & 2;
            PackageFile file(source.in, mode / SourceKinds & 1, copied ? &copy : nullptr);
            file.acceptedTypes = {3};
            EXPECT_EQ(file.bad(), c.bad);
            std::string data(c.readSize, '\0');
            for (size_t i = 0; i < c.types.size(); ++i) {
                EXPECT_EQ(file.nextPart(), c.types[i]);
                if (i == 0 && c.readSize > 0) {
                    file.read(&data[0], std::streamsize(c.readSize));
                    EXPECT_EQ(size_t(file.gcount()), c.readGot);
                    EXPECT_TRUE(file.fail());
                }
            }
            EXPECT_TRUE(file.fail());
            if (copied) {
                EXPECT_EQ(copy.str(), c.bytes.substr(0, c.copied));
            }
        }
    }
}

TEST(PackageFileTest, SeekStaysWithinThePart) {
    const std::string data = pattern(10000);
    const std::string bytes = fileOf(header() + part(4, data) + part(9, "s"));
    struct Case {
        size_t readFirst;
        std::ios::seekdir dir;
        long offset;
        long expected;  // -1: fails
        bool backward;  // needs a source that can be moved back
    } cases[] = {
        {0, std::ios::beg, 100, 100, false},     {200, std::ios::beg, 100, 100, true},
        {200, std::ios::cur, 0, 200, false},     {200, std::ios::cur, 50, 250, false},
        {200, std::ios::cur, -1, 199, true},     {0, std::ios::end, 0, 10000, false},
        {0, std::ios::beg, 10001, -1, false},    {5000, std::ios::beg, 9000, 9000, false},
        {9000, std::ios::beg, 8000, 8000, true}, {10, std::ios::cur, -11, -1, false},
    };
    for (const Case& c : cases) {
        // Modes: text, pipe, descriptor, verified, copied. Only an unverified, uncopied,
        // seekable source can move back.
        for (int mode = 0; mode < 5; ++mode) {
            SCOPED_TRACE("case " + std::to_string(&c - cases) + " mode " + std::to_string(mode));
            Source source(bytes, mode < SourceKinds ? mode : Text);
            std::stringbuf copy;
            PackageFile file(source.in, mode == 3, mode == 4 ? &copy : nullptr);
            file.acceptedTypes = {4, 9};
            ASSERT_EQ(file.nextPart(), 4);
            std::string first(c.readFirst, '\0');
            file.read(&first[0], std::streamsize(c.readFirst));
            bool canRewind = mode == Text || mode == Descriptor;
            long expected = c.backward && !canRewind ? -1 : c.expected;
            file.seekg(c.offset, c.dir);
            EXPECT_EQ(file.fail(), expected < 0);
            file.clear();
            if (expected < 0)
                expected = long(c.readFirst);  // a failed seek leaves the position alone
            EXPECT_EQ(file.tellg(), expected);
            EXPECT_EQ(file.partOffset() + file.position(), bytes.find(data) + expected);
            EXPECT_EQ(file.get(), expected < 10000 ? uint8_t(data[expected]) : EOF);
            file.clear();
            EXPECT_EQ(file.nextPart(), 9);
            EXPECT_EQ(file.get(), 's');
            if (mode == 4) {
                EXPECT_EQ(file.nextPart(), -1);
                EXPECT_EQ(copy.str(), bytes);
            }
        }
    }
}

TEST(PackageFileTest, CopyThatRunsOutOfRoomIsReported) {
    struct TenBytes : std::streambuf {
        char area[10];
        TenBytes() { setp(area, area + sizeof area); }
    } full;
    Source source(fileOf(header()), Text);
    PackageFile file(source.in, false, &full);
    EXPECT_FALSE(file.buffer().copyFailed());
    EXPECT_EQ(file.nextPart(), -1);  // nothing accepted: read through to the end
    EXPECT_TRUE(file.buffer().copyFailed());
}

TEST(PackageFileTest, PartDeclaringFourGiBStillHasBytesAvailable) {
    // streamsize is 32-bit on the board: the part's own count must not turn negative there.
    Source source(fileOf(le16(23) + le32(0xFFFFFFFF) + "short note"), Text);
    PackageFile file(source.in, false);
    file.acceptedTypes = {23};
    ASSERT_EQ(file.nextPart(), 23);
    EXPECT_GT(file.rdbuf()->in_avail(), 0);
    char text[16];
    EXPECT_EQ(file.readsome(text, sizeof text), 10);
}
