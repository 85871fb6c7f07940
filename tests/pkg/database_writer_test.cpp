// Tests of writing database entries and state files through the manifest.
#include <cerrno>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "stage/manifest.h"
#include "support/device_root.h"
#include "support/files.h"

namespace {

const char Dir[] = "/flash/var/pdb/web/";

std::map<std::string, std::string> directoryContents(const std::string& dir) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : directoryNames(dir))
        contents[name] = fileText(dir + name);
    return contents;
}

void makeWebPackage(InstalledPackage& package) {
    package.name = "web";
    package.version = 0x06286605;
    package.buildTime = 1489000000;
    package.deps = {{"base", 0x06280000, 0, 0}};
    package.provides = {{"proxy", 1, 2, -1}};
    package.conflicts = {{"old", 0, 5, 0}};
    package.bundle = {"bund", 0x06286600, 0x06286600, 0};
    package.files = {"/bin/a", "/lib/b"};
    package.userForced = true;
}

}  // namespace

TEST(DatabaseWriterTest, WriteEntryWritesMetaAndStateFiles) {
    using Contents = std::map<std::string, std::string>;
    const Contents leftovers = {{"provides", "x 0 0 0\n"}, {"conflicts", "y 0 0\n"},
                                {"bundle", "b\n"},         {"files", "bin/old\n"},
                                {"disabled", "user\n"},    {"image", "img"}};
    struct Case {
        const char* name;
        void (*change)(InstalledPackage&);
        Contents expected;
    };
    const Case cases[] = {
        {"every meta file",
         [](InstalledPackage&) {},
         {{"version", "103310853 1489000000\n"},
          {"deps", "base 103284736 0\n"},
          {"provides", "proxy 1 2 -1\n"},
          {"conflicts", "old 0 5\n"},
          {"bundle", "bund\n"},
          {"files", "bin/a\nlib/b\n"},
          {"enabled", "user\n"},
          {"image", "img"}}},
        {"empty lists remove earlier ones",
         [](InstalledPackage& p) {
             p.deps.clear();
             p.provides.clear();
             p.conflicts.clear();
             p.bundle = {};
             p.disabled = true;
             p.userForced = false;
         },
         {{"version", "103310853 1489000000\n"},
          {"deps", ""},
          {"files", "bin/a\nlib/b\n"},
          {"disabled", "auto\n"},
          {"image", "img"}}},
        {"bundle has no files list",
         [](InstalledPackage& p) {
             p.isBundle = true;
             p.bundle = {};
             p.userForced = false;
         },
         {{"version", "103310853 1489000000\n"},
          {"deps", "base 103284736 0\n"},
          {"provides", "proxy 1 2 -1\n"},
          {"conflicts", "old 0 5\n"},
          {"image", "img"}}},
        {"stored image gets state files only",
         [](InstalledPackage& p) {
             p.keepImage = true;
             p.disabled = true;
         },
         {{"provides", "x 0 0 0\n"},
          {"conflicts", "y 0 0\n"},
          {"bundle", "b\n"},
          {"files", "bin/old\n"},
          {"disabled", "user\n"},
          {"image", "img"}}},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        for (const auto& [name, content] : leftovers)
            root.writeFile(std::string(Dir) + name, content);
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            PackageSet set;
            InstalledPackage package;
            makeWebPackage(package);
            c.change(package);
            Manifest manifest;
            EXPECT_TRUE(writeEntry(set, package, manifest));
            manifest.commit(false);
            EXPECT_EQ(directoryContents(Dir), c.expected) << c.name;
        })) << c.name;
    }
}

TEST(DatabaseWriterTest, DisableThenEnableChangesStateFiles) {
    DeviceRoot root;
    root.writeFile(std::string(Dir) + "enabled", "user\n");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        InstalledPackage package("web");
        package.action = ScheduledAction::Disable;
        Manifest manifest;
        writeDisabled(package, manifest);
        EXPECT_TRUE(package.disabled);
        EXPECT_EQ(package.action, ScheduledAction::None);
        manifest.commit(false);
        EXPECT_EQ(directoryContents(Dir),
                  (std::map<std::string, std::string>{{"disabled", "auto\n"}}));
        package.action = ScheduledAction::Enable;
        Manifest second;
        writeEnabled(package, second);
        EXPECT_FALSE(package.disabled);
        EXPECT_EQ(package.action, ScheduledAction::None);
        second.commit(false);
        EXPECT_TRUE(directoryNames(Dir).empty());
    }));
}

TEST(DatabaseWriterTest, FullFlashWhileWritingDepsIsReported) {
    DeviceRoot root;
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"flash", "size=4k"}, {"ram", "size=8k"}}, [] {
        mkdir("/flash/var", 0755);
        mkdir("/flash/var/pdb", 0755);
        fillFileSystem("/flash");
        putFile("/ram/filler", std::string(4096, 'f'));
        PackageSet set;
        std::ostringstream console;
        set.out = &console;
        InstalledPackage package;
        makeWebPackage(package);
        Manifest manifest;
        EXPECT_FALSE(writeEntry(set, package, manifest));
        EXPECT_EQ(console.str(), "ERROR: installation of bund-6.40 failed: disk is too small\n");
        EXPECT_NE(manifest.find(std::string(Dir) + "version"), nullptr);
        EXPECT_EQ(manifest.find(std::string(Dir) + "files"), nullptr);
    }));
}

TEST(DatabaseWriterTest, WriteFailureMessageFollowsErrorNumber) {
    const std::pair<int, const char*> cases[] = {
        {ENOSPC, "ERROR: installation of web-6.40.5 failed: disk is too small\n"},
        {EIO, "ERROR: installation of web-6.40.5 failed: disk error\n"},
        {EACCES,
         "ERROR: installation of web-6.40.5 failed: could not create meta/deps: "
         "Permission denied\n"},
    };
    for (const auto& [error, expected] : cases) {
        PackageSet set;
        std::ostringstream console;
        set.out = &console;
        InstalledPackage package("web", 0x06286605);
        errno = error;
        reportWriteFailure(set, package, "meta/deps");
        EXPECT_EQ(console.str(), expected);
    }
}

TEST(DatabaseWriterTest, ReplaceEntryKeepsDirectoryOnlyWhenItCanBeOne) {
    DeviceRoot root;
    root.writeFile("flash/var/pdb/web/version", "1 2\n");
    root.writeFile("flash/var/pdb/web/deps", "");
    root.writeFile("flash/var/pdb/file", "not a directory");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        PackageSet set;
        Manifest manifest;
        manifest.stageRemove(Dir);
        InstalledPackage package;
        makeWebPackage(package);
        EXPECT_TRUE(replaceEntry(set, package, manifest));
        EXPECT_EQ(manifest.find(Dir), nullptr);
        InstalledPackage file("file", 1, 1);
        EXPECT_FALSE(replaceEntry(set, file, manifest));
        EXPECT_EQ(manifest.find("/flash/var/pdb/file/version"), nullptr);
        manifest.setEntry(Dir, EntryKind::Move, "/ram/elsewhere");
        EXPECT_FALSE(prepareDir(package, manifest));
    }));
}
