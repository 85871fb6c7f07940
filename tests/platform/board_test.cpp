// Tests of the device and processor queries.
#include <gtest/gtest.h>

#include "plan/install_check.h"
#include "platform/board.h"
#include "support/device_root.h"
#include "support/set_text.h"

TEST(DeviceTest, ProcessorClassOfEveryCode) {
    // processor version register, flash capability, class
    const std::tuple<uint32_t, uint32_t, int> cases[] = {
        {0x80211021, 16, 2}, {0x80211021, 0, 4},  {0x802121FF, 0, 4},  {0x802121FF, 16, 2},
        {0x80211121, 0, 2},  {0x80211121, 16, 2}, {0x00400000, 0, 0},  {0x00400000, 16, 0},
        {0x00830000, 0, 1},  {0x00841000, 0, 1},  {0x0085FFFF, 16, 1}, {0x00820000, 0, 0},
        {0x00860000, 0, 0},  {0x00200000, 0, 2},  {0x00211000, 0, 2},  {0x13020000, 0, 3},
        {0x1302FFFF, 16, 3}, {0x13030000, 0, 0},  {0x80212200, 0, 2},  {0xFF201234, 0, 2},
        {0x80310000, 16, 0},
    };
    for (const auto& [pvr, capabilities, expected] : cases)
        EXPECT_EQ(processorClassOf(pvr, capabilities), expected)
            << std::hex << pvr << " " << capabilities;
#if !defined(__powerpc__)
    EXPECT_EQ(processorClass(), 0);
#endif
}

// Files in the devices' place (opening works, the requests fail) give no capability, small
// erase blocks and no lowest system version.
TEST(DeviceTest, FlashQueriesWithoutWorkingDevices) {
    DeviceRoot root;
    root.writeFile("dev/flash", std::string(8, '\xff'));
    root.writeFile("dev/mtd0", std::string(64, '\xff'));
    EXPECT_TRUE(runInRoot(root.root(), [] {
        EXPECT_EQ(flashCapabilities(), 0u);
        EXPECT_FALSE(hasLargeEraseBlocks());
        EXPECT_EQ(lowestSystemVersion(), 0u);
        TestSet set;
        EXPECT_EQ(checkInstall(set, *parseCandidate("system 0.1"), 0), 0u);
        EXPECT_TRUE(set.log.empty());
    }));
}
