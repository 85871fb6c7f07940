// End-to-end tests of pkgtool: packages it builds read back through the installer's own
// reader and signature check, bundles, keys, and its error reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "pkgfile/package_file.h"
#include "support/device_root.h"

namespace {

RunResult pkgtool(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return runBuiltProgram(PKGTOOL_BINARY, args, "", env);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int lineCount(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n'));
}

// A scratch directory with a small tree of files to package.
class PkgtoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(PKGTOOL_BINARY).empty())
            GTEST_SKIP() << "pkgtool is not built";
        umask(022);  // directories go into the files part with their own mode
        root.writeFile("tmp/work/tree/bin/tool", "#!/bin/sh\necho tool\n", 0755);
        root.writeFile("tmp/work/tree/etc/app.conf", "key=value\n");
        root.writeFile("tmp/work/tree/lib/big", std::string(70000, 'z'));
        root.writeFile("tmp/work/tree/empty", "");
        ASSERT_EQ(symlink("tool", path("tree/bin/alias").c_str()), 0);
    }

    std::string path(const std::string& name) const { return root.path("tmp/work/" + name); }

    // Builds NAME.npk with the given options, from the tree unless withTree is false;
    // expects success.
    std::string build(const std::string& name, const std::vector<std::string>& options,
                      bool withTree = true) {
        std::vector<std::string> args = {"build", "-o",           path(name + ".npk"), "--name",
                                         name,    "--build-time", "1700000000"};
        args.insert(args.end(), options.begin(), options.end());
        if (withTree)
            args.push_back(path("tree"));
        RunResult result = pkgtool(args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return path(name + ".npk");
    }

    DeviceRoot root;
};

TEST_F(PkgtoolTest, BuiltPackagesReadBackAndVerify) {
    // The version, then the digest and signature options, and the signature level.
    const std::vector<std::string> cases[] = {
        {"7.16.1", "level 2, needs 2"},
        {"7.16.1", "level 2, needs 2", "--digest", "sha1"},
        {"7.16.1", "level 2, needs 2", "--unrecorded"},
        {"6.45.9", "level 1, needs 1", "--signature", "legacy"},
        {"7.16.1", "level 2, needs 2", "--signature", "ed25519"},
    };
    // The files part in info's words: directories and links with their type bits, files
    // with their modes, and the processor class given for lib.
    const std::string files =
        "      040755 class   0          0 \"bin\"\n"
        "      120777 class   0          4 \"bin/alias\"\n"
        "      100755 class   0         20 \"bin/tool\"\n"
        "      100644 class   0          0 \"empty\"\n"
        "      040755 class   0          0 \"etc\"\n"
        "      100644 class   0         10 \"etc/app.conf\"\n"
        "      040755 class   3          0 \"lib\"\n"
        "      100644 class   3      70000 \"lib/big\"\n"
        "    8 entries, 70034 bytes unpacked\n";
    for (const auto& c : cases) {
        std::vector<std::string> options = {"--version", c[0]};
        options.insert(options.end(), c.begin() + 2, c.end());
        SCOPED_TRACE(testing::PrintToString(options));
        bool unrecorded = options.back() == "--unrecorded";
        options.insert(options.end(), {"--arch", "powerpc", "--note", "for tests", "--depends",
                                       "system:7.0", "--provides", "web:-1:1.0", "--conflicts",
                                       "old::7.1", "--flags", "2", "--processor-class", "3:lib"});
        std::string file = build("app", options);

        CandidatePackage r;
        ASSERT_TRUE(readPackageInfo(r, file));
        EXPECT_EQ(r.name + "|" + r.arch + "|" + r.note + "|" + std::to_string(r.buildTime) + "|" +
                      std::to_string(r.flags),
                  "app|powerpc|for tests|1700000000|2");
        ASSERT_TRUE(r.deps.size() == 1 && r.provides.size() == 1 && r.conflicts.size() == 1);
        EXPECT_EQ(std::make_tuple(r.deps[0].min, r.provides[0].priority, r.provides[0].min,
                                  r.conflicts[0].max),
                  std::make_tuple(0x07006600u, -1, 0x01006600u, 0x07016600u));

        RunResult info = pkgtool({"info", file});
        EXPECT_EQ(info.status, 0) << info.err;
        for (const std::string& shown : std::vector<std::string>{
                 unrecorded ? "unrecorded package file" : ": package file", files,
                 "part 9 (signature)", "web >= 1.0, priority -1", "system >= 7.0", "old <= 7.1"})
            EXPECT_TRUE(contains(info.out, shown)) << shown << " in\n" << info.out;

        RunResult verify = pkgtool({"verify", file});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
        EXPECT_TRUE(contains(verify.out, "app-" + c[0] + ": signature " + c[1] + ": ok"))
            << verify.out;
    }
}

