// The modes of a run that change the device: cleanup, install from standard input, and
// the default upgrade run. Each returns the exit status.
#pragma once

#include "pkg/package_set.h"

int runCleanupMode(PackageSet& set);
int runStdinMode(PackageSet& set, InstallFlags flags);
// commitNow false ("--safe") saves the staged changes to /ram/MANIFEST instead.
int runUpgradeMode(PackageSet& set, InstallFlags flags, bool commitNow);
