// An index of the package set by name, provided name, conflicts name and bundle name, so
// that the planning passes find the records that matter without scanning the whole set.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "pkg/package.h"

class PackageSet;

// Positions in the set's packages, ascending.
using Positions = std::vector<size_t>;

// Valid while no record joins or leaves the set and no name or list of a record changes;
// actions and states may change freely. Every answer is in set order and equals that of
// the scanning lookup it stands for.
class PackageIndex {
  public:
    explicit PackageIndex(const PackageSet& set);

    size_t size() const { return records.size(); }
    InstalledPackage& at(size_t position) const { return *records[position]; }

    // The first record named name, as findPackage gives it.
    InstalledPackage* find(const std::string& name) const;
    // The records that findSatisfying gives for dependency.
    Positions satisfying(const Dependency& dependency, bool includeDisabled) const;
    // Every record b for which conflictsWith(package, b) can hold (and some for which it
    // does not).
    Positions mayBeDisplacedBy(const Package& package) const;
    // Every record a for which conflictsWith(a, package) can hold (and some more).
    Positions mayDisplace(const Package& package) const;
    // The records that name a bundle of this name.
    const Positions& membersOf(const std::string& name) const;

  private:
    using NameMap = std::unordered_map<std::string, Positions>;

    static void add(NameMap& map, const std::string& name, size_t position);
    static const Positions& lookup(const NameMap& map, const std::string& name);
    Positions everything() const;

    std::vector<InstalledPackage*> records;
    NameMap byName;
    NameMap byProvided;
    NameMap byConflict;
    NameMap byBundle;
    Positions withContents;
};
