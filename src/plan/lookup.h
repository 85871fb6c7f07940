// Lookups in the package set and the relations between packages: needs, displacement,
// version order across bundles, and the thinning and ordering of package lists.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "pkg/package.h"

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

// Some provides entry of package overlaps dependency.
bool providesOverlap(const Package& package, const Dependency& dependency);
// a, or a member of a, needs b or a member of b.
bool dependsOn(const Package& a, const Package& b);
// a displaces b: while a is active, b must not be. Not symmetric.
bool conflictsWith(const Package& a, const Package& b);
// The package, or one of its bundle members, is named name.
bool sharesName(const Package& package, const std::string& name);
// +1 when a is newer than b, -1 when older, 0 when equal or unrelated. A bundle is
// compared through its member of the other record's name.
int compareRecords(const Package& a, const Package& b);
// compareRecords(a, b), negated when reversed.
int compareRecordsReversed(const Package& a, const Package& b, bool reversed);

// No lower limit for selectAndOrder.
constexpr Version NoFloor = 0xFFFFFFFF;

// Thins list to one version per name (the newest, or with a floor the oldest that is
// not below it) and orders the survivors so that each follows the last entry it needs or
// that displaces it. Omissions are reported as warnings when report is set; entries
// below the floor always are.
void selectAndOrder(PackageSet& set, PackageList& list, Version floorVersion, bool report);
