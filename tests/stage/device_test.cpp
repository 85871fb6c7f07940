// Tests of the device and processor queries.
#include <gtest/gtest.h>

#include "stage/storage.h"
#include "support/device_root.h"

TEST(DeviceTest, ProcessorClassOfEveryCode) {
    struct Case {
        uint32_t pvr;
        uint32_t capabilities;
        int expected;
    };
    const Case cases[] = {
        {0x80211021, 16, 2}, {0x80211021, 0, 4},  {0x802121FF, 0, 4},  {0x802121FF, 16, 2},
        {0x80211121, 0, 2},  {0x80211121, 16, 2}, {0x00400000, 0, 0},  {0x00400000, 16, 0},
        {0x00830000, 0, 1},  {0x00841000, 0, 1},  {0x0085FFFF, 16, 1}, {0x00820000, 0, 0},
        {0x00860000, 0, 0},  {0x00200000, 0, 2},  {0x00211000, 0, 2},  {0x13020000, 0, 3},
        {0x1302FFFF, 16, 3}, {0x13030000, 0, 0},  {0x80212200, 0, 2},  {0xFF201234, 0, 2},
        {0x80310000, 16, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(processorClassOf(c.pvr, c.capabilities), c.expected)
            << std::hex << c.pvr << " " << c.capabilities;
#if !defined(__powerpc__)
    EXPECT_EQ(processorClass(), 0);
#endif
}

TEST(DeviceTest, FlashQueriesWithoutWorkingDevices) {
    for (bool devicesAreFiles : {false, true}) {
        DeviceRoot root;
        if (devicesAreFiles) {
            // Opening works, the requests fail.
            root.writeFile("dev/flash", "");
            root.writeFile("dev/mtd0", "");
        }
        EXPECT_TRUE(runInRoot(root.root(), [] {
            EXPECT_EQ(flashCapabilities(), 0u);
            EXPECT_FALSE(hasLargeEraseBlocks());
        }));
    }
}
