// The install checks: installed versions, system version, architecture, required
// packages, conflicts, and the one message they may print.
#include "plan/install_check.h"

#include <gtest/gtest.h>

#include "support/device_root.h"
#include "support/package_table.h"

namespace {

constexpr InstallFlags Upgrade = InstallFlag::Upgrade;
constexpr InstallFlags Downgrade = InstallFlag::Downgrade;
constexpr InstallFlags Unmet = InstallFlag::Unmet;
constexpr InstallFlags Conflict = InstallFlag::Conflict;
constexpr InstallFlags Reinstall = InstallFlag::Reinstall;

struct CheckCase {
    const char* installed;
    const char* offered;
    InstallFlags tolerated;
    InstallFlags expected;
    const char* log;
    FlashLimits limits = {};
};

void runCases(const std::vector<CheckCase>& cases) {
    for (const CheckCase& c : cases) {
        TestSet set;
        set.arch = "i386";
        addPackages(set, c.installed);
        std::string before = describeSet(set);
        auto offered = parseCandidate(c.offered);
        EXPECT_EQ(checkInstall(set, *offered, c.tolerated, &c.limits), c.expected) << c.offered;
        EXPECT_EQ(logText(set), c.log) << c.offered;
        EXPECT_EQ(describeSet(set), before) << c.offered;
    }
}

}  // namespace

TEST(InstallCheckTest, InstalledVersionDecidesUpgradeDowngradeOrReinstall) {
    runCases({
        {"a 1.0", "a 1.0", 0, Reinstall,
         "WARNING: omitting package a-1.0: it is already installed\n"},
        {"a 1.0", "a 1.0", Reinstall, Reinstall, ""},
        {"a 1.0", "a 2.0", 0, Upgrade, ""},
        {"a 1.0 built=5", "a 1.0 built=6", 0, Upgrade, ""},
        {"a 1.0 built=6", "a 1.0 built=5", 0, Downgrade,
         "WARNING: omitting package a-1.0: newer package a-1.0 is already installed\n"},
        {"a 2.0", "a 1.0", Downgrade, Downgrade, ""},
        {"b", "a", 0, 0, ""},
        {"branding 2.0", "branding 1.0", 0, 0, ""},
        {"branding 1.0", "branding 1.0", 0, 0, ""},
        {"a 1.0 disabled", "a 1.0", 0, Reinstall,
         "WARNING: omitting package a-1.0: it is already installed\n"},
    });
}

TEST(InstallCheckTest, SystemVersionIsCheckedForSystemPackagesOnly) {
    const FlashLimits floor640 = {parseVersion("6.40"), false};
    const FlashLimits largeBlocks = {0, true};
    runCases({
        {"x", "system 6.39.5", 0, Unmet,
         "ERROR: omitting package system-6.39.5: min Norvale version is 6.40\n", floor640},
        {"x", "system 6.40", 0, 0, "", floor640},
        {"x", "norvale-x86 6.39.5", 0, Unmet,
         "ERROR: omitting package norvale-x86-6.39.5: min Norvale version is 6.40\n", floor640},
        {"x", "xnorvale 6.39.5", 0, 0, "", floor640},
        {"x", "system 3.20rc1", 0, Unmet,
         "WARNING: omitting package system-3.20rc1: it does not support current file system\n",
         largeBlocks},
        {"x", "system 3.20rc2", 0, 0, "", largeBlocks},
        {"x", "system 3.20rc1", 0, 0, "", {}},
        {"x", "system 6.39.5", Unmet, Unmet, "", floor640},
    });
}

