// Tests of staging the removal of an installed package.
#include <unistd.h>

#include <gtest/gtest.h>

#include "pkg/database.h"
#include "pkg/package.h"
#include "stage/manifest.h"
#include "support/device_root.h"

TEST(PackageRemovalTest, StagesFilesEntryAndBootImage) {
    const char* entry = "/flash//bin/a /flash//lib/b /flash/var/pdb/sys/ /flash/var/pdb/sys/image ";
    const char* withBoot =
        "/flash//bin/a /flash//lib/b /flash/bootimage /flash/var/pdb/sys/ "
        "/flash/var/pdb/sys/image ";
    const std::tuple<uint32_t, bool, const char*> cases[] = {
        {FlagBootImage, false, withBoot}, {FlagBootImage, true, entry}, {0, false, entry}};
    for (const auto& [flags, secondLink, expected] : cases) {
        DeviceRoot root;
        for (const char* file :
             {"flash/bin/a", "flash/lib/b", "flash/var/pdb/sys/image", "flash/bootimage"})
            root.writeFile(file, "x");
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            if (secondLink)
                link("/flash/bootimage", "/flash/var/pdb/sys/image2");
            InstalledPackage package("sys");
            package.flags = flags;
            package.files = {"/bin/a", "/bin/gone", "/lib/b"};
            package.action = ScheduledAction::Uninstall;
            Manifest manifest;
            removePackage(package, manifest);
            std::string staged;
            for (const auto& [path, entry] : manifest.all())
                staged += path + (entry.kind == EntryKind::Unlink ? " " : "? ");
            EXPECT_EQ(staged, expected);
            EXPECT_TRUE(package.files.empty());
            EXPECT_EQ(package.action, ScheduledAction::None);
        })) << expected;
    }
}
