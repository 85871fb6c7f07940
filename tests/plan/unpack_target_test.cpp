// Unpacking on the board: a file entry limited to a processor class is installed only on
// a processor of that class. The board's build runs this once per emulated processor
// model and gives the class that model must have.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/packages.h"

TEST(ProcessorClassOnTarget, InstallKeepsOnlyTheEntriesOfThisProcessor) {
    const char* expected = getenv("INSTALLER_EXPECTED_PROCESSOR_CLASS");
    if (expected == nullptr)
        GTEST_SKIP() << "no processor model given";
    REQUIRE_DEVELOPMENT_KEYS();
    const int boardClass = atoi(expected);
    DeviceRoot root;
    RunResult result =
        installFromStdin(root, packageFile(spec("probe", version7(5),
                                                {{"bin/any", "for every processor", 0100755, 0},
                                                 {"bin/class1", "for class 1", 0100755, 1},
                                                 {"bin/class2", "for class 2", 0100755, 2}})));
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(root.readFile("flash/bin/any"), "for every processor");
    EXPECT_EQ(root.exists("flash/bin/class1"), boardClass == 1);
    EXPECT_EQ(root.exists("flash/bin/class2"), boardClass == 2);
}
