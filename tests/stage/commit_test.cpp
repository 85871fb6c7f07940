// Tests of the commit: order of removals and moves, directories, links, copies across
// file systems, the spinner and a manifest committed twice.
#include "stage/commit.h"

#include <sys/stat.h>
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
    root.writeFile("flash/gone/plain", "p");
    root.writeFile("flash/etc/conf", "a regular file");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        std::string err = captureOutput(2, [] {
            Manifest manifest;
            manifest.stageRemove("/flash//bin/x");
            manifest.createFile("/flash/bin/x", 0, 0) << "new x";
            manifest.stageRemove("/flash/old/");
            manifest.stageRemove("/flash/gone");
            manifest.setEntry("/flash/missing", EntryKind::Unlink, "");
            manifest.stageLink("/flash/bin/x", "/flash/etc/conf");
            manifest.stageLink("/flash/bin/x", "/flash/a/b/c/link");
            manifest.commit(false);
        });
        EXPECT_EQ(fileText("/flash/bin/x"), "new x");
        EXPECT_EQ(fileText("/flash/old/.hidden"), "h");
        EXPECT_FALSE(pathPresent("/flash/old/plain"));
        EXPECT_FALSE(pathPresent("/flash/gone"));
        EXPECT_EQ(fileText("/flash/etc/conf"), "new x");
        EXPECT_EQ(permissionsOf("/flash/a/b") & 0700, 0700u);
        char target[64] = {};
        EXPECT_GT(readlink("/flash/a/b/c/link", target, sizeof target - 1), 0);
        EXPECT_STREQ(target, "/flash/bin/x");
        EXPECT_EQ(err, "");
    }));
}

TEST(CommitTest, FailedLinksAndMovesAreReportedAndSkipped) {
    DeviceRoot root;
    root.writeFile("flash/file", "f");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        std::string err = captureOutput(2, [] {
            Manifest manifest;
            manifest.stageLink("/x", "/flash/file/link");
            manifest.stageMove("/ram/absent", "/flash/a");
            manifest.stageMove("/ram/absent", "/flash/b");
            manifest.commit(false);
        });
        EXPECT_EQ(err,
                  "symlink: Not a directory\nrename: No such file or directory\n"
                  "rename: No such file or directory\n");
    }));
}

TEST(CommitTest, MoveAcrossFileSystemsCopies) {
    DeviceRoot root;
    root.writeFile("flash/bin/kept", "old", 0700);
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"ram", "size=1m"}}, [] {
        umask(022);
        putFile("/ram/new", "fresh", 0777);
        putFile("/ram/replacement", "replacement", 0777);
        Manifest manifest;
        manifest.stageMove("/ram/new", "/flash/bin/new");
        manifest.stageMove("/ram/replacement", "/flash/bin/kept");
        manifest.commit(false);
        EXPECT_EQ(fileText("/flash/bin/new"), "fresh");
        EXPECT_EQ(permissionsOf("/flash/bin/new"), 0755u);
        EXPECT_EQ(fileText("/flash/bin/kept"), "replacement");
        EXPECT_EQ(permissionsOf("/flash/bin/kept"), 0700u);
        EXPECT_TRUE(pathPresent("/ram/new"));
        EXPECT_TRUE(pathPresent("/ram/replacement"));
    }));
}

TEST(CommitTest, CopyThatRunsOutOfRoomLeavesOldTargetWhole) {
    DeviceRoot root;
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"flash", "size=64k"}, {"ram", "size=1m"}}, [] {
        putFile("/flash/lib.so", "old library");
        putFile("/ram/lib.so", std::string(200000, 'n'));
        Manifest manifest;
        manifest.stageRemove("/flash//lib.so");
        manifest.stageMove("/ram/lib.so", "/flash/lib.so");
        manifest.commit(false);
        EXPECT_EQ(fileText("/flash/lib.so"), "old library");
        EXPECT_FALSE(copyFile("/ram/lib.so", "/flash/lib.so", false));
        EXPECT_EQ(fileText("/flash/lib.so"), "old library");
        EXPECT_EQ(directoryNames("/flash"), std::set<std::string>{"lib.so"});
    }));
}

TEST(CommitTest, SavedManifestCommittedTwiceChangesNothingTheSecondTime) {
    DeviceRoot root;
    root.writeFile("flash/bin/x", "old x");
    root.writeFile("flash/lib/old.so", "old");
    root.writeFile("flash/tmpA", "new x");
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"ram", "size=1m"}}, [] {
        putFile("/ram/big", "copied from ram");
        std::string manifestText =
            "U /flash//bin/x\nM /flash/bin/x /flash/tmpA\nM /flash/copy /ram/big\n"
            "U /flash/lib/old.so\nL /flash/link /flash/bin/x\n";
        putFile("/ram/MANIFEST", manifestText);
        std::string firstErr, secondErr;
        for (std::string* err : {&firstErr, &secondErr}) {
            *err = captureOutput(2, [] {
                Manifest manifest;
                manifest.load("/ram/MANIFEST");
                manifest.commit(false);
            });
            EXPECT_EQ(fileText("/flash/bin/x"), "new x");
            EXPECT_EQ(fileText("/flash/copy"), "copied from ram");
            EXPECT_FALSE(pathPresent("/flash/lib/old.so"));
            EXPECT_FALSE(pathPresent("/flash/tmpA"));
            EXPECT_EQ(fileText("/flash/link"), "new x");
            EXPECT_EQ(fileText("/ram/MANIFEST"), manifestText);
        }
        EXPECT_EQ(firstErr, "");
        EXPECT_EQ(secondErr, "rename: No such file or directory\n");
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

TEST(CommitTest, MakeDirectoriesCreatesMissingLevels) {
    DeviceRoot root;
    root.makeDir("flash/one");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        makeDirectories("/flash/one/two/three");
        struct stat st;
        EXPECT_EQ(stat("/flash/one/two/three", &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        putFile("/flash/file", "f");
        makeDirectories("/flash/file/sub/deeper");  // ends at the existing file
        EXPECT_FALSE(pathPresent("/flash/file/sub"));
    }));
}
