// The processor class read from the processor's own register. Only the board's build knows
// which processor runs the tests: it runs this test once per emulated processor model and
// gives the class that model must have.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/board.h"

TEST(ProcessorClassOnTarget, MatchesTheEmulatedProcessor) {
    const char* expected = getenv("INSTALLER_EXPECTED_PROCESSOR_CLASS");
    if (expected == nullptr)
        GTEST_SKIP() << "no processor model given";
    EXPECT_EQ(processorClass(), atoi(expected));
}
