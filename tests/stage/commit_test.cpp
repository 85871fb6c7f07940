// Tests of the commit: removals before moves, directories, links, copies across file
// systems and the spinner.
#include "stage/commit.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "stage/manifest.h"
#include "support/device_root.h"
#include "support/files.h"

TEST(CommitTest, RemovalsAndLinksBeforeMoves) {
    DeviceRoot root;
    root.writeFile("flash/bin/x", "old x");
    root.writeFile("flash/old/plain", "p");
    root.writeFile("flash/old/.hidden", "h");
    root.writeFile("flash/etc/conf", "a regular file");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        std::string err = captureOutput(2, [] {
            Manifest manifest;
            manifest.stageRemove("/flash//bin/x");
            manifest.createFile("/flash/bin/x", 0, 0) << "new x";
            manifest.stageRemove("/flash/old/");
            manifest.setEntry("/flash/missing", EntryKind::Unlink, "");
            manifest.stageLink("/flash/bin/x", "/flash/etc/conf");
            manifest.stageLink("/flash/bin/x", "/flash/a/b/c/link");
            manifest.stageLink("/flash/bin/x", "/flash/bin/x/link");
            manifest.stageMove("/ram/absent", "/flash/y");
            manifest.commit(false);
        });
        EXPECT_EQ(err, "symlink: Not a directory\nrename: No such file or directory\n");
        EXPECT_EQ(fileText("/flash/bin/x"), "new x");
        EXPECT_EQ(directoryNames("/flash/old"), std::set<std::string>{".hidden"});
        EXPECT_EQ(fileText("/flash/etc/conf"), "new x");
        EXPECT_EQ(fileText("/flash/a/b/c/link"), "new x");
    }));
}

// A copy that runs out of room leaves the old target whole and no partial file behind.
TEST(CommitTest, MoveAcrossFileSystemsCopies) {
    DeviceRoot root;
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"flash", "size=64k"}, {"ram", "size=1m"}}, [] {
        umask(022);
        mkdir("/flash/bin", 0755);
        putFile("/flash/bin/kept", "old", 0700);
        putFile("/flash/lib.so", "old library");
        putFile("/ram/new", "fresh", 0777);
        putFile("/ram/replacement", "replacement", 0777);
        putFile("/ram/lib.so", std::string(200000, 'n'));
        // Left half-written by a commit that was cut short: the next copy replaces it.
        putFile("/flash/bin/.kept.partial", "repl", 0600);
        Manifest manifest;
        manifest.stageMove("/ram/new", "/flash/bin/new");
        manifest.stageMove("/ram/replacement", "/flash/bin/kept");
        manifest.stageRemove("/flash//lib.so");
        manifest.stageMove("/ram/lib.so", "/flash/lib.so");
        manifest.commit(false);
        EXPECT_EQ(fileText("/flash/bin/new"), "fresh");
        EXPECT_EQ(permissionsOf("/flash/bin/new"), 0755u);
        EXPECT_EQ(fileText("/flash/bin/kept"), "replacement");
        EXPECT_EQ(permissionsOf("/flash/bin/kept"), 0700u);
        EXPECT_EQ(fileText("/flash/lib.so"), "old library");
        EXPECT_EQ(directoryNames("/flash/bin"), (std::set<std::string>{"kept", "new"}));
        EXPECT_EQ(directoryNames("/flash"), (std::set<std::string>{"bin", "lib.so"}));
        EXPECT_EQ(directoryNames("/ram"), (std::set<std::string>{"lib.so", "new", "replacement"}));
    }));
}

TEST(CommitTest, FastCopyTurnsSpinnerOnce) {
    DeviceRoot root;
    root.writeFile("ram/big", std::string(64 * 16384, 'b'));
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"flash", "size=2m"}}, [] {
        std::string out = captureOutput(1, [] {
            Manifest manifest;
            manifest.stageMove("/ram/big", "/flash/big");
            manifest.commit(true);
        });
        EXPECT_EQ(out, "|");
        EXPECT_EQ(fileText("/flash/big").size(), 64u * 16384u);
    }));
}
