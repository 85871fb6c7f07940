// End-to-end tests of pkgtool: packages it builds read back through the installer's own
// reader and signature check, bundles, keys, and its error reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pkgfile/byte_order.h"
#include "pkgfile/inflate_stream.h"
#include "pkgfile/package_file.h"
#include "pkgfile/signature.h"
#include "support/device_root.h"

namespace {

RunResult pkgtool(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return runBuiltProgram(PKGTOOL_BINARY, args, "", env);
}

// A scratch directory with a small tree of files to package.
class PkgtoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(PKGTOOL_BINARY).empty())
            GTEST_SKIP() << "pkgtool is not built";
        dir = root.path("tmp/work");
        root.writeFile("tmp/work/tree/bin/tool", "#!/bin/sh\necho tool\n", 0755);
        root.writeFile("tmp/work/tree/etc/app.conf", "key=value\n");
        root.writeFile("tmp/work/tree/lib/big", std::string(70000, 'z'));
        root.writeFile("tmp/work/tree/empty", "");
        ASSERT_EQ(symlink("tool", (dir + "/tree/bin/alias").c_str()), 0);
        tree = dir + "/tree";
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // Builds NAME.npk from the tree with the given options; asserts success.
    std::string build(const std::string& name, const std::vector<std::string>& options,
                      bool withTree = true) {
        std::vector<std::string> args = {"build", "-o",           path(name + ".npk"), "--name",
                                         name,    "--build-time", "1700000000"};
        args.insert(args.end(), options.begin(), options.end());
        if (withTree)
            args.push_back(tree);
        RunResult result = pkgtool(args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return path(name + ".npk");
    }

    DeviceRoot root;
    std::string dir, tree;
};

struct Entry {
    uint16_t mode;
    uint8_t processorClass;
    std::string name, data;
};

// The entries of the first files part, read as the installer reads them.
std::vector<Entry> filesOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    PackageFile package(in, false);
    package.acceptedTypes = {PartFiles};
    std::vector<Entry> entries;
    if (package.nextPart() != PartFiles)
        return entries;
    InflateStream files(package);
    uint8_t header[30];
    while (files.read(reinterpret_cast<char*>(header), 30)) {
        Entry entry;
        entry.mode = decodeLE16(header);
        entry.processorClass = header[23];
        entry.name.resize(decodeLE16(header + 28));
        entry.data.resize(decodeLE32(header + 24));
        files.read(&entry.name[0], std::streamsize(entry.name.size()));
        files.read(&entry.data[0], std::streamsize(entry.data.size()));
        entries.push_back(entry);
    }
    return entries;
}

