// Tests of staging the removal of an installed package.
#include <unistd.h>

#include <gtest/gtest.h>

#include "pkg/package.h"
#include "stage/manifest.h"
#include "stage/storage.h"
#include "support/device_root.h"
#include "support/files.h"

namespace {

void makeInstalledSystem(InstalledPackage& package, uint32_t flags) {
    package.name = "system";
    package.flags = flags;
    package.files = {"/bin/a", "/bin/gone", "/lib/b"};
    package.action = ScheduledAction::Uninstall;
}

}  // namespace

TEST(PackageRemovalTest, StagesFilesEntryAndBootImage) {
    struct Case {
        const char* name;
        uint32_t flags;
        bool secondLink;
        bool bootImageRemoved;
    };
    const Case cases[] = {
        {"boot image package", FlagBootImage, false, true},
        {"boot image with a second link", FlagBootImage, true, false},
        {"package without boot image", 0, false, false},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        root.writeFile("flash/bin/a", "a");
        root.writeFile("flash/lib/b", "b");
        root.writeFile("flash/var/pdb/system/version", "1 2\n");
        root.writeFile("flash/var/pdb/system/image", "i");
        root.writeFile("flash/bootimage", "boot");
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            if (c.secondLink)
                link("/flash/bootimage", "/flash/var/pdb/system/image2");
            InstalledPackage package;
            makeInstalledSystem(package, c.flags);
            Manifest manifest;
            removePackage(package, manifest);
            std::string expected =
                "/flash//bin/a /flash//lib/b /flash/var/pdb/system/ /flash/var/pdb/system/image ";
            if (c.bootImageRemoved)
                expected =
                    "/flash//bin/a /flash//lib/b /flash/bootimage /flash/var/pdb/system/ "
                    "/flash/var/pdb/system/image ";
            std::string staged;
            for (const auto& [path, entry] : manifest.all()) {
                EXPECT_EQ(entry.kind, EntryKind::Unlink) << path;
                staged += path + " ";
            }
            EXPECT_EQ(staged, expected) << c.name;
            EXPECT_TRUE(package.files.empty());
            EXPECT_EQ(package.action, ScheduledAction::None);
        })) << c.name;
    }
}

TEST(PackageRemovalTest, NewVersionStagedAfterRemovalReplacesOldFiles) {
    DeviceRoot root;
    root.writeFile("flash/bin/a", "old a");
    root.writeFile("flash/lib/b", "old b");
    root.writeFile("flash/var/pdb/system/version", "1 2\n");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        InstalledPackage package;
        makeInstalledSystem(package, 0);
        Manifest manifest;
        removePackage(package, manifest);
        manifest.createFile("/flash/bin/a", 16, 0) << "new a";
        manifest.commit(false);
        EXPECT_EQ(fileText("/flash/bin/a"), "new a");
        EXPECT_FALSE(pathPresent("/flash/lib/b"));
        EXPECT_FALSE(pathPresent("/flash/var/pdb/system"));
    }));
}
