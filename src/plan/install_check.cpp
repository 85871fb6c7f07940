// The checks of a package offered for installation.
#include "plan/install_check.h"

#include "plan/lookup.h"
#include "platform/board.h"

namespace {

// The last system version that can't live on flash with 256 KiB erase blocks (3.20rc1).
constexpr Version LastSmallBlockVersion = 0x03146301;

// Collects the result bits and lets only the first untolerated condition speak.
class CheckReport {
  public:
    explicit CheckReport(InstallFlags tolerated) : tolerated(tolerated) {}

    // A message for condition may be printed now; the caller prints it.
    bool mayReport(InstallFlags condition) const { return !(tolerated & condition) && !reported; }
    // Adds condition; true when its message is to be printed (and marks it printed).
    bool add(InstallFlags condition) {
        result |= condition;
        if (!mayReport(condition))
            return false;
        reported = true;
        return true;
    }

    InstallFlags result = 0;
    bool reported = false;

  private:
    InstallFlags tolerated;
};

void checkInstalledVersion(PackageSet& set, const Package& package, CheckReport& report) {
    if (sameName(package.name, "branding"))
        return;
    const InstalledPackage* old = findPackage(set, package.name);
    if (!old)
        return;
    int order = compareRecords(package, *old);
    // What a commit cut short left incomplete is installed again, in any version.
    if (order == 0 && old->incomplete)
        order = 1;
    if (order > 0) {
        report.result |= InstallFlag::Upgrade;
    } else if (order < 0) {
        if (report.add(InstallFlag::Downgrade)) {
            std::string oldText = packageText(*old);
            set.warning("omitting package %s: newer package %s is already installed",
                        packageText(package).c_str(), oldText.c_str());
        }
    } else if (report.add(InstallFlag::Reinstall)) {
        set.warning("omitting package %s: it is already installed", packageText(package).c_str());
    }
}

void checkSystem(PackageSet& set, const Package& package, const FlashLimits* limits,
                 CheckReport& report) {
    if (!needsSystemVersionCheck(package.name))
        return;
    bool say = report.mayReport(InstallFlag::Unmet);
    if (checkSystemVersion(set, package, say, limits))
        return;
    report.result |= InstallFlag::Unmet;
    if (say)
        report.reported = true;
}

void checkArchitecture(PackageSet& set, const Package& package, CheckReport& report) {
    if (package.arch.empty() || sameName(package.arch, set.arch))
        return;
    if (report.add(InstallFlag::Unmet))
        set.error("can not install %s: it is not made for %s, but for %s",
                  packageText(package).c_str(), set.arch.c_str(), package.arch.c_str());
}

// Only enabled records count; the first missing entry ends the check.
void checkRequired(PackageSet& set, const Package& package, CheckReport& report) {
    for (const Dependency& needed : package.deps) {
        if (!findSatisfying(set, needed, false).empty())
            continue;
        if (report.add(InstallFlag::Unmet))
            set.error("can not install %s: %s is not installed, but is required",
                      packageText(package).c_str(), dependencyText(needed).c_str());
        return;
    }
}

void checkConflicts(PackageSet& set, const Package& package, CheckReport& report) {
    const InstalledPackage* displacer = findConflicting(set, package);
    if (!displacer)
        return;
    if (report.add(InstallFlag::Conflict)) {
        std::string displacerText = packageText(*displacer);
        set.error("can not install %s: it conflicts with %s", packageText(package).c_str(),
                  displacerText.c_str());
    }
}

}  // namespace

bool needsSystemVersionCheck(const std::string& name) {
    return sameName(name, "system") || name.compare(0, 7, "norvale") == 0;
}

bool checkSystemVersion(PackageSet& set, const Package& package, bool say,
                        const FlashLimits* limits) {
    Version lowest = limits ? limits->lowestSystemVersion : lowestSystemVersion();
    if (package.version < lowest) {
        if (say) {
            std::string lowestText = versionText(lowest);
            set.error("omitting package %s: min Norvale version is %s",
                      packageText(package).c_str(), lowestText.c_str());
        }
        return false;
    }
    if (package.version > LastSmallBlockVersion)
        return true;
    bool largeBlocks = limits ? limits->largeEraseBlocks : hasLargeEraseBlocks();
    if (!largeBlocks)
        return true;
    if (say)
        set.warning("omitting package %s: it does not support current file system",
                    packageText(package).c_str());
    return false;
}

// The checks run in a fixed order, so that the message printed is that of the first
// condition found; later conditions only add their bits.
InstallFlags checkInstall(PackageSet& set, const Package& package, InstallFlags tolerated,
                          const FlashLimits* limits) {
    CheckReport report(tolerated);
    checkInstalledVersion(set, package, report);
    checkSystem(set, package, limits, report);
    checkArchitecture(set, package, report);
    checkRequired(set, package, report);
    checkConflicts(set, package, report);
    return report.result;
}