int lineCount(const std::string& text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

TEST_F(PkgtoolTest, BuiltPackagesReadBackAndVerify) {
    const struct {
        const char* what;
        std::vector<std::string> options;
        bool unrecorded;
        const char* verdict;
    } cases[] = {
        {"SHA-256, both signatures", {"--version", "7.16.1"}, false, "level 2, needs 2: ok"},
        {"SHA-1", {"--version", "7.16.1", "--digest", "sha1"}, false, "level 2, needs 2: ok"},
        {"unrecorded", {"--version", "7.16.1", "--unrecorded"}, true, "level 2, needs 2: ok"},
        {"legacy only, old version",
         {"--version", "6.45.9", "--signature", "legacy"},
         false,
         "level 1, needs 1: ok"},
        {"Ed25519 only",
         {"--version", "7.16.1", "--signature", "ed25519"},
         false,
         "level 2, needs 2: ok"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--arch", "powerpc", "--note", "for tests", "--depends",
                                       "system:7.0", "--provides", "web:-1:1.0", "--conflicts",
                                       "old::7.1", "--flags", "2", "--processor-class", "3:lib"});
        std::string file = build("app", options);

        CandidatePackage record;
        ASSERT_TRUE(readPackageInfo(record, file)) << c.what;
        EXPECT_EQ(record.name, "app");
        EXPECT_EQ(record.buildTime, 1700000000u);
        EXPECT_EQ(record.flags, 2u);
        EXPECT_EQ(record.arch, "powerpc");
        EXPECT_EQ(record.note, "for tests");
        ASSERT_EQ(record.deps.size(), 1u);
        EXPECT_EQ(record.deps[0].min, 0x07006600u);
        ASSERT_EQ(record.provides.size(), 1u);
        EXPECT_EQ(record.provides[0].priority, -1);
        EXPECT_EQ(record.provides[0].min, 0x01006600u);
        ASSERT_EQ(record.conflicts.size(), 1u);
        EXPECT_EQ(record.conflicts[0].max, 0x07016600u);

        std::vector<Entry> entries = filesOf(file);
        ASSERT_EQ(entries.size(), 8u) << c.what;
        const struct {
            const char* name;
            uint16_t mode;
            uint8_t processorClass;
            std::string data;
        } expected[] = {
            {"bin", 040755, 0, ""},
            {"bin/alias", 0120777, 0, "tool"},
            {"bin/tool", 0100755, 0, "#!/bin/sh\necho tool\n"},
            {"empty", 0100644, 0, ""},
            {"etc", 040755, 0, ""},
            {"etc/app.conf", 0100644, 0, "key=value\n"},
            {"lib", 040755, 3, ""},
            {"lib/big", 0100644, 3, std::string(70000, 'z')},
        };
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].name, expected[i].name) << c.what;
            EXPECT_EQ(entries[i].mode & 0170000, expected[i].mode & 0170000) << expected[i].name;
            EXPECT_EQ(entries[i].processorClass, expected[i].processorClass) << expected[i].name;
            EXPECT_TRUE(entries[i].data == expected[i].data) << expected[i].name;
        }
        EXPECT_EQ(entries[2].mode, 0100755);

        RunResult info = pkgtool({"info", file});
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find(c.unrecorded ? "unrecorded package file" : ": package file"),
                  std::string::npos)
            << c.what;
        for (const char* shown : {"part 9 (signature)", "\"lib/big\"", "web >= 1.0, priority -1",
                                  "system >= 7.0", "old <= 7.1", "8 entries, 70034 bytes"})
            EXPECT_NE(info.out.find(shown), std::string::npos) << c.what << ": " << shown;

        RunResult verify = pkgtool({"verify", file});
        EXPECT_EQ(verify.status, 0) << c.what << ": " << verify.out << verify.err;
        EXPECT_NE(verify.out.find(c.verdict), std::string::npos) << c.what << ": " << verify.out;
    }
}

TEST_F(PkgtoolTest, VersionsAreReadFromTheirTextForms) {
    const struct {
        const char* text;
        Version version;
    } good[] = {{"6.40.5", 0x06286605},    {"6.40", 0x06286600},       {"6.41beta3", 0x06296203},
                {"6.41rc", 0x06296300},    {"6.42alpha1", 0x062A6101}, {"7.0", 0x07006600},
                {"0x062E6608", 0x062E6608}};
    for (const auto& c : good) {
        std::string file = build("v", {"--version", c.text}, false);
        CandidatePackage record;
        ASSERT_TRUE(readPackageInfo(record, file)) << c.text;
        EXPECT_EQ(record.version, c.version) << c.text;
    }
    for (const char* bad : {"6", "6.", "6.256", "6.40.5.1", "6.41gamma", "v7.0", "", "0x0"}) {
        RunResult result =
            pkgtool({"build", "-o", path("bad.npk"), "--name", "v", "--version", bad});
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_EQ(lineCount(result.err), 1) << bad << ": " << result.err;
    }
}

