// The checks of a package offered for installation against the installed packages, the
// system architecture and the flash hardware.
#pragma once

#include <string>

#include "pkg/package.h"
#include "pkg/package_set.h"

// What the flash hardware says about the system versions that it can boot.
struct FlashLimits {
    Version lowestSystemVersion = 0;  // 0: every version passes
    bool largeEraseBlocks = false;    // erase blocks of 256 KiB
};

// "system" and names beginning with "norvale" need a version the flash accepts.
bool needsSystemVersionCheck(const std::string& name);

// True when the flash accepts the package's version; the refusal is printed only when
// say is set. limits null means: ask the devices.
bool checkSystemVersion(PackageSet& set, const Package& package, bool say,
                        const FlashLimits* limits = nullptr);

// The conditions that stand against installing package (not yet in the set): Upgrade,
// Downgrade or Reinstall against an installed record of its name, Unmet, Conflict. At
// most one message is printed, for the first condition that the tolerated word lacks;
// an upgrade is never reported. limits null means: ask the devices.
InstallFlags checkInstall(PackageSet& set, const Package& package, InstallFlags tolerated,
                          const FlashLimits* limits = nullptr);
