// Unpacking end to end: where the entries of a package land, which are passed over, the
// boot-image case, the signature and trailing-part checks, unrecorded files and a full disk.
#include "pkgfile/unpack.h"

#include <gtest/gtest.h>

#include <sstream>

#include "pkg/package_set.h"
#include "plan/install_driver.h"
#include "stage/manifest.h"
#include "stage/storage.h"
#include "support/files.h"
#include "support/packages.h"

namespace {

const std::string Pdb = "flash/var/pdb/";

std::string signedAs(SignatureKind kind) {
    PackageSpec package = spec();
    package.signature = kind;
    return packageFile(package);
}

// The regular files that a run added or changed outside the database.
std::map<std::string, std::string> changedFiles(const std::map<std::string, std::string>& before,
                                                const std::map<std::string, std::string>& after) {
    std::map<std::string, std::string> changed;
    for (const auto& [path, content] : after) {
        auto old = before.find(path);
        if (path.back() != '/' && path.compare(0, Pdb.size(), Pdb) != 0 &&
            (old == before.end() || old->second != content))
            changed[path] = content;
    }
    return changed;
}

// Incompressible bytes, so that a files part is as large as its data.
std::string noise(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245 + 12345;
        c = char(state >> 24);
    }
    return bytes;
}

}  // namespace

TEST(UnpackTest, EntriesLandUnderFlashOrTheDisabledDirectory) {
    REQUIRE_DEVELOPMENT_KEYS();
    uint8_t otherClass = uint8_t(processorClass() % 4 + 1);  // never this board's
    const std::vector<FileEntry> entries = {{"bin/x", "x"},
                                            {"/bin/y", "y"},
                                            {"empty", ""},
                                            {"lib", "", 040755},
                                            {"bin/link", "x", 0120777},
                                            {"any", "a", 0100750, 0},
                                            {"other", "o", 0100644, otherClass}};
    struct Case {
        bool disabled;  // a conflicting package is installed first
        std::map<std::string, std::string> files;
        std::string list;
        std::string message;
    } cases[] = {
        {false,
         {{"flash/bin/x", "x"}, {"flash/bin/y", "y"}, {"flash/empty", ""}, {"flash/any", "a"}},
         "any\nbin/x\nbin/y\nempty\n",
         "installed pkg-7.10"},
        {true,
         {{"flash/x/pkg/bin/x", "x"},
          {"flash/x/pkg/bin/y", "y"},
          {"flash/x/pkg/empty", ""},
          {"flash/x/pkg/any", "a"}},
         "x/pkg/any\nx/pkg/bin/x\nx/pkg/bin/y\nx/pkg/empty\n",
         "installed (disabled) pkg-7.10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        DeviceRoot root;
        if (c.disabled) {
            PackageSpec guard = spec("guard");
            guard.conflicts = {entry("pkg")};
            ASSERT_EQ(installFromStdin(root, packageFile(guard)).status, 0);
        }
        auto before = deviceState(root);
        RunResult result = installFromStdin(root, packageFile(spec("pkg", version7(10), entries)));
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(lastMessage(result), c.message);
        EXPECT_EQ(changedFiles(before, deviceState(root)), c.files);
        EXPECT_EQ(root.readFile(Pdb + "pkg/files"), c.list);
        std::string any = c.disabled ? "flash/x/pkg/any" : "flash/any";
        EXPECT_EQ(permissionsOf(root.path(any)), 0750u);
    }
}

TEST(UnpackTest, BootImageAskedForLeavesTheFilesUnread) {
    REQUIRE_DEVELOPMENT_KEYS();
    for (bool asked : {false, true}) {
        DeviceRoot root;
        std::vector<std::string> env;
        if (asked)
            env.push_back("bootimage=");
        RunResult result = installFromStdin(
            root, packageFile(spec("boot", version7(10), {{"bin/x", "x"}}, FlagBootImage)), {},
            env);
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(root.exists("flash/bin/x"), !asked);
        EXPECT_EQ(root.readFile("flash/UPGRADED"), "");
    }
}

// Every refused package leaves the device as it was: the older version's files stay and
// nothing new is staged onto flash.
TEST(UnpackTest, RefusedPackagesChangeNothing) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string good = packageFile(spec("pkg", version7(10), {{"bin/x", "new"}}));
    std::string badSignature = good;
    badSignature.back() ^= 1;
    // A byte of the files part, which the boot-image case never decompresses.
    std::string badFiles = packageFile(spec("pkg", version7(10), {{"x", "x"}}, FlagBootImage));
    badFiles[badFiles.size() - 132 - 6 - 2] ^= 1;
    auto withEntry = [](const std::string& name) {
        return packageFile(spec("pkg", version7(10), {{name, "x"}}));
    };
    struct Case {
        const char* what;
        std::string file;
        std::vector<std::string> env;
        std::string shown = "pkg-7.10";
    } cases[] = {
        {"no signature", signedAs(SignatureKind::None), {}},
        {"legacy signature where Ed25519 is needed", signedAs(SignatureKind::Legacy), {}},
        {"signature that does not match", badSignature, {}},
        {"unread files part that does not match", badFiles, {"bootimage=1"}},
        {"a dependency part after the signature",
         appended(good, partBytes(PartDependencies, encodeList({entry("x")}))),
         {}},
        {"entry reaching out of flash", withEntry("../etc/passwd"), {}},
        {"entry reaching out through a subdirectory", withEntry("bin/../../x"), {}},
        {"entry name with a blank", withEntry("a b"), {}},
        {"entry name with a line feed", withEntry("a\nU /flash"), {}},
        {"package name with a slash", packageFile(spec("../pdb")), {}, "../pdb-7.10"},
        {"package name with a blank", packageFile(spec("a b")), {}, "a b-7.10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, packageFile(spec("pkg", version7(9), {{"bin/x", "old"}})))
                      .status,
                  0);
        auto before = deviceState(root);
        RunResult result = installFromStdin(root, c.file, {}, c.env);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(lastMessage(result),
                  "ERROR: installation of " + c.shown + " failed: broken package");
        EXPECT_EQ(deviceState(root), before);
    }
}