TEST(InstallCheckTest, ArchitectureRequiredPackagesAndConflicts) {
    runCases({
        {"x", "a arch=arm", 0, Unmet,
         "ERROR: can not install a-1.0: it is not made for i386, but for arm\n"},
        {"x", "a arch=i386", 0, 0, ""},
        {"x", "a", 0, 0, ""},
        {"b disabled", "a deps=b", 0, Unmet,
         "ERROR: can not install a-1.0: b is not installed, but is required\n"},
        {"b 1.0", "a deps=b@2.0", 0, Unmet,
         "ERROR: can not install a-1.0: b-2.0 is not installed, but is required\n"},
        {"b placeholder", "a deps=b", 0, Unmet,
         "ERROR: can not install a-1.0: b is not installed, but is required\n"},
        {"p provides=b", "a deps=b", 0, 0, ""},
        {"p provides=b disabled", "a deps=b", 0, Unmet,
         "ERROR: can not install a-1.0: b is not installed, but is required\n"},
        {"y", "a deps=x,y,z", 0, Unmet,
         "ERROR: can not install a-1.0: x is not installed, but is required\n"},
        {"c conflicts=a", "a", 0, Conflict,
         "ERROR: can not install a-1.0: it conflicts with c-1.0\n"},
        {"c conflicts=a disabled", "a", 0, 0, ""},
        {"c conflicts=a", "a", Conflict, Conflict, ""},
        {"c provides=a:0", "a", 0, Conflict,
         "ERROR: can not install a-1.0: it conflicts with c-1.0\n"},
        {"c provides=a:-1", "a", 0, 0, ""},
    });
}

TEST(InstallCheckTest, OnlyTheFirstUntoleratedConditionIsReported) {
    const FlashLimits floor640 = {parseVersion("6.40"), false};
    runCases({
        {"a 2.0", "a 1.0 deps=x", 0, Downgrade | Unmet,
         "WARNING: omitting package a-1.0: newer package a-2.0 is already installed\n"},
        {"c conflicts=a", "a arch=arm deps=x", 0, Unmet | Conflict,
         "ERROR: can not install a-1.0: it is not made for i386, but for arm\n"},
        {"c conflicts=a", "a arch=arm deps=x", Unmet, Unmet | Conflict,
         "ERROR: can not install a-1.0: it conflicts with c-1.0\n"},
        {"c conflicts=system", "system 6.39.5 arch=arm deps=x", 0, Unmet | Conflict,
         "ERROR: omitting package system-6.39.5: min Norvale version is 6.40\n", floor640},
        {"c conflicts=system", "system 6.39.5 arch=arm deps=x", Unmet, Unmet | Conflict,
         "ERROR: can not install system-6.39.5: it conflicts with c-1.0\n", floor640},
        {"a 1.0", "a 1.0 arch=arm", Reinstall, Reinstall | Unmet,
         "ERROR: can not install a-1.0: it is not made for i386, but for arm\n"},
        {"a 1.0", "a 2.0 arch=arm", 0, Upgrade | Unmet,
         "ERROR: can not install a-2.0: it is not made for i386, but for arm\n"},
    });
}

// Without the flash driver (or with something that is no driver in its place) there is
// no lowest version, and without an MTD device the erase blocks count as small.
TEST(InstallCheckTest, MissingOrForeignFlashDevicesSetNoLimit) {
    DeviceRoot root;
    EXPECT_TRUE(runInRoot(root.root(), [] {
        TestSet set;
        auto old = parseCandidate("system 0.1");
        EXPECT_EQ(lowestSystemVersion(), 0u);
        EXPECT_TRUE(checkSystemVersion(set, *old, true));
        EXPECT_EQ(checkInstall(set, *old, 0), 0u);
    }));
    root.writeFile("dev/flash", std::string(8, '\xff'));
    root.writeFile("dev/mtd0", std::string(64, '\xff'));
    EXPECT_TRUE(runInRoot(root.root(), [] {
        TestSet set;
        auto old = parseCandidate("system 0.1");
        EXPECT_EQ(lowestSystemVersion(), 0u);
        EXPECT_TRUE(checkSystemVersion(set, *old, true));
        EXPECT_TRUE(set.log.empty());
    }));
}
