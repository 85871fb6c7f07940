// The index of the package set that the planning passes look records up in.
#include "plan/package_index.h"

#include <algorithm>

#include "pkg/package_set.h"
#include "plan/lookup.h"

namespace {

// Gathers positions from several lists into one ascending list without repeats.
class PositionUnion {
  public:
    void add(const Positions& positions) {
        merged.insert(merged.end(), positions.begin(), positions.end());
    }
    Positions take() {
        std::sort(merged.begin(), merged.end());
        merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
        return std::move(merged);
    }

  private:
    Positions merged;
};

}  // namespace

PackageIndex::PackageIndex(const PackageSet& set) {
    records.reserve(set.packages.size());
    for (size_t i = 0; i < set.packages.size(); ++i) {
        const InstalledPackage& package = *set.packages[i];
        records.push_back(set.packages[i].get());
        add(byName, package.name, i);
        for (const Dependency& provided : package.provides)
            add(byProvided, provided.name, i);
        for (const Dependency& conflict : package.conflicts)
            add(byConflict, conflict.name, i);
        if (!package.bundle.name.empty())
            add(byBundle, package.bundle.name, i);
        if (!package.contents.empty())
            withContents.push_back(i);
    }
}

void PackageIndex::add(NameMap& map, const std::string& name, size_t position) {
    Positions& positions = map[name];
    if (positions.empty() || positions.back() != position)
        positions.push_back(position);
}

const Positions& PackageIndex::lookup(const NameMap& map, const std::string& name) {
    static const Positions none;
    auto found = map.find(name);
    return found == map.end() ? none : found->second;
}

Positions PackageIndex::everything() const {
    Positions all(records.size());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    return all;
}

InstalledPackage* PackageIndex::find(const std::string& name) const {
    const Positions& named = lookup(byName, name);
    return named.empty() ? nullptr : records[named.front()];
}

// A record satisfies or overlaps a dependency only through its own name or a provided
// name equal to the dependency's.
Positions PackageIndex::satisfying(const Dependency& dependency, bool includeDisabled) const {
    PositionUnion candidates;
    candidates.add(lookup(byName, dependency.name));
    candidates.add(lookup(byProvided, dependency.name));
    Positions found;
    for (size_t position : candidates.take()) {
        const InstalledPackage& package = *records[position];
        if (package.isPlaceholder())
            continue;
        if (!satisfies(package, dependency) && !providesOverlap(package, dependency))
            continue;
        if (package.disabled && !includeDisabled)
            continue;
        found.push_back(position);
    }
    return found;
}

// conflictsWith(a, b) can only hold through a name that a and b share in one of these
// ways: a's conflicts or provides name b, b provides a's name or a name that a provides
// or conflicts with, or b is a bundle file; a bundle file a may displace anything.
Positions PackageIndex::mayBeDisplacedBy(const Package& a) const {
    if (a.isPlaceholder())
        return Positions();
    if (!a.contents.empty())
        return everything();
    PositionUnion found;
    found.add(lookup(byProvided, a.name));
    for (const Dependency& conflict : a.conflicts) {
        found.add(lookup(byName, conflict.name));
        found.add(lookup(byProvided, conflict.name));
    }
    for (const Dependency& provided : a.provides) {
        found.add(lookup(byName, provided.name));
        found.add(lookup(byProvided, provided.name));
    }
    found.add(withContents);
    return found.take();
}

// The same relations seen from b.
Positions PackageIndex::mayDisplace(const Package& b) const {
    if (b.isPlaceholder())
        return Positions();
    PositionUnion found;
    found.add(lookup(byConflict, b.name));
    found.add(lookup(byProvided, b.name));
    for (const Dependency& provided : b.provides) {
        found.add(lookup(byName, provided.name));
        found.add(lookup(byProvided, provided.name));
        found.add(lookup(byConflict, provided.name));
    }
    for (const auto& member : b.contents)
        found.add(lookup(byName, member->name));
    found.add(withContents);
    return found.take();
}

const Positions& PackageIndex::membersOf(const std::string& name) const {
    return lookup(byBundle, name);
}