TEST(UnpackTest, ArchitectureAndEmptyDependencyPartMayFollowTheSignature) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    std::string file = appended(simplePackage("pkg"), partBytes(PartArchitecture, "i386") +
                                                          partBytes(PartDependencies, ""));
    RunResult result = installFromStdin(root, file);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(root.readFile("flash/bin/pkg"), "pkg");
}

TEST(UnpackTest, UnrecordedPackageKeepsTheInstalledVersionAndItsEntry) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    ASSERT_EQ(
        installFromStdin(root, packageFile(spec("pkg", version7(9), {{"bin/old", "o"}}))).status,
        0);
    std::string entry = root.readFile(Pdb + "pkg/version");
    PackageSpec unrecorded = spec("pkg", version7(10), {{"bin/new", "n"}});
    unrecorded.magic = UnrecordedMagic;
    RunResult result = installFromStdin(root, packageFile(unrecorded));
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(root.readFile("flash/bin/old"), "o");
    EXPECT_EQ(root.readFile("flash/bin/new"), "n");
    EXPECT_EQ(root.readFile(Pdb + "pkg/version"), entry);
}

TEST(UnpackTest, FullDiskIsReportedAndItsTemporaryFilesGo) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    const std::string file = packageFile(spec("pkg", version7(10), {{"big", noise(256 * 1024)}}));
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"flash", "size=64k"}, {"ram", "size=64k"}}, [&] {
        mkdir("/flash/var", 0755);
        mkdir("/flash/var/pdb", 0755);
        PackageSet set;
        std::ostringstream out;
        set.out = &out;
        set.arch = "i386";
        Manifest manifest;
        std::istringstream in(file);
        EXPECT_EQ(installFromStream(set, manifest, in, InstallFlag::Upgrade, {}), InstallFailed);
        ASSERT_FALSE(set.log.empty());
        EXPECT_EQ(set.log.back(), "ERROR: installation of pkg-7.10 failed: disk is too small");
        manifest.discard();
        EXPECT_EQ(directoryNames("/ram"), std::set<std::string>());
        EXPECT_EQ(directoryNames("/flash"), std::set<std::string>{"var"});
    }));
}
