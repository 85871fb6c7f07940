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

#include "pkg/package_header.h"
#include "pkgfile/package_file.h"
#include "support/device_root.h"

namespace {

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

    // pkgtool with the words of line as arguments; "@name" stands for path(name).
    RunResult run(const std::string& line, const std::vector<std::string>& env = {}) {
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;)
            args.push_back(word[0] == '@' ? path(word.substr(1)) : word);
        return runBuiltProgram(PKGTOOL_BINARY, args, "", env);
    }

    // Builds NAME.npk with the given options, from the tree unless withTree is false;
    // expects success.
    std::string build(const std::string& name, const std::string& options, bool withTree = true) {
        RunResult result = run("build -o @" + name + ".npk --name " + name +
                               " --build-time 1700000000 " + options + (withTree ? " @tree" : ""));
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return path(name + ".npk");
    }

    // Expects a run that ends with status and shows every one of parts on standard output.
    static void expectShown(const RunResult& result, int status,
                            const std::vector<std::string>& parts) {
        EXPECT_EQ(result.status, status) << result.out << result.err;
        for (const std::string& part : parts)
            EXPECT_TRUE(contains(result.out, part)) << part << " in\n" << result.out;
    }

    DeviceRoot root;
};

TEST_F(PkgtoolTest, BuiltPackagesReadBackAndVerify) {
    // The version, the signature level, and the digest and signature options.
    const std::string cases[][3] = {
        {"7.16.1", "level 2, needs 2", ""},
        {"7.16.1", "level 2, needs 2", "--digest sha1"},
        {"7.16.1", "level 2, needs 2", "--unrecorded"},
        {"6.45.9", "level 1, needs 1", "--signature legacy"},
        {"7.16.1", "level 2, needs 2", "--signature ed25519"},
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
    for (const auto& [version, level, options] : cases) {
        SCOPED_TRACE(options);
        const std::string arguments = "--version " + version + " " + options +
                                      " --arch powerpc --note for-tests --depends system:7.0"
                                      " --provides web:-1:1.0 --conflicts old::7.1 --flags 2"
                                      " --processor-class 3:lib";
        std::string file = build("app", arguments), first = root.readFile("tmp/work/app.npk");
        // A second build of the same input with the same keys and time is the same file.
        build("app", arguments);
        EXPECT_TRUE(root.readFile("tmp/work/app.npk") == first) << "the second build differs";
        CandidatePackage r;
        ASSERT_TRUE(readPackageInfo(r, file));
        ASSERT_TRUE(r.deps.size() == 1 && r.provides.size() == 1 && r.conflicts.size() == 1);
        EXPECT_EQ(std::make_tuple(r.name, r.arch, r.note, r.buildTime, r.flags, r.deps[0].min,
                                  r.provides[0].priority, r.provides[0].min, r.conflicts[0].max),
                  std::make_tuple("app", "powerpc", "for-tests", 1700000000u, 2u, 0x07006600u, -1,
                                  0x01006600u, 0x07016600u));
        expectShown(
            run("info " + file), 0,
            {options == "--unrecorded" ? "unrecorded package file" : ": package file", files,
             "part 9 (signature)", "web >= 1.0, priority -1", "system >= 7.0", "old <= 7.1"});
        expectShown(run("verify " + file), 0, {"app-" + version + ": signature " + level + ": ok"});
    }
}

TEST_F(PkgtoolTest, VersionsAreReadFromTheirTextForms) {
    // Without --build-time the build time comes from SOURCE_DATE_EPOCH.
    auto buildVersion = [&](const char* text) {
        return runBuiltProgram(PKGTOOL_BINARY,
                               {"build", "-o", path("v.npk"), "--name", "v", "--version", text}, "",
                               {"SOURCE_DATE_EPOCH=1234567890"});
    };
    const std::pair<const char*, Version> good[] = {
        {"6.40.5", 0x06286605},    {"6.40", 0x06286600},       {"6.41beta3", 0x06296203},
        {"6.41rc", 0x06296300},    {"6.42alpha1", 0x062A6101}, {"7.0", 0x07006600},
        {"0x062E6608", 0x062E6608}};
    for (const auto& [text, version] : good) {
        CandidatePackage record;
        ASSERT_EQ(buildVersion(text).status, 0) << text;
        ASSERT_TRUE(readPackageInfo(record, path("v.npk")));
        EXPECT_EQ(std::make_pair(record.version, record.buildTime),
                  std::make_pair(version, 1234567890u))
            << text;
    }
    for (const char* bad : {"6", "6.", "6.256", "6.40.5.1", "6.41gamma", "v7.0", "", "0x0"}) {
        RunResult result = buildVersion(bad);
        EXPECT_TRUE(result.status == 2 && lineCount(result.err) == 1) << bad << ": " << result.err;
    }
}

TEST_F(PkgtoolTest, VerifyFailsPackagesThatFallShort) {
    // Build options, whether the file is then cut short, and the verdict: on standard
    // output, or on standard error for a cut file. The first needs Ed25519 by its version.
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"--version 6.46.9 --signature legacy", false, "level 1, needs 2: FAILS"},
        {"--version 6.40 --signature none", false, "no signature part"},
        {"--version 7.1", true, "cut short"},
    };
    for (const auto& [options, cutShort, verdict] : cases) {
        SCOPED_TRACE(options);
        std::string file = build("short", options);
        ASSERT_TRUE(!cutShort || truncate(file.c_str(), 100) == 0);
        RunResult result = run("verify " + file);
        EXPECT_TRUE(result.status == 1 && lineCount(result.err) == 1 &&
                    contains(cutShort ? result.err : result.out, verdict))
            << result.out << result.err;
    }
}

