// The install checks and the one message they may print.
#include "plan/install_check.h"

#include <gtest/gtest.h>

#include "support/set_text.h"

namespace {

// Result or tolerated bits as words: "upgrade downgrade unmet conflict reinstall".
InstallFlags flagsOf(const std::string& words) {
    static const std::pair<const char*, InstallFlags> names[] = {
        {"upgrade", InstallFlag::Upgrade},     {"downgrade", InstallFlag::Downgrade},
        {"unmet", InstallFlag::Unmet},         {"conflict", InstallFlag::Conflict},
        {"reinstall", InstallFlag::Reinstall}, {"all", 0xFFFFFFFF}};
    InstallFlags flags = 0;
    for (const std::string& word : fields(words, ' '))
        for (const auto& [name, bit] : names)
            if (word == name)
                flags |= bit;
    return flags;
}

}  // namespace

// installed | offered | tolerated | flash: lowest version, "large" erase blocks | result |
// message ("-" for none of the optional fields)
TEST(InstallCheckTest, ConditionsAndTheFirstUntoleratedMessage) {
    for (const std::string& line : fields(R"(
        a 1.0        | a 1.0                | -         | -         | reinstall | WARNING: omitting package a-1.0: it is already installed
        a 1.0        | a 1.0                | reinstall | -         | reinstall |
        a 1.0 built=5 | a 1.0 built=6       | -         | -         | upgrade   |
        a 2.0        | a 1.0                | -         | -         | downgrade | WARNING: omitting package a-1.0: newer package a-2.0 is already installed
        a 2.0        | a 1.0 deps=x arch=arm | -        | -         | downgrade unmet | WARNING: omitting package a-1.0: newer package a-2.0 is already installed
        branding 1.0 | branding 1.0         | -         | -         | -         |
        x            | system 6.39.5        | -         | 6.40      | unmet     | ERROR: omitting package system-6.39.5: min Norvale version is 6.40
        x            | system 6.40          | -         | 6.40      | -         |
        x            | norvale-x86 6.39.5   | -         | 6.40      | unmet     | ERROR: omitting package norvale-x86-6.39.5: min Norvale version is 6.40
        x            | xnorvale 6.39.5      | -         | 6.40      | -         |
        x            | system 3.20rc1       | -         | - large   | unmet     | WARNING: omitting package system-3.20rc1: it does not support current file system
        x            | system 3.20rc2       | -         | - large   | -         |
        x            | system 3.20rc1       | -         | -         | -         |
        c conflicts=system | system 6.39.5 arch=arm | unmet | 6.40  | unmet conflict | ERROR: can not install system-6.39.5: it conflicts with c-1.0
        x            | a arch=arm           | -         | -         | unmet     | ERROR: can not install a-1.0: it is not made for i386, but for arm
        b disabled   | a deps=b             | -         | -         | unmet     | ERROR: can not install a-1.0: b is not installed, but is required
        b 1.0        | a deps=b@2.0         | -         | -         | unmet     | ERROR: can not install a-1.0: b-2.0 is not installed, but is required
        b placeholder | a deps=b            | -         | -         | unmet     | ERROR: can not install a-1.0: b is not installed, but is required
        p provides=b | a deps=b             | -         | -         | -         |
        y            | a deps=x,y,z         | -         | -         | unmet     | ERROR: can not install a-1.0: x is not installed, but is required
        c conflicts=a | a                   | -         | -         | conflict  | ERROR: can not install a-1.0: it conflicts with c-1.0
        c conflicts=a disabled | a          | -         | -         | -         |
        c provides=a:-1 | a                 | -         | -         | -         |
        c conflicts=a | a arch=arm deps=x   | -         | -         | unmet conflict | ERROR: can not install a-1.0: it is not made for i386, but for arm
        c conflicts=a | a arch=arm deps=x   | all       | -         | unmet conflict |
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        TestSet set;
        set.arch = "i386";
        addPackages(set, f[0]);
        std::string before = describeSet(set);
        std::vector<std::string> flash = fields(f[3], ' ');
        FlashLimits limits;
        limits.lowestSystemVersion = flash[0] == "-" ? 0 : parseVersion(flash[0]);
        limits.largeEraseBlocks = flash.size() > 1;
        auto offered = parseCandidate(f[1]);
        EXPECT_EQ(checkInstall(set, *offered, flagsOf(f[2]), &limits), flagsOf(f[4])) << line;
        EXPECT_EQ(logText(set), f.size() > 5 ? f[5] : "") << line;
        EXPECT_EQ(describeSet(set), before) << line;
    }
}
