// The upgrade run end to end: a refused file drops the whole run.
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
