// Lookups in the package set and the relations between packages: needs, displacement,
// version order across bundles, and the thinning and ordering of package lists.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "pkg/package.h"
#include "pkg/relations.h"

class PackageSet;

// A list of packages to install or enable, in that order. The pointers do not own.
using PackageList = std::list<Package*>;

// The index of the first record named name in the set; -1 when there is none.
int indexOfPackage(const PackageSet& set, const std::string& name);
// The first record named name, or null.
InstalledPackage* findPackage(const PackageSet& set, const std::string& name);
// The first enabled record named name or providing it; failing that, the last disabled
// one; null when nothing matches.
InstalledPackage* findPackageOrProvider(const PackageSet& set, const std::string& name);
// The records that satisfy dependency or provide a name overlapping it, in set order.
// Placeholders never count; disabled records only when includeDisabled is set.
std::vector<InstalledPackage*> findSatisfying(const PackageSet& set, const Dependency& dependency,
                                              bool includeDisabled);
// The first enabled record that displaces package, or null.
InstalledPackage* findConflicting(const PackageSet& set, const Package& package);

// No lower limit for selectAndOrder.
constexpr Version NoFloor = 0xFFFFFFFF;

// Thins list to one version per name (the newest, or with a floor the oldest that is
// not below it) and orders the survivors so that each follows the last entry it needs or
// that displaces it. Omissions are reported as warnings when report is set; entries
// below the floor always are.
void selectAndOrder(PackageSet& set, PackageList& list, Version floorVersion, bool report);
