// Unpacking on the board: a file entry limited to a processor class is installed only on
// a processor of that class. The board's build runs this once per emulated processor
// model and gives the class that model must have.
#include <gtest/gtest.h>

#include <cstdlib>

#include "pkgwriter/signer.h"
#include "support/device_root.h"

TEST(ProcessorClassOnTarget, InstallKeepsOnlyTheEntriesOfThisProcessor) {
    const char* expected = getenv("INSTALLER_EXPECTED_PROCESSOR_CLASS");
    if (expected == nullptr)
        GTEST_SKIP() << "no processor model given";
    const int boardClass = atoi(expected);

    Signer signer;
    std::string error;
    ASSERT_TRUE(loadSignerKeys(signer, sourcePath("keys/development-ed25519.seed"),
                               sourcePath("keys/development-legacy.secret"), error))
        << error;
    Package package("probe", 0x07050066);  // 7.5
    const std::vector<FileEntry> files = {
        {"bin/any", "for every processor", 0100755, 0},
        {"bin/class1", "for class 1", 0100755, 1},
        {"bin/class2", "for class 2", 0100755, 2},
    };
    std::string file;
    ASSERT_TRUE(buildSignedPackage(file, package, files, "", DigestKind::Sha256,
                                   SignatureKind::Both, signer));

    DeviceRoot root;
    RunResult result = root.runOnRoot({"-"}, file);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(root.readFile("flash/bin/any"), "for every processor");
    EXPECT_EQ(root.exists("flash/bin/class1"), boardClass == 1);
    EXPECT_EQ(root.exists("flash/bin/class2"), boardClass == 2);
}
