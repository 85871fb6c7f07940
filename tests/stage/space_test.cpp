// Tests of the flash space check against small file systems mounted in the device root.
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "stage/manifest.h"
#include "stage/storage.h"
#include "support/device_root.h"
#include "support/files.h"

namespace {

// Stages a new file of the given blocks, its temporary file in /ram (sizeHint 0) or
// placed by its size.
std::function<void(Manifest&)> newFile(const char* target, size_t blocks, bool inRam = true) {
    return [=](Manifest& m) {
        m.createFile(target, inRam ? 0 : 4096, 0) << std::string(blocks * 4096, 'n');
    };
}

// Puts an old file of the given blocks at path, then stages f.
std::function<void(Manifest&)> withOld(const char* path, size_t blocks,
                                       std::function<void(Manifest&)> f) {
    return [=](Manifest& m) {
        putFile(path, std::string(blocks * 4096, 'o'));
        f(m);
    };
}

}  // namespace

TEST(SpaceTest, FitsOnFlashKeepsMoreThanSixteenBlocksFree) {
    struct Case {
        const char* flashSize;
        const char* bootSize;  // null: no /flash/boot
        std::function<void(Manifest&)> stage;
        bool fits;
    };
    auto nothing = [](Manifest&) {};
    auto remove = [](const char* path) { return [=](Manifest& m) { m.stageRemove(path); }; };
    const Case cases[] = {
        {"68k", "68k", nothing, true},
        {"64k", "68k", nothing, false},  // 16 free blocks are not enough
        {"1m", nullptr, nothing, false},
        {"80k", "1m", newFile("/flash/x", 3), true},
        {"80k", "1m", newFile("/flash/x", 4), false},
        {"68k", "68k", withOld("/flash/old", 1, remove("/flash/old")), true},
        // A temporary file beside its old target on the same device costs nothing more.
        {"76k", "68k", withOld("/flash/old", 1, newFile("/flash/old", 1, false)), true},
        // One beside a new target is counted although it already takes its blocks.
        {"80k", "68k", newFile("/flash/new", 2, false), false},
        // A replaced file staged for removal as well gives its blocks back once.
        {"80k", "68k",
         withOld("/flash/old", 3,
                 [](Manifest& m) {
                     m.stageRemove("/flash//old");
                     newFile("/flash/old", 4)(m);
                 }),
         false},
        {"64k", "68k",
         [](Manifest& m) {
             putFile("/flash/huge", "");
             ASSERT_EQ(truncate("/flash/huge", 4096LL << 20), 0);  // 4 GiB, sparse
             m.stageRemove("/flash/huge");
         },
         true},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        std::vector<TestMount> mounts = {{"flash", std::string("size=") + c.flashSize}};
        if (c.bootSize)
            mounts.push_back({"flash/boot", std::string("size=") + c.bootSize});
        EXPECT_TRUE(runInRootWithMounts(root.root(), mounts,
                                        [&] {
                                            Manifest manifest;
                                            c.stage(manifest);
                                            EXPECT_EQ(manifest.fitsOnFlash(), c.fits);
                                        }))
            << c.flashSize << " " << (c.bootSize ? c.bootSize : "none");
    }
}
