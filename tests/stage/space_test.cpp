// Tests of the flash space check against small file systems mounted in the device root.
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "stage/manifest.h"
#include "stage/storage.h"
#include "support/device_root.h"
#include "support/files.h"

TEST(SpaceTest, FitsOnFlashKeepsMoreThanSixteenBlocksFree) {
    struct Case {
        const char* name;
        const char* flashSize;
        const char* bootSize;  // null: no /flash/boot
        std::function<void(Manifest&)> stage;
        bool fits;
    };
    auto nothing = [](Manifest&) {};
    // A new file of n blocks made in /ram.
    auto newFileInRam = [](const char* target, size_t blocks) {
        return [=](Manifest& m) { m.createFile(target, 0, 0) << std::string(blocks * 4096, 'n'); };
    };
    const Case cases[] = {
        {"17 free blocks", "68k", "68k", nothing, true},
        {"16 free blocks are not enough", "64k", "68k", nothing, false},
        {"16 free blocks on boot", "68k", "64k", nothing, false},
        {"no /flash/boot", "1m", nullptr, nothing, false},
        {"new file from /ram", "80k", "1m", newFileInRam("/flash/x", 3), true},
        {"new file from /ram too big", "80k", "1m", newFileInRam("/flash/x", 4), false},
        {"new boot file counts on both", "1m", "80k", newFileInRam("/flash/boot/k", 4), false},
        {"removal gives blocks back", "68k", "68k",
         [](Manifest& m) {
             putFile("/flash/old", std::string(4096, 'o'));
             m.stageRemove("/flash/old");
         },
         true},
        {"replacement on the same device costs nothing", "76k", "68k",
         [](Manifest& m) {
             putFile("/flash/old", std::string(4096, 'o'));
             m.createFile("/flash/old", 4096, 0) << std::string(4096, 'n');
         },
         true},
        {"new file on flash for a new target is counted", "80k", "68k",
         [](Manifest& m) { m.createFile("/flash/new", 4096, 0) << std::string(8192, 'n'); }, false},
        {"removal of a replaced file is counted once", "80k", "68k",
         [](Manifest& m) {
             putFile("/flash/old", std::string(3 * 4096, 'o'));
             m.stageRemove("/flash//old");
             m.createFile("/flash/old", 0, 0) << std::string(4 * 4096, 'n');
         },
         false},
        {"removal of a file of 4 GiB", "64k", "68k",
         [](Manifest& m) {
             putFile("/flash/huge", "");
             ASSERT_EQ(truncate("/flash/huge", 4096LL << 20), 0);
             m.stageRemove("/flash/huge");
         },
         true},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        std::vector<TestMount> mounts = {{"flash", std::string("size=") + c.flashSize}};
        if (c.bootSize)
            mounts.push_back({"flash/boot", std::string("size=") + c.bootSize});
        EXPECT_TRUE(runInRootWithMounts(root.root(), mounts, [&] {
            Manifest manifest;
            c.stage(manifest);
            EXPECT_EQ(manifest.fitsOnFlash(), c.fits) << c.name;
        })) << c.name;
    }
}
