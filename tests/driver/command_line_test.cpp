// The installer's command line end to end: usage, options and which mode runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/device_root.h"

// Run on a root without a database, whose load warns: the usage runs load nothing.
TEST(CommandLineTest, ArgumentTableAndModePrecedence) {
    const std::string Usage = "usage: installer [-q] [-r <root>] [-]\n";
    const std::string Resuming = "\nResuming upgrade...\n",
                      Warned = "WARNING: could not open repo\n";
    const std::string Header = std::string(12, ' ') + "Name" + std::string(10, ' ') + "Version" +
                               std::string(16, ' ') + "Built" + std::string(36, ' ') + "Note\n" +
                               std::string(94, '-') + "\n";
    DeviceRoot root;
    rmdir(root.path("flash/var/pdb").c_str());
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err = "";
    } cases[] = {
        {{"--bogus"}, 0, Usage},
        {{"-q", "--safe", "-down", "-i", "--bogus", "--show"}, 0, Usage},
        {{"--show", "-x"}, 0, Usage},
        {{"-r"}, 0, Usage},
        {{"--month"}, 0, Usage},
        {{"--reinstall", "--bogus"}, 0, Resuming + Usage},
        {{"-b", "--force", "--noupgrade", "-i", "--month", "x", "-down", "--safe", "--show"},
         0,
         Warned + Header},
        {{"--show", "-"}, 0, Warned + Header},
        {{"--show", "--cleanup"}, 0, Warned + Header},
        {{"--reinstall", "--show"}, 0, Resuming + Warned + Header},
        {{"-r", "/no/such/root", "-r", root.root(), "--show"}, 0, Warned + Header},
        // A failed change of root is reported and the run goes on where it is.
        {{"-r", root.path("none"), "--show"},
         0,
         Warned + Header,
         "chroot: No such file or directory\n"},
        {{"-q", "--show"}, 0, Header},
        {{"-", "--show"}, 255, Warned + "ERROR: could not open image\n"},
        {{"--cleanup", "--show"}, 0, Warned},
    };
    for (const auto& c : cases) {
        RunResult result = root.runOnRoot(c.args, "not a package");
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
}

// "--commit" and "--cancel" end the arguments and act on the root they start in. "--commit"
// refuses a manifest with a line the installer could not have written, as a whole;
// "--cancel" deletes the manifest and the temporary files it names, not other sources.
TEST(CommandLineTest, CommitAndCancelTakeTheSavedManifestOfTheirOwnRoot) {
    DeviceRoot root;
    for (std::string dir : {"", "other/"}) {
        root.writeFile(dir + "ram/MANIFEST", "U /flash/victim\nU /etc/passwd\n");
        root.writeFile(dir + "flash/victim", "v");
    }
    auto before = root.snapshot();
    RunResult refused = root.runInside({"--commit"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out,
              "ERROR: refused /ram/MANIFEST: line 2 is not one the installer writes: "
              "U /etc/passwd\n");
    EXPECT_EQ(root.snapshot(), before);
    root.writeFile("ram/MANIFEST", "U /flash/victim\n");
    EXPECT_EQ(root.runInside({"-r", "/other", "--commit", "--bogus"}).out,
              "finishing install... \b \n");
    EXPECT_FALSE(root.exists("flash/victim"));
    EXPECT_TRUE(root.exists("other/flash/victim"));

    root.writeFile("ram/MANIFEST",
                   "M /flash/bin/x /flash/bin/.installer-AAAAAA\n"
                   "M /flash/var/pdb/k/image /rw/pckg/.download/k.npk\n");
    for (const char* file :
         {"flash/bin/.installer-AAAAAA", "rw/pckg/.download/k.npk", "flash/var/pdb/.temporaries"})
        root.writeFile(file, "");
    EXPECT_EQ(root.runInside({"--cancel", "--bogus"}).out, "");
    for (const char* gone :
         {"ram/MANIFEST", "flash/bin/.installer-AAAAAA", "flash/var/pdb/.temporaries"})
        EXPECT_FALSE(root.exists(gone)) << gone;
    EXPECT_TRUE(root.exists("rw/pckg/.download/k.npk"));
}