TEST_F(PkgtoolTest, VerifyFailsPackagesThatFallShort) {
    const struct {
        const char* what;
        std::vector<std::string> options;
        bool tamper;
        const char* verdict;
    } cases[] = {
        {"legacy only, version needs Ed25519",
         {"--version", "6.46.9", "--signature", "legacy"},
         false,
         "level 1, needs 2: FAILS"},
        {"unsigned", {"--version", "6.40", "--signature", "none"}, false, "no signature part"},
        {"changed after signing", {"--version", "6.40"}, true, "level 0, needs 1: FAILS"},
    };
    for (const auto& c : cases) {
        std::string file = build("short", c.options);
        if (c.tamper) {
            std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
            io.seekp(-200, std::ios::end);  // inside the files part
            io.put('!');
        }
        RunResult result = pkgtool({"verify", file});
        EXPECT_EQ(result.status, 1) << c.what;
        EXPECT_NE(result.out.find(c.verdict), std::string::npos) << c.what << ": " << result.out;
        EXPECT_EQ(lineCount(result.err), 1) << c.what;
    }

    std::string file = build("cut", {"--version", "7.1"});
    ASSERT_EQ(truncate(file.c_str(), 100), 0);
    RunResult cut = pkgtool({"verify", file});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("cut short"), std::string::npos) << cut.err;
}

TEST_F(PkgtoolTest, BundlesKeepEveryMemberVerifiable) {
    for (const char* digest : {"sha256", "sha1"}) {
        std::string first = build("first", {"--version", "7.16", "--digest", digest});
        std::string second = build("second", {"--version", "7.16", "--digest", digest}, false);
        std::string bundle = path("bundle.npk");
        RunResult made = pkgtool({"bundle", "-o", bundle, "--name", "all", "--version", "7.16",
                                  "--block", "second", "--note", "both", first, second});
        ASSERT_EQ(made.status, 0) << made.err;

        CandidatePackage record;
        ASSERT_TRUE(readPackageInfo(record, bundle)) << digest;
        EXPECT_TRUE(record.isBundle);
        ASSERT_EQ(record.contents.size(), 2u);
        EXPECT_EQ(record.contents.front()->name, "first");
        EXPECT_EQ(record.contents.back()->name, "second");

        RunResult info = pkgtool({"info", bundle});
        EXPECT_NE(info.out.find("part 20 (list part 20)"), std::string::npos) << info.out;
        RunResult verify = pkgtool({"verify", bundle});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
        EXPECT_NE(verify.out.find("bundle all-7.16"), std::string::npos) << verify.out;
        EXPECT_NE(verify.out.find("first-7.16: signature level 2, needs 2: ok"), std::string::npos);
        EXPECT_NE(verify.out.find("second-7.16: signature level 2, needs 2: ok"),
                  std::string::npos);
    }

    std::string sha256 = build("one", {"--version", "7.16"}, false);
    std::string sha1 = build("two", {"--version", "7.16", "--digest", "sha1"}, false);
    RunResult mixed = pkgtool(
        {"bundle", "-o", path("mixed.npk"), "--name", "mix", "--version", "7.16", sha256, sha1});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.err.find("different digests"), std::string::npos) << mixed.err;
    EXPECT_FALSE(root.exists("tmp/work/mixed.npk"));
}

