// The install driver end to end: reinstalls, new versions, and bundles with blocked, replaced,
// dropped and unchanged members.
#include "plan/install_driver.h"

#include <gtest/gtest.h>

#include "support/packages.h"

namespace {

const std::string Pdb = "flash/var/pdb/";

// Package name 7.minor with the one file bin/name.
std::string member(const std::string& name, unsigned minor, const std::string& content) {
    return packageFile(spec(name, version7(minor), {{"bin/" + name, content}}));
}

std::string bundle(Version version, const std::vector<std::string>& members,
                   const std::vector<Dependency>& blocked = {}) {
    // Bundles keep their image: it describes their members in the database.
    return signedBundle(Package("bnd", version, 100), members, blocked, "IMAGE");
}

}  // namespace

TEST(InstallDriverTest, SameVersionIsKeptWithOrWithoutReinstall) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string file = member("pkg", 10, "x");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "WARNING: omitting package pkg-7.10: it is already installed"},
        {{"--reinstall"}, "installed pkg-7.10"},
    };
    for (const auto& [args, message] : cases) {
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, file).status, 0);
        auto before = deviceState(root);
        RunResult result = installFromStdin(root, file, args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(lastMessage(result), message);
        EXPECT_EQ(deviceState(root), before);  // nothing unpacked again
    }
}

TEST(InstallDriverTest, BundleEndingInAnArchitecturePartInstalls) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    RunResult result = installFromStdin(root, appended(bundle(version7(10), {member("a", 10, "a")}),
                                                       partBytes(PartArchitecture, "i386")));
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(lastMessage(result), "installed bnd-7.10");
    EXPECT_EQ(root.readFile("flash/bin/a"), "a");
}

// A blocked member is installed disabled unless the user chose its state before.
TEST(InstallDriverTest, BlockedMemberTakesTheRememberedStateOrIsDisabled) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string file =
        bundle(version7(10), {member("a", 10, "a"), member("b", 10, "b")}, {entry("b")});
    for (bool userEnabled : {false, true}) {
        SCOPED_TRACE(userEnabled ? "user enabled b" : "no remembered state");
        DeviceRoot root;
        if (userEnabled) {
            ASSERT_EQ(installFromStdin(root, member("b", 9, "old")).status, 0);
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
    ASSERT_EQ(
        installFromStdin(root, bundle(version7(10), {member("a", 10, "old"), member("b", 10, "old"),
                                                     member("c", 10, "old")}))
            .status,
        0);
    RunResult result = installFromStdin(
        root, bundle(version7(11), {member("a", 10, "new"), member("b", 11, "new")}));
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

// A file of the installed version is passed over, yet its copy replaces the kept image (or
// the boot image): it is checked first, so a damaged one is refused and changes nothing.
TEST(InstallDriverTest, DamagedFileOfTheInstalledVersionKeepsTheGoodImage) {
    REQUIRE_DEVELOPMENT_KEYS();
    PackageSpec made = spec("kern", version7(10), {{"bin/kern", "kernel"}}, FlagBootImage);
    made.image = "IMAGE";
    const std::string good = packageFile(made);
    const std::string damaged = flipped(good, good.size() - 150);  // in the files part
    const std::string member = packageFile(spec("m", version7(10), {{"bin/m", "m"}}));
    const std::string damagedMember = flipped(member, member.size() - 150);
    const std::string Refused = "ERROR: installation of kern-7.10 failed: broken package";
    struct Case {
        const char* what;
        std::string installed, offered;
        std::vector<std::string> args;
        bool fromStdin;
        std::string message;
    } cases[] = {
        {"standard input", good, damaged, {}, true, Refused},
        {"standard input, --reinstall", good, damaged, {"--reinstall"}, true, Refused},
        {"download directory", good, damaged, {}, false, Refused},
        {"bundle member passed over",
         bundle(version7(10), {member}),
         bundle(version7(11), {damagedMember}),
         {},
         true,
         "ERROR: installation of bnd-7.11 failed: broken package"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, c.installed).status, 0);
        auto before = deviceState(root);
        RunResult result;
        if (c.fromStdin) {
            result = installFromStdin(root, c.offered, c.args);
        } else {
            root.writeFile("rw/pckg/.download/kern.npk", c.offered);
            result = root.runOnRoot(c.args);
            before.erase("rw/pckg/.download/kern.npk");
        }
        // A refused file drops the upgrade run, which still ends with status 0.
        EXPECT_EQ(result.status != 0, c.fromStdin);
        EXPECT_EQ(lastMessage(result), c.message) << result.out;
        auto after = deviceState(root);
        after.erase("rw/pckg/.download/kern.npk");
        EXPECT_EQ(after, before);
    }
}