TEST_F(PkgtoolTest, BundlesKeepEveryMemberVerifiable) {
    for (std::string digest : {"sha256", "sha1"}) {
        SCOPED_TRACE(digest);
        build("first", "--version 7.16 --digest " + digest);
        build("second", "--version 7.16 --digest " + digest, false);
        expectShown(run("bundle -o @bundle.npk --name all --version 7.16 --block second --note "
                        "both @first.npk @second.npk"),
                    0, {});
        CandidatePackage record;
        ASSERT_TRUE(readPackageInfo(record, path("bundle.npk")));
        ASSERT_TRUE(record.isBundle && record.contents.size() == 2);
        EXPECT_EQ(record.contents.front()->name + " " + record.contents.back()->name,
                  "first second");
        expectShown(run("info @bundle.npk"), 0, {"part 20 (list part 20)"});
        expectShown(run("verify @bundle.npk"), 0,
                    {"bundle all-7.16", "first-7.16: signature level 2, needs 2: ok",
                     "second-7.16: signature level 2, needs 2: ok"});
    }
    // first.npk is now SHA-1.
    build("one", "--version 7.16", false);
    RunResult mixed = run("bundle -o @mixed.npk --name mix --version 7.16 @one.npk @first.npk");
    EXPECT_TRUE(mixed.status == 1 && contains(mixed.err, "different digests")) << mixed.err;
    EXPECT_FALSE(root.exists("tmp/work/mixed.npk"));
}

TEST_F(PkgtoolTest, KeygenMakesKeysThatSignButThatThisBuildDoesNotAccept) {
    RunResult made = run("keygen @keys");
    std::string signing = root.readFile("tmp/work/keys/ed25519.pub");
    ASSERT_EQ(signing.size(), 65u) << made.err;
    expectShown(made, 0,
                {"-DINSTALLER_SIGNING_KEY=" + signing.substr(0, 64) + " -DINSTALLER_LEGACY_KEY=" +
                 root.readFile("tmp/work/keys/legacy.pub").substr(0, 64)});
    EXPECT_EQ(permissionsOf(path("keys/ed25519.seed")), 0600u);
    // The build accepts only its own keys.
    expectShown(run("verify " + build("own",
                                      "--version 7.16 --ed25519-key @keys/ed25519.seed"
                                      " --legacy-key @keys/legacy.secret")),
                1, {"level 0"});
    EXPECT_EQ(run("keygen @keys").status, 1) << "keys are never overwritten";
    EXPECT_EQ(root.readFile("tmp/work/keys/ed25519.pub"), signing);
}

TEST_F(PkgtoolTest, ErrorsAreOneLineAndAFailingStatus) {
    root.writeFile("tmp/work/text", "hello, this is not a package file");
    root.writeFile("tmp/work/pdb/var/pdb/other/files", "bin/x\n");
    // @none is a missing file, @text a file of plain text, @pdb a tree with a database
    // entry: names the installer would refuse are refused here.
    const std::pair<const char*, int> cases[] = {
        {"", 2},
        {"build -o @out.npk --version 7.1", 2},
        {"build -o @out.npk --name a --version 7.1 --colour", 2},
        {"build -o @out.npk --name seventeen-letters --version 7.1", 2},
        {"build -o @out.npk --name a --version 7.1 --depends b:1:2:3", 2},
        {"build -o @out.npk --name a --version 7.1 --digest md5", 2},
        {"build -o @out.npk --name .app --version 7.1", 2},
        {"build -o @out.npk --name a --version 7.1 @pdb", 1},
        {"build -o @out.npk --name a --version 7.1 @none", 1},
        {"build -o @out.npk --name a --version 7.1 --legacy-key @text", 1},
        {"build -o @out.npk --name a --version 7.1 --image /tmp", 1},
        {"info @text", 1},
        {"bundle -o @out.npk --name b --version 7.1 @text", 1},
        {"bundle -o @out.npk --name b --version 7.1", 2},
        {"build -o @none/x --name a --version 7.1", 1},
    };
    for (const auto& [words, status] : cases) {
        RunResult result = run(words);
        EXPECT_TRUE(result.status == status && lineCount(result.err) == 1 &&
                    result.err.compare(0, 9, "pkgtool: ") == 0)
            << words << ": " << result.err;
        EXPECT_FALSE(root.exists("tmp/work/out.npk"));
    }
}

}  // namespace
