// The test support itself: device roots and running inside them.
#include <gtest/gtest.h>

#include "support/device_root.h"

TEST(DeviceRootTest, RunInRootSeesTheRootAsSlash) {
    DeviceRoot root;
    root.writeFile("flash/marker", "here");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        FILE* f = fopen("/flash/marker", "r");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }));
}

TEST(DeviceRootTest, InstallerRunsInsideTheRoot) {
    DeviceRoot root;
    RunResult result = root.runInside({"--bogus"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "usage: installer [-q] [-r <root>] [-]\n");
}
