// Relations between package records: what satisfies a dependency, what displaces what,
// what needs what, and which of two records is newer.
#pragma once

#include <string>

#include "pkg/package.h"

// The package has the dependency's name and a version within its bounds.
bool satisfies(const Package& package, const Dependency& dependency);
// Same names and intersecting ranges, a bound of 0 being open.
bool overlaps(const Dependency& a, const Dependency& b);
// By version, then build time: -1, 0 or +1.
int compareVersions(const Package& a, const Package& b);
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
