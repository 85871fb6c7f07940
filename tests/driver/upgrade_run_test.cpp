// The upgrade run end to end: where package files are looked for, the downgrade marker
// and a refused file dropping the whole run.
#include <gtest/gtest.h>

#include "support/packages.h"

namespace {

const std::string Download = "rw/pckg/.download/";

std::string needing(const std::string& name, const std::vector<Dependency>& deps) {
    PackageSpec made = spec(name, version7(10), {{"bin/" + name, name}});
    made.deps = deps;
    return packageFile(made);
}

}  // namespace

TEST(UpgradeRunTest, RefusedFileDropsTheWholeRunAndLaterFilesAreNotRead) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    ASSERT_EQ(installFromStdin(root, simplePackage("old")).status, 0);
    ASSERT_EQ(installFromStdin(root, simplePackage("kept")).status, 0);
    root.writeFile("ram/pdb/old/schedule", "uninstall\n");
    std::string broken = needing("c", {entry("b")});
    broken.back() ^= 1;
    root.writeFile(Download + "a.npk", simplePackage("a"));
    root.writeFile(Download + "b.npk", needing("b", {entry("a"), entry("zzz")}));
    root.writeFile(Download + "c.npk", broken);
    auto before = deviceState(root);
    RunResult result = root.runOnRoot({});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(messageLines(result.out),
              (std::vector<std::string>{
                  "installed a-7.10",
                  "ERROR: can not install b-7.10: zzz is not installed, but is required"}));
    EXPECT_EQ(deviceState(root), before);
}

// Package files are taken from the download directory (only *.npk, and not while it holds
// IGNORE), else from /flash/rw/pckg/, else from /flash/var/pckg/. /ram/DOWNGRADE allows
// older versions down to the one it names (any when it holds no number).
TEST(UpgradeRunTest, WhereFilesAreTakenFromAndTheDowngradeFloor) {
    REQUIRE_DEVELOPMENT_KEYS();
    // download directory | /ram/DOWNGRADE | version of p afterwards | last message
    const std::tuple<std::vector<std::string>, const char*, Version, std::string> cases[] = {
        {{"p.npk"},
         nullptr,
         version7(10),
         "WARNING: omitting package p-7.5: newer package p-7.10 is already installed"},
        {{"p.npk"}, "", version7(5), "installed p-7.5"},
        {{"p.npk"}, "garbage", version7(5), "installed p-7.5"},
        {{"p.npk"}, "  117794304\n", version7(5), "installed p-7.5"},  // 7.5 itself
        {{"p.npk"}, "117794305", version7(10), "WARNING: ommitting package p-7.5: not allowed"},
        {{"p.npk", "IGNORE"}, nullptr, version7(11), "installed p-7.11"},
        {{"p.txt"}, nullptr, version7(11), "installed p-7.11"},
    };
    for (const auto& [downloads, marker, version, message] : cases) {
        SCOPED_TRACE(downloads.back() + " " + (marker ? marker : "(no marker)"));
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, simplePackage("p")).status, 0);
        if (marker)
            root.writeFile("ram/DOWNGRADE", marker);
        for (const std::string& name : downloads)
            root.writeFile(Download + name, simplePackage("p", version7(5)));
        root.writeFile("flash/rw/pckg/p.npk", simplePackage("p", version7(11)));
        root.writeFile("flash/var/pckg/v.npk", simplePackage("v"));
        RunResult result = root.runOnRoot({});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(lastMessage(result), message);
        EXPECT_EQ(databaseNames(root), std::vector<std::string>{"p"});
        EXPECT_EQ(root.readFile("flash/var/pdb/p/version"), std::to_string(version) + " 100\n");
        EXPECT_TRUE(root.exists(Download + downloads[0]));
    }
}
