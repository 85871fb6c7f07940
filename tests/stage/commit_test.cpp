// Tests of the commit: removals before moves, links, copies across file systems.
#include "stage/commit.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "stage/manifest.h"
#include "support/device_root.h"
#include "support/files.h"

// Only a package's database folder is emptied and removed; any other folder stays whole.
TEST(CommitTest, RemovalsAndLinksBeforeMoves) {
    DeviceRoot root;
    root.writeFile("flash/bin/x", "old x");
    root.writeFile("flash/var/pdb/old/plain", "p");
    root.writeFile("flash/var/pdb/old/.hidden", "h");
    root.writeFile("flash/shared/other", "o");
    root.writeFile("flash/etc/conf", "a regular file");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        CommitResult result;
        std::string err = captureOutput(2, [&] {
            Manifest manifest;
            manifest.stageRemove("/flash//bin/x");
            manifest.createFile("/flash/bin/x", 0, 0) << "new x";
            manifest.stageRemove("/flash/var/pdb/old/");
            manifest.stageRemove("/flash/shared");
            manifest.setEntry("/flash/missing", EntryKind::Unlink, "");
            manifest.stageLink("/flash/bin/x", "/flash/etc/conf");
            manifest.stageLink("/flash/bin/x", "/flash/a/b/c/link");
            manifest.stageLink("/flash/bin/x", "/flash/bin/x/link");
            manifest.stageMove("/ram/absent", "/flash/y");
            result = manifest.commit(false);
        });
        EXPECT_EQ(err, "rename: No such file or directory\n");
        ASSERT_EQ(result.problems.size(), 2u);
        EXPECT_EQ(result.problems[0].path, "/flash/bin/x/link");
        EXPECT_EQ(result.problems[0].error, ENOTDIR);
        EXPECT_EQ(result.problems[1].path, "/flash/y");
        EXPECT_EQ(result.problems[1].kind, CommitProblem::Lost);
        EXPECT_FALSE(result.journalKept);
        EXPECT_FALSE(pathPresent("/flash/var/pdb/.journal"));
        EXPECT_EQ(fileText("/flash/bin/x"), "new x");
        EXPECT_EQ(directoryNames("/flash/var/pdb/old"), std::set<std::string>{".hidden"});
        EXPECT_EQ(fileText("/flash/shared/other"), "o");
        EXPECT_EQ(fileText("/flash/etc/conf"), "new x");
        EXPECT_EQ(fileText("/flash/a/b/c/link"), "new x");
    }));
}

// A copy takes the mode of its old target, or that of its source less the umask; the
// sources stay, and copies that are quick turn the spinner once.
TEST(CommitTest, MoveAcrossFileSystemsCopies) {
    DeviceRoot root;
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"flash", "size=128k"}, {"ram", "size=1m"}}, [] {
        umask(022);
        for (const char* dir : {"/flash/bin", "/flash/var", "/flash/var/pdb"})
            mkdir(dir, 0755);
        putFile("/flash/bin/kept", "old", 0700);
        putFile("/flash/big", std::string(40000, 'o'));
        putFile("/ram/new", "fresh", 0777);
        putFile("/ram/replacement", "replacement", 0777);
        putFile("/ram/big", std::string(30000, 'b'));
        Manifest manifest;
        manifest.stageMove("/ram/new", "/flash/bin/new");
        manifest.stageMove("/ram/replacement", "/flash/bin/kept");
        manifest.stageMove("/ram/big", "/flash/big");
        CommitResult result;
        EXPECT_EQ(captureOutput(1, [&] { result = manifest.commit(true); }), "|");
        EXPECT_TRUE(result.started && result.problems.empty());
        EXPECT_EQ(fileText("/flash/bin/new"), "fresh");
        EXPECT_EQ(permissionsOf("/flash/bin/new"), 0755u);
        EXPECT_EQ(fileText("/flash/bin/kept"), "replacement");
        EXPECT_EQ(permissionsOf("/flash/bin/kept"), 0700u);
        EXPECT_EQ(fileText("/flash/big"), std::string(30000, 'b'));
        EXPECT_EQ(directoryNames("/flash/bin"), (std::set<std::string>{"kept", "new"}));
        EXPECT_EQ(directoryNames("/ram"), (std::set<std::string>{"big", "new", "replacement"}));
    }));
}
