// End-to-end tests of "--commit" and "--cancel" on a device root.
#include <gtest/gtest.h>

#include "support/device_root.h"

namespace {

const char Finished[] = "finishing install... \b \n";

// An installed tree and a saved manifest that replaces, moves in, removes and links.
void prepareSavedUpgrade(DeviceRoot& root) {
    root.writeFile("flash/bin/x", "old x");
    root.writeFile("flash/lib/old.so", "old library");
    root.writeFile("flash/var/pdb/gone/version", "1 2\n");
    root.writeFile("flash/bin/tmpAAAAAA", "new x");
    root.writeFile("ram/tmpBBBBBB", "new y");
    root.writeFile("ram/MANIFEST",
                   "U /flash//bin/x\nM /flash/bin/x /flash/bin/tmpAAAAAA\n"
                   "M /flash/etc/y /ram/tmpBBBBBB\nU /flash/lib/old.so\n"
                   "L /flash/var/pdb/sys/image /flash/bootimage\nU /flash/var/pdb/gone/\n");
}

}  // namespace

TEST(SavedManifestTest, CommitAppliesSavedManifestAndKeepsIt) {
    DeviceRoot root;
    prepareSavedUpgrade(root);
    std::map<std::string, std::string> expected = root.snapshot();
    for (const char* gone : {"flash/bin/tmpAAAAAA", "ram/tmpBBBBBB", "flash/lib/old.so",
                             "flash/var/pdb/gone/", "flash/var/pdb/gone/version"})
        expected.erase(gone);
    expected["flash/bin/x"] = "new x";
    expected["flash/etc/"] = "";
    expected["flash/etc/y"] = "new y";
    expected["flash/var/pdb/sys/"] = "";
    expected["flash/var/pdb/sys/image"] = "-> /flash/bootimage";
    for (int time = 0; time < 2; ++time) {  // the second commit finds everything done
        RunResult result = root.runInside({"--commit"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, Finished);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(root.snapshot(), expected);
    }
}

TEST(SavedManifestTest, CommitUsesTheCurrentRootsManifest) {
    for (bool saved : {false, true}) {
        DeviceRoot root;
        root.writeFile("other/ram/MANIFEST", "U /other/victim\n");
        root.writeFile("other/victim", "v");
        root.writeFile("flash/victim", "v");
        if (saved)
            root.writeFile("ram/MANIFEST", "U /flash/victim\n");
        RunResult result = root.runInside({"-r", "/other", "--commit"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, Finished);
        EXPECT_TRUE(root.exists("other/victim"));
        EXPECT_EQ(root.exists("flash/victim"), !saved);
    }
}

// "--commit" commits only what the installer itself could have staged.
TEST(SavedManifestTest, ForeignLineRefusesTheWholeManifest) {
    DeviceRoot root;
    prepareSavedUpgrade(root);
    root.writeFile("etc/passwd", "root");
    root.writeFile("ram/MANIFEST", root.readFile("ram/MANIFEST") + "U /etc/passwd\n");
    auto before = root.snapshot();
    RunResult result = root.runInside({"--commit"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "ERROR: refused /ram/MANIFEST: line 7 is not one the installer writes: "
              "U /etc/passwd\n");
    EXPECT_EQ(root.snapshot(), before);
}
