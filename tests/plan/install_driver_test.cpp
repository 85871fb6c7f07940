// The install driver end to end: packages already installed, refused by their checks, and
// bundles with blocked, replaced, dropped and unchanged members.
#include "plan/install_driver.h"

#include <gtest/gtest.h>

#include "pkgwriter/bundle_writer.h"
#include "support/packages.h"

namespace {

const std::string Pdb = "flash/var/pdb/";

std::string member(const std::string& name, Version version, const std::string& content = "") {
    return content.empty() ? simplePackage(name, version)
                           : packageFile(spec(name, version, {{"bin/" + name, content}}));
}

std::string bundle(Version version, const std::vector<std::string>& members,
                   const std::vector<Dependency>& blocked = {}) {
    // Bundles keep their image: it describes their members in the database.
    return signedBundle(Package("bnd", version, 100), members, blocked, "IMAGE");
}

// The bundle writer leaves a bundle's own lists out: this one has a dependency list.
std::string bundleWithDependency(const std::string& memberFile) {
    BundleMember taken;
    std::string error;
    EXPECT_TRUE(takeMember(memberFile, taken, error)) << error;
    PackageWriter writer;
    writer.part(PartDigestSelector, DigestSelectorData);
    writer.header(Package("bnd", version7(10), 100), PartBundleHeader);
    writer.list(PartDependencies, {entry("x")});
    return writer.raw(taken.parts).bytes();
}

}  // namespace

TEST(InstallDriverTest, SameVersionIsKeptWithOrWithoutReinstall) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string file = member("pkg", version7(10), "x");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "WARNING: omitting package pkg-7.10: it is already installed"},
        {{"--reinstall"}, "installed pkg-7.10"},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, file).status, 0);
        auto before = deviceState(root);
        RunResult result = installFromStdin(root, file, c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(lastMessage(result), c.message);
        EXPECT_EQ(deviceState(root), before);  // nothing unpacked again
    }
}

TEST(InstallDriverTest, RefusedPackagesAndBundlesChangeNothing) {
    REQUIRE_DEVELOPMENT_KEYS();
    PackageSpec needy = spec("pkg", version7(10), {{"bin/x", "x"}});
    needy.deps = {entry("base")};
    const std::string good = bundle(version7(10), {member("a", version7(10), "a")});
    struct Case {
        const char* what;
        std::string file;
        int status;
        std::string message;
    } cases[] = {
        {"missing dependency", packageFile(needy), 1,
         "ERROR: can not install pkg-7.10: base is not installed, but is required"},
        {"bundle with a part after its last member",
         appended(good, partBytes(PartDependencies, "")), 2, ""},
        {"bundle with lists of its own", bundleWithDependency(member("a", version7(10), "a")), 1,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        auto before = deviceState(root);
        RunResult result = installFromStdin(root, c.file);
        EXPECT_EQ(result.status, c.status);
        if (!c.message.empty()) {
            EXPECT_EQ(lastMessage(result), c.message);
        }
        EXPECT_EQ(deviceState(root), before);
    }
}

TEST(InstallDriverTest, BundleEndingInAnArchitecturePartInstalls) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    RunResult result =
        installFromStdin(root, appended(bundle(version7(10), {member("a", version7(10), "a")}),
                                        partBytes(PartArchitecture, "i386")));
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(lastMessage(result), "installed bnd-7.10");
    EXPECT_EQ(root.readFile("flash/bin/a"), "a");
}

// A blocked member is installed disabled unless the user chose its state before.
TEST(InstallDriverTest, BlockedMemberTakesTheRememberedStateOrIsDisabled) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string file =
        bundle(version7(10), {member("a", version7(10), "a"), member("b", version7(10), "b")},
               {entry("b")});
    for (bool userEnabled : {false, true}) {
        SCOPED_TRACE(userEnabled ? "user enabled b" : "no remembered state");
        DeviceRoot root;
        if (userEnabled) {
            ASSERT_EQ(installFromStdin(root, member("b", version7(9), "old")).status, 0);
            root.writeFile(Pdb + "b/enabled", "user\n");
        }
        root.writeFile("rw/pckg/.download/bnd.npk", file);
        RunResult result = root.runOnRoot({});
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(root.readFile("flash/bin/a"), "a");
        EXPECT_EQ(root.exists("flash/bin/b"), userEnabled);
        EXPECT_EQ(root.exists("flash/x/b/bin/b"), !userEnabled);
        EXPECT_EQ(root.exists(Pdb + "b/disabled"), !userEnabled);
        EXPECT_EQ(databaseNames(root), (std::vector<std::string>{"a", "b", "bnd"}));
    }
}

TEST(InstallDriverTest, NewBundlePassesOverUnchangedMembersAndDropsMissingOnes) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    ASSERT_EQ(installFromStdin(root, bundle(version7(10), {member("a", version7(10), "old"),
                                                           member("b", version7(10), "old"),
                                                           member("c", version7(10), "old")}))
                  .status,
              0);
    RunResult result = installFromStdin(
        root,
        bundle(version7(11), {member("a", version7(10), "new"), member("b", version7(11), "new")}));
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(lastMessage(result), "installed bnd-7.11");
    EXPECT_EQ(root.readFile("flash/bin/a"), "old");  // same version: passed over
    EXPECT_EQ(root.readFile("flash/bin/b"), "new");
    EXPECT_FALSE(root.exists("flash/bin/c"));  // the dropped member's files go with it
    EXPECT_EQ(databaseNames(root), (std::vector<std::string>{"a", "b", "bnd"}));
}

TEST(InstallDriverTest, NewVersionLeavesNoFileOfTheOldOneBehind) {
    REQUIRE_DEVELOPMENT_KEYS();
    for (const std::string image : {"", "IMAGE"}) {
        SCOPED_TRACE(image.empty() ? "described by meta files" : "described by its image");
        DeviceRoot root;
        PackageSpec old = spec("p", version7(10), {{"bin/kept", "1"}, {"lib/dropped", "1"}});
        old.image = image;
        ASSERT_EQ(installFromStdin(root, packageFile(old)).status, 0);
        PackageSpec next = spec("p", version7(11), {{"bin/kept", "2"}});
        next.image = image;
        ASSERT_EQ(installFromStdin(root, packageFile(next)).status, 0);
        EXPECT_EQ(root.readFile("flash/bin/kept"), "2");
        EXPECT_FALSE(root.exists("flash/lib/dropped"));
        EXPECT_EQ(root.readFile(Pdb + "p/files"), "bin/kept\n");
    }
}
