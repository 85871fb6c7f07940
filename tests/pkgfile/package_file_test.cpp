// The package file reader, from a string, a pipe and a descriptor: header parts, parts passed
// over, reading within a part (whole files are read end to end).
#include "pkgfile/package_file.h"
#include "pkg/package_header.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "platform/fd_stream.h"
#include "support/packages.h"

namespace {

enum SourceKind { Text, Pipe, Descriptor, SourceKinds };

// A package file's bytes as a string stream, from a file descriptor that can seek, or
// through a pipe that cat feeds from the same file.
struct Source {
    Source(const std::string& bytes, int kind) : text(bytes), in(&text) {
        if (kind == Text)
            return;
        int fd = mkstemp(&path[0]);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        lseek(fd, 0, SEEK_SET);
        if (kind == Pipe) {
            cat = popen(("cat " + path).c_str(), "r");
            close(fd);
            fd = dup(fileno(cat));
        }
        fdBuffer = std::make_unique<FdStreamBuf>(fd, true);
        in.rdbuf(fdBuffer.get());
    }
    ~Source() {
        fdBuffer.reset();  // closes our read end first, so that cat cannot block
        if (cat)
            pclose(cat);
        unlink(path.c_str());
    }
    std::stringbuf text;
    std::istream in;
    std::unique_ptr<FdStreamBuf> fdBuffer;
    FILE* cat = nullptr;
    std::string path = "/tmp/package_file_test.XXXXXX";
};

std::string header(size_t size = 36, const std::string& name = "pkg") {
    return partBytes(PartPackageHeader, encodeHeader(name, 0x06310066, 1000, 0x5A5A0002, size));
}
std::string list(uint16_t type, const std::vector<std::string>& names, int count = -1) {
    std::vector<Dependency> entries;
    for (const std::string& name : names)
        entries.push_back(Dependency{name, 0x06000066, 0x07000066, -3});
    return partBytes(type, encodeList(entries, count));
}
std::string fileOf(const std::string& body) {
    return PackageWriter().raw(body).bytes();
}
std::string pattern(size_t size, int seed = 7) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char(i * seed % 251);
    return bytes;
}
// Entry names, each marked "?" unless its bounds and priority came through whole.
std::string names(const std::vector<Dependency>& list) {
    std::string text;
    for (const Dependency& e : list)
        text +=
            e.name + (e.min == 0x06000066 && e.max == 0x07000066 && e.priority == -3 ? "," : "?,");
    return text;
}

}  // namespace

TEST(PackageFileTest, ReadPackageHeaderTakesTheOptionalPartsInOrder) {
    const std::string allText = partBytes(24, "x") + partBytes(16, "powerpc") + partBytes(2, "y") +
                                partBytes(23, "hello") + list(3, {"a"}) + list(19, {"b"}) +
                                list(17, {"c"}) + partBytes(21, "image");
    // streamsize is 32-bit on the board: a part's own count must not turn negative there.
    const std::string hugeHeader = le16(1) + le32(0xFFFFFFFF) + encodeHeader("pkg", 0, 0, 7);
    // Name, architecture, flags, deps, note size, the part it stopped at, image kept.
    const std::tuple<const char*, std::string, bool, std::string> cases[] = {
        {"32-byte header", header(32) + list(3, {"a"}), true, "pkg|i386|0|a,|0|-1"},
        {"40-byte header", header(40) + list(3, {"a"}), true, "pkg|i386|5a5a0002|a,|0|-1"},
        {"16-byte name", header(36, "abcdefghijklmnop"), true,
         "abcdefghijklmnop|i386|5a5a0002||0|-1"},
        {"all optional parts", header() + allText, true, "pkg|powerpc|5a5a0002|a,|5|21|image"},
        {"unknown part before list", header() + partBytes(7, "?") + list(3, {"a", "b"}), true,
         "pkg|i386|5a5a0002|a,b,|0|-1"},
        {"architecture after list", header() + list(3, {"a"}) + partBytes(16, "powerpc"), true,
         "pkg|i386|5a5a0002|a,|0|16"},
        {"empty list", header() + list(3, {}) + list(19, {"p"}), true, "pkg|i386|5a5a0002||0|-1"},
        {"count beyond entries", header() + list(3, {"a"}, 2), false, "pkg|i386|5a5a0002|a,|0|3"},
        {"header cut short", header(30), false, "||0||0|1"},
        {"header of 4 GiB", hugeHeader, true, "pkg|i386|7||0|-1"},
        {"note over the bound", header() + partBytes(23, pattern(100000)) + list(3, {"a"}), true,
         "pkg|i386|5a5a0002|a,|65536|-1"},
    };
    for (const auto& [what, body, ok, summary] : cases) {
        for (int mode = 0; mode < 2 * SourceKinds; ++mode) {
            SCOPED_TRACE(std::string(what) + " mode " + std::to_string(mode));
            Source source(fileOf(body), mode % SourceKinds);
            PackageFile file(source.in, mode / SourceKinds);
            file.acceptedTypes = {18, 1, 24, 16, 2, 23, 3, 19, 17, 21};
            ASSERT_EQ(file.nextPart(), 1);
            Package r;
            EXPECT_EQ(readPackageHeader(r, file), ok);
            char flags[9];
            snprintf(flags, sizeof flags, "%x", r.flags);
            EXPECT_EQ(r.name + "|" + r.arch + "|" + flags + "|" + names(r.deps) + "|" +
                          std::to_string(r.note.size()) + "|" + std::to_string(file.currentType) +
                          (r.keepImage ? "|image" : ""),
                      summary);
        }
    }
}

// Short parts are read through, long ones sought over; either way the next wanted part
// starts where it should and reading stops at its end. The last part runs past the end of
// the file: a descriptor can seek there, yet the reader must still see the end.
TEST(PackageFileTest, PartsOfEverySizeArePassedOverAndReadingStaysWithinThePart) {
    const size_t sizes[] = {0, 1, 4095, 4096, 8191, 16384, 16385, 70000};
    std::string body;
    for (size_t size : sizes)
        body += partBytes(2, pattern(size, 3)) + partBytes(24, "after " + std::to_string(size));
    const std::string bytes = fileOf(body + le16(2) + le32(0xFFFFFFFF) + "abc");
    for (int mode = 0; mode < 4 * SourceKinds; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Source source(bytes, mode % SourceKinds);
        std::stringbuf copy;
        bool copied = mode / SourceKinds & 2;
        PackageFile file(source.in, mode / SourceKinds & 1, copied ? &copy : nullptr);
        file.acceptedTypes = {24};
        for (size_t size : sizes) {
            ASSERT_EQ(file.nextPart(), 24) << size;
            EXPECT_EQ(file.partOffset(), bytes.find("after " + std::to_string(size)));
            file.unget();  // nothing to put back at the first byte of a part
            EXPECT_TRUE(file.bad());
            file.clear();
            EXPECT_TRUE(file.seekg(1, std::ios::end).fail()) << "a seek never leaves the part";
            file.clear();
            std::string text(100, '\0');
            EXPECT_TRUE(file.seekg(6).read(&text[0], 100).fail());  // past "after "
            EXPECT_EQ(text.substr(0, size_t(file.gcount())), std::to_string(size));
            file.clear();
        }
        EXPECT_EQ(file.nextPart(), -1);
        EXPECT_TRUE(file.fail());
        EXPECT_TRUE(!copied || copy.str() == bytes);
    }
}
