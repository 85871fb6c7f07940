// The modes that change the device, end to end: changes saved by "--safe" and dropped by
// "--cancel" or refused by "--commit", and the runs that fail, say why and change nothing.
// (The interrupted-run tests check what each mode leaves when it succeeds.)
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/packages.h"

namespace {

const std::string Download = "rw/pckg/.download/";

}  // namespace

// "--cancel" deletes the saved manifest and the temporary files it names.
TEST(ModesTest, CancelDropsTheSavedChanges) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    root.writeFile(Download + "p.npk", simplePackage("p"));
    auto before = deviceState(root);
    ASSERT_EQ(root.runOnRoot({"--safe"}).status, 0);
    EXPECT_NE(root.readFile("ram/MANIFEST").find(" /flash/PCKGS_CHANGED "), std::string::npos);
    RunResult result = root.runInside({"--cancel"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(deviceState(root), before);
}

// "--commit" commits only what the installer itself could have staged.
TEST(ModesTest, ForeignLineRefusesTheWholeSavedManifest) {
    DeviceRoot root;
    root.writeFile("flash/lib/old.so", "old library");
    root.writeFile("flash/bin/tmpAAAAAA", "new x");
    root.writeFile("etc/passwd", "root");
    root.writeFile("ram/MANIFEST",
                   "U /flash/lib/old.so\nM /flash/bin/x /flash/bin/tmpAAAAAA\n"
                   "L /flash/var/pdb/sys/image /flash/bootimage\nU /etc/passwd\n");
    auto before = root.snapshot();
    RunResult result = root.runInside({"--commit"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "ERROR: refused /ram/MANIFEST: line 4 is not one the installer writes: "
              "U /etc/passwd\n");
    EXPECT_EQ(root.snapshot(), before);
}

TEST(ModesTest, FailedRunsChangeNothingAndSayWhy) {
    REQUIRE_DEVELOPMENT_KEYS();
    // a directory that makes the run fail ("" removes /flash/boot) | arguments | status |
    // last message
    const std::tuple<std::string, std::vector<std::string>, int, std::string> cases[] = {
        {"", {}, 28, "ERROR: not enough space for upgrade"},
        {"ram/MANIFEST/x/", {"--safe"}, 1, "ERROR: could not save /ram/MANIFEST"},
        {"flash/PCKGS_CHANGED/",
         {},
         1,
         "ERROR: could not create /flash/PCKGS_CHANGED: Is a directory"},
    };
    for (const auto& [dir, args, status, message] : cases) {
        SCOPED_TRACE(message);
        DeviceRoot root;
        if (dir.empty())
            rmdir(root.path("flash/boot").c_str());
        else
            root.makeDir(dir);
        root.writeFile(Download + "p.npk", simplePackage("p"));
        auto before = deviceState(root);
        RunResult result = root.runOnRoot(args);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(lastMessage(result), message);
        EXPECT_EQ(deviceState(root), before);
    }
}