TEST_F(PkgtoolTest, VersionsAreReadFromTheirTextForms) {
    const std::pair<const char*, Version> good[] = {
        {"6.40.5", 0x06286605},    {"6.40", 0x06286600},       {"6.41beta3", 0x06296203},
        {"6.41rc", 0x06296300},    {"6.42alpha1", 0x062A6101}, {"7.0", 0x07006600},
        {"0x062E6608", 0x062E6608}};
    for (const auto& c : good) {
        CandidatePackage record;
        ASSERT_TRUE(readPackageInfo(record, build("v", {"--version", c.first}, false))) << c.first;
        EXPECT_EQ(record.version, c.second) << c.first;
    }
    for (const char* bad : {"6", "6.", "6.256", "6.40.5.1", "6.41gamma", "v7.0", "", "0x0"}) {
        RunResult result =
            pkgtool({"build", "-o", path("bad.npk"), "--name", "v", "--version", bad});
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_EQ(lineCount(result.err), 1) << bad << ": " << result.err;
    }

    // Without --build-time the build time comes from SOURCE_DATE_EPOCH.
    RunResult result = pkgtool({"build", "-o", path("e.npk"), "--name", "e", "--version", "7.1"},
                               {"SOURCE_DATE_EPOCH=1234567890"});
    ASSERT_EQ(result.status, 0) << result.err;
    CandidatePackage record;
    ASSERT_TRUE(readPackageInfo(record, path("e.npk")));
    EXPECT_EQ(record.buildTime, 1234567890u);
}

