// Tests of writing database entries and state files through the manifest.
#include <sstream>

#include <gtest/gtest.h>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "stage/manifest.h"
#include "support/device_root.h"
#include "support/files.h"

namespace {

const std::string Dir = "/flash/var/pdb/web/";

// "name=content|..." of the files in dir.
std::string directoryText(const std::string& dir) {
    std::string text;
    for (const std::string& name : directoryNames(dir))
        text += name + "=" + fileText(dir + name) + "|";
    return text;
}

void makeWebPackage(InstalledPackage& p) {
    p.name = "web";
    p.version = 0x06286605;
    p.buildTime = 1489000000;
    p.deps = {{"base", 1, 0, 0}};
    p.provides = {{"proxy", 1, 2, -1}};
    p.conflicts = {{"old", 0, 5, 0}};
    p.bundle = {"bund", 0x06286600, 0x06286600, 0};
    p.files = {"/bin/a", "/lib/b"};
    p.userForced = true;
}

// Files of an earlier version of the entry.
const std::pair<const char*, const char*> Leftovers[] = {
    {"provides", "x 0 0 0\n"}, {"conflicts", "y 0 0\n"}, {"bundle", "b\n"},
    {"files", "bin/old\n"},    {"disabled", "auto\n"},   {"image", "i"}};

}  // namespace

TEST(DatabaseWriterTest, WriteEntryWritesMetaAndStateFiles) {
    const std::string version = "version=103310853 1489000000\n|", files = "files=bin/a\nlib/b\n|";
    // lists, isBundle, keepImage, disabled | the entry afterwards
    const std::tuple<bool, bool, bool, bool, std::string> cases[] = {
        {true, false, false, false,
         "bundle=bund\n|conflicts=old 0 5\n|deps=base 1 0\n|enabled=user\n|" + files +
             "image=i|provides=proxy 1 2 -1\n|" + version},
        // Empty lists take the earlier ones away; a bundle is known by having no files list.
        {false, false, false, true,
         "deps=base 1 0\n|disabled=user\n|" + files + "image=i|" + version},
        {false, true, false, false, "deps=base 1 0\n|enabled=user\n|image=i|" + version},
        // A stored image describes the package: only its files list and state files change.
        {true, false, true, true,
         "bundle=b\n|conflicts=y 0 0\n|disabled=user\n|" + files + "image=i|provides=x 0 0 0\n|"},
    };
    for (const auto& [lists, isBundle, keepImage, disabled, expected] : cases) {
        DeviceRoot root;
        for (const auto& [name, text] : Leftovers)
            root.writeFile(Dir + name, text);
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            PackageSet set;
            InstalledPackage package;
            makeWebPackage(package);
            if (!lists) {
                package.provides.clear();
                package.conflicts.clear();
                package.bundle = {};
            }
            package.isBundle = isBundle;
            package.keepImage = keepImage;
            package.disabled = disabled;
            Manifest manifest;
            EXPECT_TRUE(writeEntry(set, package, manifest));
            manifest.commit(false);
            EXPECT_EQ(directoryText(Dir), expected);
        }));
    }
}

TEST(DatabaseWriterTest, FullFlashWhileWritingDepsIsReported) {
    DeviceRoot root;
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"flash", "size=4k"}, {"ram", "size=8k"}}, [] {
        mkdir("/flash/var", 0755);
        mkdir("/flash/var/pdb", 0755);
        fillFileSystem("/flash");
        putFile("/ram/filler", std::string(4096, 'f'));  // room for the version file only
        PackageSet set;
        std::ostringstream console;
        set.out = &console;
        InstalledPackage package;
        makeWebPackage(package);
        Manifest manifest;
        EXPECT_FALSE(writeEntry(set, package, manifest));
        EXPECT_EQ(console.str(), "ERROR: installation of bund-6.40 failed: disk is too small\n");
        EXPECT_NE(manifest.find(Dir + "version"), nullptr);
        EXPECT_EQ(manifest.find(Dir + "files"), nullptr);
    }));
}

// A file staged in the place of the entry's folder is not cancelled.
TEST(DatabaseWriterTest, PrepareDirKeepsAFileStagedInThePlaceOfTheFolder) {
    DeviceRoot root;
    EXPECT_TRUE(runInRoot(root.root(), [] {
        PackageSet set;
        Manifest manifest;
        InstalledPackage package("web", 1, 1);
        manifest.stageMove("/ram/elsewhere", Dir);
        EXPECT_FALSE(prepareDir(set, package, manifest));
        EXPECT_NE(manifest.find(Dir), nullptr);
    }));
}
