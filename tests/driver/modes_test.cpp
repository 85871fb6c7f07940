// The modes that change the device, end to end: runs that fail, say why and change
// nothing. (The interrupted-run tests check what each mode leaves when it succeeds.)
#include <gtest/gtest.h>

#include "support/packages.h"

TEST(ModesTest, FailedRunsChangeNothingAndSayWhy) {
    REQUIRE_DEVELOPMENT_KEYS();
    // a directory that makes the run fail | arguments | status | last message
    const std::tuple<std::string, std::vector<std::string>, int, std::string> cases[] = {
        {"ram/MANIFEST/x/", {"--safe"}, 1, "ERROR: could not save /ram/MANIFEST"},
        {"flash/PCKGS_CHANGED/",
         {},
         1,
         "ERROR: could not create /flash/PCKGS_CHANGED: Is a directory"},
    };
    for (const auto& [dir, args, status, message] : cases) {
        SCOPED_TRACE(message);
        DeviceRoot root;
        root.makeDir(dir);
        root.writeFile("rw/pckg/.download/p.npk", simplePackage("p"));
        auto before = deviceState(root);
        RunResult result = root.runOnRoot(args);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(lastMessage(result), message);
        EXPECT_EQ(deviceState(root), before);
    }
}