TEST_F(PkgtoolTest, VerifyFailsPackagesThatFallShort) {
    const struct {
        const char* what;
        std::vector<std::string> options;
        bool cutShort;
        const char* verdict;  // on standard output, or on standard error for a cut file
    } cases[] = {
        {"legacy only, version needs Ed25519",
         {"--version", "6.46.9", "--signature", "legacy"},
         false,
         "level 1, needs 2: FAILS"},
        {"unsigned", {"--version", "6.40", "--signature", "none"}, false, "no signature part"},
        {"cut short", {"--version", "7.1"}, true, "cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = build("short", c.options);
        if (c.cutShort) {
            ASSERT_EQ(truncate(file.c_str(), 100), 0);
        }
        RunResult result = pkgtool({"verify", file});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(contains(c.cutShort ? result.err : result.out, c.verdict))
            << result.out << result.err;
        EXPECT_EQ(lineCount(result.err), 1) << result.err;
    }
}

TEST_F(PkgtoolTest, BundlesKeepEveryMemberVerifiable) {
    for (const char* digest : {"sha256", "sha1"}) {
        SCOPED_TRACE(digest);
        std::string first = build("first", {"--version", "7.16", "--digest", digest});
        std::string second = build("second", {"--version", "7.16", "--digest", digest}, false);
        std::string bundle = path("bundle.npk");
        RunResult made = pkgtool({"bundle", "-o", bundle, "--name", "all", "--version", "7.16",
                                  "--block", "second", "--note", "both", first, second});
        ASSERT_EQ(made.status, 0) << made.err;

        CandidatePackage record;
        ASSERT_TRUE(readPackageInfo(record, bundle));
        ASSERT_TRUE(record.isBundle && record.contents.size() == 2);
        EXPECT_EQ(record.contents.front()->name + " " + record.contents.back()->name,
                  "first second");

        EXPECT_TRUE(contains(pkgtool({"info", bundle}).out, "part 20 (list part 20)"));
        RunResult verify = pkgtool({"verify", bundle});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
        for (const char* line : {"bundle all-7.16", "first-7.16: signature level 2, needs 2: ok",
                                 "second-7.16: signature level 2, needs 2: ok"})
            EXPECT_TRUE(contains(verify.out, line)) << line << " in\n" << verify.out;
    }

    std::string sha256 = build("one", {"--version", "7.16"}, false);
    std::string sha1 = build("two", {"--version", "7.16", "--digest", "sha1"}, false);
    RunResult mixed = pkgtool(
        {"bundle", "-o", path("mixed.npk"), "--name", "mix", "--version", "7.16", sha256, sha1});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_TRUE(contains(mixed.err, "different digests")) << mixed.err;
    EXPECT_FALSE(root.exists("tmp/work/mixed.npk"));
}

TEST_F(PkgtoolTest, KeygenMakesKeysThatSignButThatThisBuildDoesNotAccept) {
    RunResult made = pkgtool({"keygen", path("keys")});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string signing = root.readFile("tmp/work/keys/ed25519.pub");
    std::string legacy = root.readFile("tmp/work/keys/legacy.pub");
    ASSERT_EQ(signing.size(), 65u);
    EXPECT_TRUE(contains(made.out, "-DINSTALLER_SIGNING_KEY=" + signing.substr(0, 64) +
                                       " -DINSTALLER_LEGACY_KEY=" + legacy.substr(0, 64)))
        << made.out;
    struct stat info;
    ASSERT_EQ(stat(path("keys/ed25519.seed").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string file =
        build("own", {"--version", "7.16", "--ed25519-key", path("keys/ed25519.seed"),
                      "--legacy-key", path("keys/legacy.secret")});
    RunResult verify = pkgtool({"verify", file});
    EXPECT_EQ(verify.status, 1) << "the build accepts only its own keys";
    EXPECT_TRUE(contains(verify.out, "level 0")) << verify.out;

    EXPECT_EQ(pkgtool({"keygen", path("keys")}).status, 1) << "keys are never overwritten";
    EXPECT_EQ(root.readFile("tmp/work/keys/ed25519.pub"), signing);
}

TEST_F(PkgtoolTest, ErrorsAreOneLineAndAFailingStatus) {
    root.writeFile("tmp/work/text", "hello, this is not a package file");
    // Words of the command line; OUT, NONE and TEXT stand for an output file, a missing
    // file and a file of plain text.
    const struct {
        const char *what, *words;
        int status;
    } cases[] = {
        {"no command", "", 2},
        {"build without name", "build -o OUT --version 7.1", 2},
        {"unknown option", "build -o OUT --name a --version 7.1 --colour", 2},
        {"name too long", "build -o OUT --name seventeen-letters --version 7.1", 2},
        {"bad list entry", "build -o OUT --name a --version 7.1 --depends b:1:2:3", 2},
        {"bad digest", "build -o OUT --name a --version 7.1 --digest md5", 2},
        {"missing directory", "build -o OUT --name a --version 7.1 NONE", 1},
        {"key file of text", "build -o OUT --name a --version 7.1 --legacy-key TEXT", 1},
        {"image that is a directory", "build -o OUT --name a --version 7.1 --image /tmp", 1},
        {"info of no package", "info TEXT", 1},
        {"bundle of no package", "bundle -o OUT --name b --version 7.1 TEXT", 1},
        {"bundle without members", "bundle -o OUT --name b --version 7.1", 2},
        {"output in a missing directory", "build -o NONE/x --name a --version 7.1", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args;
        std::istringstream words(c.words);
        for (std::string word; words >> word;) {
            if (word.compare(0, 4, "NONE") == 0)
                word = path("none") + word.substr(4);
            args.push_back(word == "OUT" ? path("out.npk") : word == "TEXT" ? path("text") : word);
        }
        RunResult result = pkgtool(args);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(lineCount(result.err), 1) << result.err;
        EXPECT_EQ(result.err.compare(0, 9, "pkgtool: "), 0) << result.err;
        EXPECT_FALSE(root.exists("tmp/work/out.npk"));
    }
}

}  // namespace
