// End-to-end tests of "--commit" and "--cancel" on a device root.
#include <gtest/gtest.h>

#include "support/device_root.h"

namespace {

const char FinishedOutput[] = "finishing install... \b \n";

// A device with an installed tree and a saved manifest that replaces, removes and links.
void prepareSavedUpgrade(DeviceRoot& root) {
    root.writeFile("flash/bin/x", "old x");
    root.writeFile("flash/lib/old.so", "old library");
    root.writeFile("flash/var/pdb/gone/version", "1 2\n");
    root.writeFile("flash/bin/tmpAAAAAA", "new x");
    root.writeFile("ram/tmpBBBBBB", "new y");
    root.writeFile("ram/MANIFEST",
                   "U /flash//bin/x\n"
                   "M /flash/bin/x /flash/bin/tmpAAAAAA\n"
                   "M /flash/etc/y /ram/tmpBBBBBB\n"
                   "U /flash/lib/old.so\n"
                   "L /flash/var/pdb/sys/image /flash/bootimage\n"
                   "U /flash/var/pdb/gone/\n");
}

}  // namespace

TEST(SavedManifestTest, CommitAppliesSavedManifestAndKeepsIt) {
    DeviceRoot root;
    prepareSavedUpgrade(root);
    std::map<std::string, std::string> expected = root.snapshot();
    expected.erase("flash/bin/tmpAAAAAA");
    expected.erase("ram/tmpBBBBBB");
    expected["flash/bin/x"] = "new x";
    expected["flash/etc/"] = "";
    expected["flash/etc/y"] = "new y";
    expected.erase("flash/lib/old.so");
    expected["flash/var/pdb/sys/"] = "";
    expected["flash/var/pdb/sys/image"] = "-> /flash/bootimage";
    expected.erase("flash/var/pdb/gone/");
    expected.erase("flash/var/pdb/gone/version");

    RunResult first = root.runInside({"--commit"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, FinishedOutput);
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(root.snapshot(), expected);

    RunResult second = root.runInside({"--commit"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, FinishedOutput);
    EXPECT_EQ(second.err, "rename: No such file or directory\nrename: No such file or directory\n");
    EXPECT_EQ(root.snapshot(), expected);
}

TEST(SavedManifestTest, CommitUsesTheCurrentRootsManifest) {
    struct Case {
        std::vector<std::string> args;
        bool saved;
    };
    const Case cases[] = {{{"--commit"}, false}, {{"-r", "/other", "--commit"}, true}};
    for (const Case& c : cases) {
        DeviceRoot root;
        root.writeFile("other/ram/MANIFEST", "U /other/victim\n");
        root.writeFile("other/victim", "v");
        root.writeFile("flash/victim", "v");
        if (c.saved)
            root.writeFile("ram/MANIFEST", "U /flash/victim\n");
        RunResult result = root.runInside(c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, FinishedOutput);
        EXPECT_TRUE(root.exists("other/victim"));
        EXPECT_EQ(root.exists("flash/victim"), !c.saved);
    }
}

TEST(SavedManifestTest, CancelDeletesOnlyTheSavedManifest) {
    DeviceRoot root;
    prepareSavedUpgrade(root);
    std::map<std::string, std::string> expected = root.snapshot();
    expected.erase("ram/MANIFEST");
    RunResult result = root.runInside({"--cancel"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(root.snapshot(), expected);
}
