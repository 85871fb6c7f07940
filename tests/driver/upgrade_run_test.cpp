// The upgrade run end to end: where package files are looked for, the downgrade marker
// and a refused file dropping the whole run. (The interrupted-run tests check what a run
// leaves, the post-install log and the cleanup.)
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

TEST(UpgradeRunTest, DownloadDirectoryFirstUnlessIgnored) {
    REQUIRE_DEVELOPMENT_KEYS();
    const struct {
        std::vector<std::string> downloads;
        std::vector<std::string> installed;
    } cases[] = {
        {{"d.npk"}, {"d"}},
        {{"d.npk", "IGNORE"}, {"f"}},
        {{"d.txt"}, {"f"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.downloads.back());
        DeviceRoot root;
        for (const std::string& name : c.downloads)
            root.writeFile(Download + name, simplePackage("d"));
        root.writeFile("flash/rw/pckg/f.npk", simplePackage("f"));
        root.writeFile("flash/var/pckg/v.npk", simplePackage("v"));
        RunResult result = root.runOnRoot({});
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(databaseNames(root), c.installed);
        EXPECT_TRUE(root.exists(Download + c.downloads.front()));
    }
}

TEST(UpgradeRunTest, DowngradeMarkerSetsTheFloor) {
    REQUIRE_DEVELOPMENT_KEYS();
    const struct {
        const char* marker;
        Version installed;
        std::string message;
    } cases[] = {
        {nullptr, version7(10),
         "WARNING: omitting package p-7.5: newer package p-7.10 is already installed"},
        {"", version7(5), "installed p-7.5"},
        {"garbage", version7(5), "installed p-7.5"},
        {"  117794304\n", version7(5), "installed p-7.5"},  // 7.5 itself
        {"117794305", version7(10), "WARNING: ommitting package p-7.5: not allowed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.marker ? c.marker : "no marker");
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, simplePackage("p")).status, 0);
        if (c.marker)
            root.writeFile("ram/DOWNGRADE", c.marker);
        root.writeFile(Download + "p.npk", simplePackage("p", version7(5)));
        RunResult result = root.runOnRoot({});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(lastMessage(result), c.message);
        EXPECT_EQ(root.readFile("flash/var/pdb/p/version"), std::to_string(c.installed) + " 100\n");
    }
}
