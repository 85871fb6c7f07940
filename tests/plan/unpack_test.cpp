// Unpacking end to end: where the entries of a package land, which are passed over, and the
// boot-image case. Refused and unrecorded files are among the install driver's cases.
#include "plan/unpack.h"

#include <gtest/gtest.h>

#include "platform/board.h"
#include "support/files.h"
#include "support/packages.h"

// Folders, links and entries for another processor class are passed over; with the boot
// image asked for, a boot-image package's files stay unread. An architecture part and an
// empty dependency part may follow the signature. (The disabled folder is covered by the
// blocked bundle member of the driver tests.)
TEST(UnpackTest, EntriesLandUnderFlashUnlessTheBootImageIsAsked) {
    REQUIRE_DEVELOPMENT_KEYS();
    uint8_t otherClass = uint8_t(processorClass() % 4 + 1);  // never this board's
    const std::vector<FileEntry> entries = {{"bin/x", "x"},
                                            {"/bin/y", "y"},
                                            {"empty", ""},
                                            {"lib", "", 040755},
                                            {"bin/link", "x", 0120777},
                                            {"any", "a", 0100750, 0},
                                            {"other", "o", 0100644, otherClass}};
    for (bool bootImage : {false, true}) {
        SCOPED_TRACE(bootImage ? "boot image asked for" : "files unpacked");
        DeviceRoot root;
        auto before = deviceState(root);
        std::string file =
            appended(packageFile(spec("pkg", version7(10), entries, bootImage ? FlagBootImage : 0)),
                     partBytes(PartArchitecture, "i386") + partBytes(PartDependencies, ""));
        std::vector<std::string> env;
        if (bootImage)
            env.push_back("bootimage=");
        RunResult result = installFromStdin(root, file, {}, env);
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(lastMessage(result), "installed pkg-7.10");
        std::map<std::string, std::string> changed, expected;
        for (const auto& [path, content] : deviceState(root))
            if (path.back() != '/' && path.rfind("flash/var/pdb/", 0) != 0 &&
                (!before.count(path) || before[path] != content))
                changed[path] = content;
        if (bootImage)
            expected = {{"flash/UPGRADED", ""}};
        else
            expected = {{"flash/any", "a"},
                        {"flash/bin/x", "x"},
                        {"flash/bin/y", "y"},
                        {"flash/empty", ""}};
        EXPECT_EQ(changed, expected);
        EXPECT_EQ(root.readFile("flash/var/pdb/pkg/files"),
                  bootImage ? "" : "any\nbin/x\nbin/y\nempty\n");
        EXPECT_EQ(permissionsOf(root.path("flash/any")), bootImage ? 0u : 0750u);
    }
}