TEST_F(PkgtoolTest, KeygenMakesKeysThatSignButThatThisBuildDoesNotAccept) {
    RunResult made = pkgtool({"keygen", path("keys")});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string signing = root.readFile("tmp/work/keys/ed25519.pub");
    std::string legacy = root.readFile("tmp/work/keys/legacy.pub");
    ASSERT_EQ(signing.size(), 65u);
    EXPECT_NE(made.out.find("-DINSTALLER_SIGNING_KEY=" + signing.substr(0, 64) +
                            " -DINSTALLER_LEGACY_KEY=" + legacy.substr(0, 64)),
              std::string::npos)
        << made.out;
    struct stat info;
    ASSERT_EQ(stat(path("keys/ed25519.seed").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string file =
        build("own", {"--version", "7.16", "--ed25519-key", path("keys/ed25519.seed"),
                      "--legacy-key", path("keys/legacy.secret")});
    RunResult verify = pkgtool({"verify", file});
    EXPECT_EQ(verify.status, 1) << "the build accepts only its own keys";
    EXPECT_NE(verify.out.find("level 0"), std::string::npos) << verify.out;

    RunResult again = pkgtool({"keygen", path("keys")});
    EXPECT_EQ(again.status, 1) << "keys are never overwritten";
    EXPECT_EQ(root.readFile("tmp/work/keys/ed25519.pub"), signing);
}

TEST_F(PkgtoolTest, BuildTimeDefaultsToSourceDateEpoch) {
    RunResult result = pkgtool({"build", "-o", path("e.npk"), "--name", "e", "--version", "7.1"},
                               {"SOURCE_DATE_EPOCH=1234567890"});
    ASSERT_EQ(result.status, 0) << result.err;
    CandidatePackage record;
    ASSERT_TRUE(readPackageInfo(record, path("e.npk")));
    EXPECT_EQ(record.buildTime, 1234567890u);
}

TEST_F(PkgtoolTest, ErrorsAreOneLineAndAFailingStatus) {
    root.writeFile("tmp/work/text", "hello, this is not a package file");
    // Words of the command line; OUT, NONE and TEXT stand for an output file, a missing
    // file and a file of plain text.
    const struct {
        const char* what;
        const char* words;
        int status;
    } cases[] = {
        {"no command", "", 2},
        {"unknown command", "make", 2},
        {"build without name", "build -o OUT --version 7.1", 2},
        {"unknown option", "build -o OUT --name a --version 7.1 --colour", 2},
        {"option without value", "build -o OUT --name", 2},
        {"name too long", "build -o OUT --name seventeen-letters --version 7.1", 2},
        {"bad list entry", "build -o OUT --name a --version 7.1 --depends b:1:2:3", 2},
        {"bad priority", "build -o OUT --name a --version 7.1 --provides b:high", 2},
        {"bad digest", "build -o OUT --name a --version 7.1 --digest md5", 2},
        {"two directories", "build -o OUT --name a --version 7.1 x y", 2},
        {"missing directory", "build -o OUT --name a --version 7.1 NONE", 1},
        {"missing key", "build -o OUT --name a --version 7.1 --ed25519-key NONE", 1},
        {"key file of text", "build -o OUT --name a --version 7.1 --legacy-key TEXT", 1},
        {"missing image", "build -o OUT --name a --version 7.1 --image NONE", 1},
        {"image that is a directory", "build -o OUT --name a --version 7.1 --image /tmp", 1},
        {"info of no package", "info TEXT", 1},
        {"info of nothing", "info NONE", 1},
        {"verify of no package", "verify TEXT", 1},
        {"bundle without members", "bundle -o OUT --name b --version 7.1", 2},
        {"bundle of no package", "bundle -o OUT --name b --version 7.1 TEXT", 1},
        {"output in a missing directory", "build -o NONE/x --name a --version 7.1", 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args;
        std::istringstream words(c.words);
        for (std::string word; words >> word;) {
            if (word.compare(0, 4, "NONE") == 0)
                word = path("none") + word.substr(4);
            args.push_back(word == "OUT" ? path("out.npk") : word == "TEXT" ? path("text") : word);
        }
        RunResult result = pkgtool(args);
        EXPECT_EQ(result.status, c.status) << c.what << ": " << result.err;
        EXPECT_EQ(lineCount(result.err), 1) << c.what << ": " << result.err;
        EXPECT_EQ(result.err.compare(0, 9, "pkgtool: "), 0) << c.what;
        EXPECT_FALSE(root.exists("tmp/work/out.npk")) << c.what;
    }

    RunResult help = pkgtool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("build -o FILE --name NAME"), std::string::npos);
}

}  // namespace
